// Sending frames and the log-on/log-off frame.
#include "tarvpcan3.h"

#include "apibinding.h"
#include "clockmath.h"
#include "exportguard.h"
#include "lineaccess.h"

#include <cstdio>

using namespace tarvpcan3;

namespace {

constexpr uint16_t kRtrStandardBit = 0x400;
constexpr uint8_t kLogOnCommand = 0xD8;
constexpr uint32_t kLogOnSettleMicros = 200;

unsigned lineOf(uint16_t addressWord)
{
    return addressWord >> kFirstLineBit;
}

// A line opened for 29-bit frames as the lowest line takes every frame.
std::shared_ptr<LineRecord> sendLineFor(uint16_t addressWord)
{
    const auto first = lineTable().first();
    if (first && first->isOpen() && first->sendType() == kExtendedSendType)
        return first;
    return openRecord(static_cast<int32_t>(lineOf(addressWord)));
}

void sendAndReport(const LineRecord &record, const ApiFrame &frame, ApiTimeStamp stamp, char *text)
{
    api().sendFrame(record.client(), record.net(), &frame, &stamp);
    if (text != nullptr)
        writeSendTime(stamp, clockBase(), text, TARVPCAN3_SEND_TEXT_SIZE);
}

void sendData(uint16_t addressWord, const uint8_t *frame, char *text)
{
    const auto record = sendLineFor(addressWord);
    // No data is no frame: one of length 0 would still reach the modules.
    if (!record || frame == nullptr) {
        writeClosedLineTime(text);
        return;
    }
    const uint8_t type = lineOf(addressWord) == 0 ? 0 : record->sendType();
    sendAndReport(*record, dataFrameFrom(addressWord, type, frame), ApiTimeStamp{}, text);
}

void sendRemoteRequest(uint16_t addressWord, char *text)
{
    const auto record = openRecord(static_cast<int32_t>(lineOf(addressWord)));
    if (!record) {
        writeClosedLineTime(text);
        return;
    }
    ApiFrame frame{};
    frame.id = addressWord & 0x7FFu;
    frame.type = (addressWord & kRtrStandardBit) != 0 ? API_FRAME_RTR
                                                      : static_cast<uint8_t>(record->sendType() | API_FRAME_RTR);
    sendAndReport(*record, frame, ApiTimeStamp{}, text);
}

void sendLogOn(uint16_t addressWord, uint8_t on, char *text)
{
    ApiFrame frame{};
    frame.id = addressWord & 0x7FFu;
    frame.length = 2;
    frame.data[0] = kLogOnCommand;
    frame.data[1] = on != 0 ? 1 : 0;
    ApiTimeStamp stamp{};
    api().readClock(&stamp);
    stamp.millis += ParseTimeText(text, TARVPCAN3_SEND_TEXT_SIZE);
    const auto record = openRecord(static_cast<int32_t>(lineOf(addressWord)));
    if (!record) {
        writeClosedLineTime(text);
        return;
    }
    api().sendFrame(record->client(), record->net(), &frame, &stamp);
    if (text != nullptr) {
        const ClockBase base = clockBase();
        char sendTime[kTimeTextLength + 1];
        writeSendTime(stamp, base, sendTime, sizeof sendTime);
        std::snprintf(text, TARVPCAN3_SEND_TEXT_SIZE, "%s%u", sendTime,
                      static_cast<unsigned>(microsDistance(stamp, base.stamp)));
    }
    CanDelayUS(kLogOnSettleMicros);
}

// A send that threw answers like one that found no line.
auto sendFailure(char *text)
{
    return [text] { writeClosedLineTime(text); };
}

} // namespace

extern "C" void Write2Can(uint16_t addressWord, const uint8_t *frame, char *text)
{
    guardExport("Write2Can", sendFailure(text), [&] { sendData(addressWord, frame, text); });
}

extern "C" void Write2CanRtr(uint16_t addressWord, char *text)
{
    guardExport("Write2CanRtr", sendFailure(text), [&] { sendRemoteRequest(addressWord, text); });
}

extern "C" void LogOnOff(uint16_t addressWord, uint8_t on, char *text)
{
    guardExport("LogOnOff", sendFailure(text), [&] { sendLogOn(addressWord, on, text); });
}
