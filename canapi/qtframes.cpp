#include "qtframes.h"

#include "bustiming.h"

#include <QByteArray>
#include <QCanBusDevice>
#include <QCanBusFrame>

#include <algorithm>

namespace canapi {

uint16_t statusWordOf(int canBusStatus)
{
    switch (static_cast<QCanBusDevice::CanBusStatus>(canBusStatus)) {
    case QCanBusDevice::CanBusStatus::Warning:
        return 0x0004;
    case QCanBusDevice::CanBusStatus::Error:
        return 0x0008;
    case QCanBusDevice::CanBusStatus::BusOff:
        return static_cast<uint16_t>(API_ERR_BUSOFF);
    case QCanBusDevice::CanBusStatus::Good:
    case QCanBusDevice::CanBusStatus::Unknown:
        break;
    }
    return 0;
}

QCanBusFrame toQtFrame(const ApiFrame &frame)
{
    const bool remote = (frame.type & API_FRAME_RTR) != 0;
    const int length = std::min<int>(frame.length, 8);
    QCanBusFrame qf(remote ? QCanBusFrame::RemoteRequestFrame : QCanBusFrame::DataFrame);
    qf.setFrameId(wireId(frame));
    qf.setExtendedFrameFormat((frame.type & API_FRAME_EXT) != 0);
    if (remote)
        qf.setPayload(QByteArray(length, '\0'));
    else
        qf.setPayload(QByteArray(reinterpret_cast<const char *>(frame.data), length));
    return qf;
}

bool fromQtFrame(const QCanBusFrame &qf, ApiFrame *out)
{
    const auto type = qf.frameType();
    if (type != QCanBusFrame::DataFrame && type != QCanBusFrame::RemoteRequestFrame)
        return false;
    if (qf.hasFlexibleDataRateFormat() || qf.hasLocalEcho() || qf.payload().size() > 8)
        return false;
    ApiFrame f{};
    f.type = static_cast<uint8_t>((qf.hasExtendedFrameFormat() ? API_FRAME_EXT : 0u)
                                  | (type == QCanBusFrame::RemoteRequestFrame ? API_FRAME_RTR : 0u));
    f.id = qf.frameId() & (qf.hasExtendedFrameFormat() ? 0x1FFFFFFFu : 0x7FFu);
    const QByteArray payload = qf.payload();
    f.length = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), reinterpret_cast<char *>(f.data));
    *out = f;
    return true;
}

} // namespace canapi
