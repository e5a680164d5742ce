#include "candumplog.h"

#include <algorithm>
#include <cctype>

namespace testkit {

namespace {

bool parseStamp(const QByteArray &field, qint64 *us)
{
    if (field.size() < 10 || !field.startsWith('(') || !field.endsWith(')'))
        return false;
    const QList<QByteArray> parts = field.mid(1, field.size() - 2).split('.');
    if (parts.size() != 2 || parts[1].size() != 6)
        return false;
    bool secondsOk = false;
    bool microsOk = false;
    const qint64 seconds = parts[0].toLongLong(&secondsOk);
    const qint64 micros = parts[1].toLongLong(&microsOk);
    *us = seconds * 1000000 + micros;
    return secondsOk && microsOk;
}

bool parseBody(const QByteArray &body, LoggedFrame *frame)
{
    const int hash = body.indexOf('#');
    if (hash != 3 && hash != 8)
        return false;
    bool ok = false;
    frame->id = body.left(hash).toUInt(&ok, 16);
    constexpr uint32_t ErrorFlag = 0x20000000;
    frame->error = hash == 8 && (frame->id & ErrorFlag) != 0 && frame->id < 2 * ErrorFlag;
    frame->id &= frame->error ? ~ErrorFlag : ~0u;
    frame->extended = hash == 8 && !frame->error;
    if (!ok || (!frame->extended && frame->id > 0x7FF) || frame->id > 0x1FFFFFFF)
        return false;
    const QByteArray payload = body.mid(hash + 1);
    if (payload.startsWith('R')) {
        frame->remote = true;
        return payload.size() <= 2;
    }
    if (payload.size() % 2 != 0 || payload.size() > 16)
        return false;
    for (char c : payload) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    frame->data = QByteArray::fromHex(payload);
    return true;
}

} // namespace

CandumpLog readCandumpLog(const QByteArray &text, const QString &interfaceName)
{
    CandumpLog log;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(' ');
        LoggedFrame frame;
        if (fields.size() != 3 || !parseStamp(fields[0], &frame.timeUs) || !parseBody(fields[2], &frame)) {
            log.badLine = i + 1;
            log.problem =
                QStringLiteral("not a candump log frame: \"%1\"").arg(QString::fromLatin1(line.left(80)));
            return log;
        }
        frame.interfaceName = QString::fromLatin1(fields[1]);
        frame.index = int(log.frames.size());
        if (interfaceName.isEmpty() || frame.interfaceName == interfaceName)
            log.frames.append(frame);
    }
    std::stable_sort(log.frames.begin(), log.frames.end(),
                     [](const LoggedFrame &a, const LoggedFrame &b) { return a.timeUs < b.timeUs; });
    return log;
}

} // namespace testkit
