// The trace and statistics places of a bench may name the run they record:
//
//   %t   the local time the run started, YYYYMMDD-HHMMSS
//   %u   the name of the user running it
//   %%   a percent sign
//
// A place without %t is one file, replaced by every run. A place with %t is
// a new file for each run: it is created here, never over an existing one,
// and a run that starts in the same second as another gets "-2", "-3", ...
// after its time.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

namespace canapi {

struct RunStamp
{
    QDateTime start; // local time
    QString user;    // as it goes into a file name

    static RunStamp now();
};

// The user's name as a name within a path: anything but letters, digits,
// '.', '_' and '-' becomes '_', and a name of dots only becomes underscores.
QString fileNameOfUser(const QString &user);

// The place with its placeholders filled in; sequence 2 and above follows the
// time as "-N". Empty with the reason in problem for an unknown placeholder.
QString expandPlace(const QString &place, const RunStamp &stamp, int sequence, QString *problem);

// Why the text is no place (an unknown placeholder); empty when it is one.
QString placeholderProblem(const QString &place);

// The places of one run. Adapters naming the same place share its file.
class RunPlaces
{
public:
    explicit RunPlaces(RunStamp stamp);
    // The file the place names in this run; "PATH: reason" in problem when
    // a file naming the run's time cannot be created.
    QString resolve(const QString &place, QString *problem);

private:
    QString createNew(const QString &place, QString *problem) const;

    RunStamp stamp_;
    QHash<QString, QString> resolved_;
};

} // namespace canapi
