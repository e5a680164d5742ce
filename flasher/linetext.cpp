#include "linetext.h"

namespace linetext {

QByteArray normalise(const QByteArray &rawLine)
{
    return rawLine.simplified() + "\r\n";
}

QByteArray withoutLineEnd(const QByteArray &line)
{
    return line.endsWith("\r\n") ? line.chopped(2) : line;
}

} // namespace linetext
