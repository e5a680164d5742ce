#include "progressline.h"

#include "linetext.h"

namespace progressline {

namespace {
constexpr int ShownCharacters = 30;

double share(qint64 position, qint64 size)
{
    return size > 0 ? double(position) * 100.0 / double(size) : 100.0;
}
} // namespace

int percent(qint64 position, qint64 size)
{
    return static_cast<int>(share(position, size) + 0.5);
}

QString line(bool flashing, uint16_t moduleId, qint64 position, qint64 size, const QByteArray &firmwareLine)
{
    return QString::fromLatin1(flashing ? "Flash " : "Compare ") + QLatin1String("ID ")
           + QString::number(moduleId, 16) + u' ' + QString::number(share(position, size) + 0.05, 'f', 1)
           + QLatin1String("% ")
           + QString::fromLatin1(linetext::withoutLineEnd(firmwareLine).left(ShownCharacters));
}

} // namespace progressline
