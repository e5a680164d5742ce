#include "aboutbox.h"

#include <QCoreApplication>
#include <QProcess>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString consoleVersion(const QString &flasherProgram)
{
    QProcess query;
    query.start(flasherProgram, {QStringLiteral("--version")});
    const bool answered =
        query.waitForFinished(10000) && query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0;
    if (query.state() != QProcess::NotRunning)
        query.kill();
    if (answered)
        return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
    return tr("%1 --version gave no answer: %2")
        .arg(flasherProgram, query.error() == QProcess::UnknownError
                                 ? QString::fromLocal8Bit(query.readAllStandardError()).trimmed()
                                 : query.errorString());
}

} // namespace

QString aboutText(const QString &flasherProgram)
{
    return tr("tarvCanFlashGui %1\n\n%2").arg(QStringLiteral(TARV_VERSION), consoleVersion(flasherProgram));
}
