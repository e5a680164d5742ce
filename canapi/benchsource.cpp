#include "benchsource.h"

#include "autodetect.h"
#include "canapi.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <QVariant>

#include <dlfcn.h>

#include <cstdio>

namespace canapi {

namespace {

QString libraryFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&CanApi_LoadDriver), &info) == 0 || info.dli_fname == nullptr)
        return QString();
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
}

} // namespace

void noteBenchPlace(const QString &text)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (app != nullptr && QThread::currentThread() == app->thread())
        app->setProperty("tarvcanapi.bench", text);
}

BenchConfig environmentBench()
{
    BenchConfig bench;
    const QString folder = libraryFolder();
    const QString path = benchFilePath(qEnvironmentVariable("TARVCAN_CONFIG"),
                                       {folder.isEmpty() ? QString() : folder + QStringLiteral("/tarvcan.ini"),
                                        QString::fromLatin1(SystemBenchPath)});
    if (path.isEmpty())
        return detectBench();
    QString error;
    if (!loadBenchConfig(path, &bench, &error)) {
        std::fprintf(stderr, "tarvcanapi: %s\n", qPrintable(error));
        std::fprintf(stderr, "tarvcanapi: no CAN adapter is offered\n");
        noteBenchPlace(error);
        return BenchConfig();
    }
    if (bench.adapters.isEmpty()) {
        std::fprintf(
            stderr,
            "tarvcanapi: %s: the bench file has no [adapter.NAME] section, so no CAN adapter is offered\n",
            qPrintable(path));
        noteBenchPlace(path + QStringLiteral(": the bench file has no [adapter.NAME] section"));
    }
    return bench;
}

} // namespace canapi
