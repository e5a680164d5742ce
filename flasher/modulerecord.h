// What the flasher knows about one module on the line.
#pragma once

#include <QString>

#include <cstdint>
#include <deque>

struct ModuleRecord
{
    uint16_t id = 0; // the table's key
    uint8_t deviceClass = 0;
    uint32_t serialNumber = 0;
    QString firmwareReleaseStr;
    int32_t firmwareRelease = 0;
    QString firmwareName;
    uint8_t channelNumber = 0;
    bool informed = false; // its device information came
    bool updateReady = false;
    bool flashFrameAcked = false;
    bool loggedOn = false;
    bool reupdate = false;
    bool done = false;
    bool skipped = false;
    // Gave up on: no answer within a bound, too many refusals or restarts.
    bool failed = false;
    QString reason;             // why it was given up or skipped
    std::deque<uint8_t> errors; // status codes, oldest first

    // The oldest status code; false when none is queued.
    bool takeError(uint8_t &code)
    {
        if (errors.empty())
            return false;
        code = errors.front();
        errors.pop_front();
        return true;
    }
};
