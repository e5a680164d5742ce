// Running the probe program and other processes from tests.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace canapitest {

struct ProcessResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

inline ProcessResult runProcess(const QString &program, const QStringList &args, const QProcessEnvironment &env,
                                int timeoutMs = 20000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    ProcessResult r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("timed out");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

inline QProcessEnvironment environmentWith(const QString &config)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("TARVCAN_CONFIG"));
    if (!config.isNull())
        env.insert(QStringLiteral("TARVCAN_CONFIG"), config);
    return env;
}

// A TCP port on the loopback interface that nothing listens on right now.
inline int freePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int port = 0;
    socklen_t len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(s);
    return port;
}

} // namespace canapitest
