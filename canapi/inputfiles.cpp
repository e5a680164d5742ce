#include "inputfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace canapi {

namespace {

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

bool statOf(const QString &path, struct stat *st)
{
    return ::stat(QFile::encodeName(path).constData(), st) == 0;
}

} // namespace

InputFiles InputFiles::ofProcess(const QString &benchFile)
{
    InputFiles inputs;
    if (!benchFile.isEmpty())
        inputs.add(benchFile, QStringLiteral("is the bench file itself"));
    // The stand-in runs inside its caller and knows nothing of its files but
    // what the command line names.
    if (QCoreApplication::instance() == nullptr)
        return inputs;
    for (const QString &argument : QCoreApplication::arguments()) {
        struct stat st
        {};
        if (!argument.isEmpty() && statOf(argument, &st) && S_ISREG(st.st_mode))
            inputs.add(argument,
                       QStringLiteral("is a file named on the program's command line, which the run reads"));
    }
    return inputs;
}

void InputFiles::add(const QString &path, const QString &what)
{
    Input input{cleanAbsolute(path), what};
    struct stat st
    {};
    if (statOf(path, &st)) {
        input.exists = true;
        input.device = st.st_dev;
        input.inode = st.st_ino;
    }
    inputs_.append(input);
}

QString InputFiles::whatIs(const QString &place) const
{
    struct stat st
    {};
    const bool exists = statOf(place, &st);
    const QString path = cleanAbsolute(place);
    for (const Input &input : inputs_) {
        const bool same = exists ? input.exists && input.device == st.st_dev && input.inode == st.st_ino
                                 : !input.exists && input.path == path;
        if (same)
            return input.what;
    }
    return QString();
}

} // namespace canapi
