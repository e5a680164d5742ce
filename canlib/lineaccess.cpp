#include "lineaccess.h"

#include "clockmath.h"

#include <cstdio>

namespace tarvpcan3 {

std::shared_ptr<LineRecord> openRecord(int32_t line)
{
    auto record = lineTable().find(line);
    return record && record->isOpen() ? record : nullptr;
}

void writeClosedLineTime(char *text)
{
    if (text != nullptr)
        std::snprintf(text, sizeof kClosedLineTime, "%s", kClosedLineTime);
}

void writeSendTime(const ApiTimeStamp &sent, const ClockBase &base, char *text, std::size_t size)
{
    FormatTimeText(sendElapsedMs(sent, base.stamp), base.wall, text, size);
}

} // namespace tarvpcan3
