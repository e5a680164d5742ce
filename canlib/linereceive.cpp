// Taking received frames from a line's queue.
#include "tarvpcan3.h"

#include "clockmath.h"
#include "exportguard.h"
#include "lineaccess.h"

using namespace tarvpcan3;

namespace {

enum class Take { LineClosed, QueueEmpty, Taken };

ApiTimeStamp stampOf(const RxRecord &record)
{
    return ApiTimeStamp{record.millis, record.millisOverflow, record.micros};
}

Take takeFrame(uint16_t line, uint16_t *id, uint8_t *frame, char *text, RxRecord &record, ClockBase &base)
{
    const auto owner = openRecord(line);
    if (!owner)
        return Take::LineClosed;
    if (!owner->take(record))
        return Take::QueueEmpty;
    base = clockBase();
    unpackRxRecord(record, id, frame);
    FormatTimeText(stampElapsedMs(stampOf(record), base.stamp), base.wall, text, TARVPCAN3_READ_TEXT_SIZE);
    return Take::Taken;
}

} // namespace

extern "C" uint8_t ReadfBuff(uint16_t line, uint16_t *id, uint8_t *frame, char *text)
{
    return guardExport("ReadfBuff", uint8_t{0}, [&]() -> uint8_t {
        RxRecord record;
        ClockBase base;
        return takeFrame(line, id, frame, text, record, base) == Take::Taken ? 1 : 0;
    });
}

extern "C" uint8_t ReadfBuffFTime(uint16_t line, uint16_t *id, uint8_t *frame, char *text, uint64_t *fileTime)
{
    return guardExport("ReadfBuffFTime", uint8_t{0}, [&]() -> uint8_t {
        RxRecord record;
        ClockBase base;
        const Take taken = takeFrame(line, id, frame, text, record, base);
        if (taken == Take::LineClosed)
            writeClosedLineTime(text);
        if (taken != Take::Taken)
            return 0;
        if (fileTime != nullptr)
            *fileTime = static_cast<uint64_t>(receptionFileTime(stampOf(record), base.stamp, base.fileTime));
        return 1;
    });
}

extern "C" uint8_t WaitForFrame(uint16_t line, uint32_t timeoutMs)
{
    return guardExport("WaitForFrame", uint8_t{0}, [&]() -> uint8_t {
        const auto record = openRecord(line);
        if (!record)
            return 0;
        return record->waitForFrame(std::chrono::milliseconds(timeoutMs)) ? 1 : 0;
    });
}
