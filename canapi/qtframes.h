// How frames and bus states of the interface read in QtSerialBus's terms
// and back.
#pragma once

#include "canapi.h"

#include <cstdint>

class QCanBusFrame;

namespace canapi {

// QtSerialBus devices report their state coarser than the adapter's status
// word; this is the word each state reads as.
uint16_t statusWordOf(int canBusStatus);

// The frame QtSerialBus gets for frame: the format is set explicitly, since
// setFrameId() alone switches to 29 bits above 0x7FF.
QCanBusFrame toQtFrame(const ApiFrame &frame);
// False for frames the interface does not pass on (errors, CAN FD, own echo).
bool fromQtFrame(const QCanBusFrame &frame, ApiFrame *out);

} // namespace canapi
