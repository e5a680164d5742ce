// The files a run reads, which no output place of the bench may be: the
// bench file, and every regular file named on the program's command line
// (the console program's firmware file among them). One file, however it is
// named (a link, "..", a hard link), is one device and inode; a place that
// does not exist yet is compared by its clean absolute path.
#pragma once

#include <QList>
#include <QString>

#include <sys/types.h>

namespace canapi {

class InputFiles
{
public:
    // The bench file (empty: the bench came as text) and, when the process
    // has a Qt application object, the regular files among its arguments.
    static InputFiles ofProcess(const QString &benchFile);

    void add(const QString &path, const QString &what);
    // What the place is among the inputs, as "is ..."; empty when none.
    QString whatIs(const QString &place) const;

private:
    struct Input
    {
        QString path; // clean, absolute
        QString what;
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
    };
    QList<Input> inputs_;
};

} // namespace canapi
