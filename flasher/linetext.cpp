#include "linetext.h"

namespace linetext {

namespace {
constexpr int ShownCharacters = 30;

double share(qint64 position, qint64 size)
{
    return size > 0 ? double(position) * 100.0 / double(size) : 100.0;
}
} // namespace

QByteArray normalise(const QByteArray &rawLine)
{
    return rawLine.simplified() + "\r\n";
}

QByteArray withoutLineEnd(const QByteArray &line)
{
    return line.endsWith("\r\n") ? line.chopped(2) : line;
}

int progressPercent(qint64 position, qint64 size)
{
    return static_cast<int>(share(position, size) + 0.5);
}

QString progressLine(bool flashing, uint16_t moduleId, qint64 position, qint64 size,
                     const QByteArray &line)
{
    return QString::fromLatin1(flashing ? "Flash " : "Compare ") + QLatin1String("ID ")
           + QString::number(moduleId, 16) + u' ' + QString::number(share(position, size) + 0.05, 'f', 1)
           + QLatin1String("% ") + QString::fromLatin1(withoutLineEnd(line).left(ShownCharacters));
}

} // namespace linetext
