// Helpers shared by the exported calls.
#pragma once

#include "clockbase.h"
#include "linetable.h"

#include <cstddef>
#include <memory>

namespace tarvpcan3 {

// The line's record while it is open, else null.
std::shared_ptr<LineRecord> openRecord(int32_t line);

// "00:00:00.000", the answer of calls that find no open line.
void writeClosedLineTime(char *text);

// Time text of a send time stamp the interface gave back.
void writeSendTime(const ApiTimeStamp &sent, const ClockBase &base, char *text, std::size_t size);

} // namespace tarvpcan3
