#include "modulesimprocess.h"

#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testkit {

bool ModuleSimProcess::start(const QString &program, const QStringList &args, const QString &logPath,
                             QString *problem)
{
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(logPath);
    process_.start(program, args);
    if (!process_.waitForStarted()) {
        *problem = QStringLiteral("cannot start ") + program;
        return false;
    }
    for (int waited = 0; waited < 300; ++waited) {
        QFile log(logPath);
        if (log.open(QIODevice::ReadOnly) && log.readAll().contains("tarvModuleSim ready on"))
            return true;
        if (process_.waitForFinished(100))
            break;
    }
    QFile log(logPath);
    *problem = QStringLiteral("tarvModuleSim did not come up: ")
               + QString::fromLocal8Bit(log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray());
    return false;
}

bool ModuleSimProcess::stop()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(30000)) {
            process_.kill();
            process_.waitForFinished();
            return false;
        }
    }
    return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}

QString freeVirtualCanInterface()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        close(fd);
    return QStringLiteral("tcp://127.0.0.1:%1/can0").arg(port);
}

} // namespace testkit
