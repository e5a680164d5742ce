#include "apibinding.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tarvpcan3 {

#ifdef _WIN32

namespace {

// Entries the DLL does not provide answer like a missing driver, so that no
// caller ever jumps through a null pointer.
ApiResult missingText(const char *)
{
    return API_ERR_NODRIVER;
}
ApiResult missingParam(uint8_t, uint16_t, void *, uint16_t)
{
    return API_ERR_NODRIVER;
}
ApiResult missingDriverRead(uint16_t, void *, uint16_t)
{
    return API_ERR_NODRIVER;
}
ApiResult missingDriverWrite(uint16_t, uint32_t)
{
    return API_ERR_NODRIVER;
}
ApiResult missingClientWrite(uint8_t, uint16_t, uint32_t)
{
    return API_ERR_NODRIVER;
}
ApiResult missingRegisterNet(uint8_t, const char *, uint8_t, uint16_t)
{
    return API_ERR_NODRIVER;
}
ApiResult missingRegisterClient(const char *, uint32_t, uint8_t *)
{
    return API_ERR_NODRIVER;
}
ApiResult missingConnect(uint8_t, const char *, uint8_t *)
{
    return API_ERR_NODRIVER;
}
ApiResult missingRange(uint8_t, uint8_t, const ApiRangeBound *, const ApiRangeBound *)
{
    return API_ERR_NODRIVER;
}
ApiResult missingHandle(uint8_t)
{
    return API_ERR_NODRIVER;
}
ApiResult missingPair(uint8_t, uint8_t)
{
    return API_ERR_NODRIVER;
}
ApiResult missingClock(ApiTimeStamp *)
{
    return API_ERR_NODRIVER;
}
ApiResult missingRead(uint8_t, ApiFrame *, uint8_t *, ApiTimeStamp *)
{
    return API_ERR_NODRIVER;
}
ApiResult missingSend(uint8_t, uint8_t, const ApiFrame *, ApiTimeStamp *)
{
    return API_ERR_NODRIVER;
}

template <typename Fn>
void bind(HMODULE dll, int ordinal, Fn &slot, Fn fallback)
{
    FARPROC proc = dll != nullptr ? GetProcAddress(dll, MAKEINTRESOURCEA(ordinal)) : nullptr;
    slot = proc != nullptr ? reinterpret_cast<Fn>(reinterpret_cast<void *>(proc)) : fallback;
}

CanApiOps bindOps()
{
    HMODULE dll = LoadLibraryA("CANAPI2.dll");
    CanApiOps ops{};
    bind(dll, 28, ops.loadDriver, &missingText);
    bind(dll, 10, ops.readHwParam, &missingParam);
    bind(dll, 11, ops.readNetParam, &missingParam);
    bind(dll, 4, ops.readClientParam, &missingParam);
    bind(dll, 8, ops.readDriverParam, &missingDriverRead);
    bind(dll, 29, ops.writeDriverParam, &missingDriverWrite);
    bind(dll, 27, ops.writeClientParam, &missingClientWrite);
    bind(dll, 20, ops.registerNet, &missingRegisterNet);
    bind(dll, 16, ops.registerClient, &missingRegisterClient);
    bind(dll, 2, ops.connectClient, &missingConnect);
    bind(dll, 19, ops.registerMsgRange, &missingRange);
    bind(dll, 24, ops.resetClient, &missingHandle);
    bind(dll, 25, ops.resetHardware, &missingHandle);
    bind(dll, 21, ops.removeClient, &missingHandle);
    bind(dll, 3, ops.detachClient, &missingPair);
    bind(dll, 23, ops.removeNet, &missingHandle);
    bind(dll, 22, ops.removeHardware, &missingHandle);
    bind(dll, 12, ops.readClock, &missingClock);
    bind(dll, 14, ops.readFrame, &missingRead);
    bind(dll, 32, ops.readBusStatus, &missingHandle);
    bind(dll, 34, ops.sendFrame, &missingSend);
    return ops;
}

const CanApiOps &boundOps()
{
    static const CanApiOps ops = bindOps();
    return ops;
}

} // namespace

#else

namespace {

const CanApiOps &boundOps()
{
    static const CanApiOps ops = {
        .loadDriver = &CanApi_LoadDriver,
        .readHwParam = &CanApi_ReadHwParam,
        .readNetParam = &CanApi_ReadNetParam,
        .readClientParam = &CanApi_ReadClientParam,
        .readDriverParam = &CanApi_ReadDriverParam,
        .writeDriverParam = &CanApi_WriteDriverParam,
        .writeClientParam = &CanApi_WriteClientParam,
        .registerNet = &CanApi_RegisterNet,
        .registerClient = &CanApi_RegisterClient,
        .connectClient = &CanApi_ConnectClient,
        .registerMsgRange = &CanApi_RegisterMsgRange,
        .resetClient = &CanApi_ResetClient,
        .resetHardware = &CanApi_ResetHardware,
        .removeClient = &CanApi_RemoveClient,
        .detachClient = &CanApi_DetachClient,
        .removeNet = &CanApi_RemoveNet,
        .removeHardware = &CanApi_RemoveHardware,
        .readClock = &CanApi_ReadClock,
        .readFrame = &CanApi_ReadFrame,
        .readBusStatus = &CanApi_ReadBusStatus,
        .sendFrame = &CanApi_SendFrame,
    };
    return ops;
}

} // namespace

#endif

namespace {

thread_local const CanApiOps *threadOps = nullptr;

} // namespace

const CanApiOps &api()
{
    return threadOps != nullptr ? *threadOps : boundOps();
}

void useApiOnThisThread(const CanApiOps *ops)
{
    threadOps = ops;
}

} // namespace tarvpcan3
