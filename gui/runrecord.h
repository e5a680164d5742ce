#pragma once

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;

// A file of its own for every run and scan: the console program's whole
// output, kept after the window is gone, for the questions that come days
// later. Writing it never stops a run; the first failure of a record is
// kept as error() and announced once.
class RunRecord : public QObject
{
    Q_OBJECT

public:
    static constexpr int kept = 100;

    // An empty folder is the user's data folder for this program.
    explicit RunRecord(const QString &folder = {}, QObject *parent = nullptr);
    ~RunRecord() override;

    QString folder() const { return dir; }
    // The latest record's path; empty before the first.
    QString path() const { return current; }
    // Why the latest record is missing or incomplete; empty while it is whole.
    QString error() const { return failure; }

    // Ends a record still open, then starts the next one.
    bool begin(const QDateTime &startTime, const QString &commandLine);
    void append(const QString &line);
    // The last line, how the run ended; the record is then closed.
    void end(const QString &how);

signals:
    void started(const QString &path);
    void failed(const QString &error);

private:
    bool createFile(const QDateTime &startTime);
    void write(const QString &line);
    void fail(const QString &where, const QString &reason);
    void prune();

    QString dir;
    QString current;
    QString failure;
    QFile file;
};

// run-20261209-093012-123.log, then with -2, -3... when that name is taken.
QString recordFileName(const QDateTime &startTime, int attempt);
// Of the record files among names, the oldest beyond the newest keep; other
// names are left alone.
QStringList recordsToRemove(QStringList names, int keep);
// Program and arguments as typed in a shell, those with blanks in quotes.
QString commandLineText(const QString &program, const QStringList &arguments);
// How a finished or never started child ended. A crash while the window
// was ending or stopping the run is the window's kill.
QString runEndText(const QProcess &process, bool endedByWindow);
