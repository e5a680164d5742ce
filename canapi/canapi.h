/* The CAN programming interface that tarvpcan3 drives: hardware, nets and
 * clients with 8-bit handles, 32-bit result codes (0 = success).
 *
 * On Windows the adapter maker's DLL provides these operations by ordinal; here
 * libtarvcanapi provides them with C linkage, backed by simulated adapters or
 * by QtSerialBus devices. Callers never use the functions directly: they go
 * through a CanApiOps table filled in one place (canlib/apibinding.cpp).
 */
#ifndef TARV_CANAPI_H
#define TARV_CANAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TARVCANAPI_BUILD)
#define TARVCANAPI_EXPORT __attribute__((visibility("default")))
#else
#define TARVCANAPI_EXPORT
#endif

typedef uint32_t ApiResult;

/* Result codes the callers rely on. */
#define API_OK            0x0000u
#define API_ERR_QRCVEMPTY 0x0020u /* receive queue empty */
#define API_ERR_BUSOFF    0x0010u /* read frame: bus off */
#define API_ERR_QXMTFULL  0x0080u /* send: transmit queue full */
#define API_ERR_RXMASK    0x003Cu /* read frame: any of these bits = no frame */
#define API_ERR_NODRIVER  0x0200u /* driver not loaded / missing */
#define API_ERR_ILLHW     0x1400u /* no such hardware */
#define API_ERR_ILLNET    0x1800u /* no such net */
#define API_ERR_ILLCLIENT 0x1C00u /* no such client */
#define API_ERR_RESOURCE  0x2000u /* no free handle */
#define API_ERR_ILLPARAM  0x4000u /* bad parameter or buffer */
#define API_MORE_QUEUED   0x0001u /* read frame: delivered, more may follow later */
/* Read frame answers 0 when further frames are queued already, API_MORE_QUEUED
 * when it took the last one; a failed read (no such client, bad buffer) always
 * carries API_ERR_QRCVEMPTY, so that no caller takes it for a frame. */

/* Frame type bits. */
#define API_FRAME_RTR 0x01u
#define API_FRAME_EXT 0x02u

typedef struct ApiFrame
{
    uint32_t id;
    uint8_t type; /* bit 0 remote request, bit 1 29-bit identifier */
    uint8_t length;
    uint8_t data[8];
} ApiFrame;

typedef struct ApiTimeStamp
{
    uint32_t millis;
    uint16_t millisOverflow; /* wraps of millis */
    uint16_t micros;         /* within the millisecond */
} ApiTimeStamp;

typedef struct ApiRangeBound
{
    uint32_t id;
    uint8_t type;
} ApiRangeBound;

/* Parameters read and written by the library. */
#define API_HWPARAM_KIND       2  /* uint32 kind value */
#define API_HWPARAM_NAME       3  /* text */
#define API_HWPARAM_NETS       6  /* uint32 count of nets on the hardware */
#define API_HWPARAM_PRESENT    32 /* uint32, readable while plugged in */
#define API_NETPARAM_NAME      3  /* text */
#define API_NETPARAM_HW        19 /* uint8 hardware handle */
#define API_CLIENTPARAM_NAME   3  /* text */
#define API_CLIENTPARAM_NETS   22 /* uint8[32]: byte n is 1 when connected to net n+1 */
#define API_CLIENTPARAM_EVENT  26 /* descriptor to signal on reception, 0 = none */
#define API_CLIENTPARAM_27     27
#define API_DRVPARAM_CLOCKCORR 95 /* int32 milliseconds */

/* Operations, one per ordinal of the maker's interface. */
TARVCANAPI_EXPORT ApiResult CanApi_LoadDriver(const char *driverName);                                 /* 28 */
TARVCANAPI_EXPORT ApiResult CanApi_ReadHwParam(uint8_t hw, uint16_t param, void *buf, uint16_t len);   /* 10 */
TARVCANAPI_EXPORT ApiResult CanApi_ReadNetParam(uint8_t net, uint16_t param, void *buf, uint16_t len); /* 11 */
TARVCANAPI_EXPORT ApiResult CanApi_ReadClientParam(uint8_t client, uint16_t param, void *buf,
                                                   uint16_t len);                                    /* 4 */
TARVCANAPI_EXPORT ApiResult CanApi_ReadDriverParam(uint16_t param, void *buf, uint16_t len);         /* 8 */
TARVCANAPI_EXPORT ApiResult CanApi_WriteDriverParam(uint16_t param, uint32_t value);                 /* 29 */
TARVCANAPI_EXPORT ApiResult CanApi_WriteClientParam(uint8_t client, uint16_t param, uint32_t value); /* 27 */
TARVCANAPI_EXPORT ApiResult CanApi_RegisterNet(uint8_t net, const char *name, uint8_t hw,
                                               uint16_t btr0btr1);                                     /* 20 */
TARVCANAPI_EXPORT ApiResult CanApi_RegisterClient(const char *name, uint32_t notify, uint8_t *client); /* 16 */
TARVCANAPI_EXPORT ApiResult CanApi_ConnectClient(uint8_t client, const char *netName, uint8_t *net);   /* 2 */
TARVCANAPI_EXPORT ApiResult CanApi_RegisterMsgRange(uint8_t client, uint8_t net, const ApiRangeBound *first,
                                                    const ApiRangeBound *last); /* 19 */
TARVCANAPI_EXPORT ApiResult CanApi_ResetClient(uint8_t client);                 /* 24 */
TARVCANAPI_EXPORT ApiResult CanApi_ResetHardware(uint8_t hw);                   /* 25 */
TARVCANAPI_EXPORT ApiResult CanApi_RemoveClient(uint8_t client);                /* 21 */
TARVCANAPI_EXPORT ApiResult CanApi_DetachClient(uint8_t client, uint8_t net);   /* 3 */
TARVCANAPI_EXPORT ApiResult CanApi_RemoveNet(uint8_t net);                      /* 23 */
TARVCANAPI_EXPORT ApiResult CanApi_RemoveHardware(uint8_t hw);                  /* 22 */
TARVCANAPI_EXPORT ApiResult CanApi_ReadClock(ApiTimeStamp *now);                /* 12 */
TARVCANAPI_EXPORT ApiResult CanApi_ReadFrame(uint8_t client, ApiFrame *frame, uint8_t *net,
                                             ApiTimeStamp *ts); /* 14 */
TARVCANAPI_EXPORT ApiResult CanApi_ReadBusStatus(uint8_t hw);   /* 32 */
TARVCANAPI_EXPORT ApiResult CanApi_SendFrame(uint8_t client, uint8_t net, const ApiFrame *frame,
                                             ApiTimeStamp *ts); /* 34 */

/* The table through which tarvpcan3 calls the interface. */
typedef struct CanApiOps
{
    ApiResult (*loadDriver)(const char *);
    ApiResult (*readHwParam)(uint8_t, uint16_t, void *, uint16_t);
    ApiResult (*readNetParam)(uint8_t, uint16_t, void *, uint16_t);
    ApiResult (*readClientParam)(uint8_t, uint16_t, void *, uint16_t);
    ApiResult (*readDriverParam)(uint16_t, void *, uint16_t);
    ApiResult (*writeDriverParam)(uint16_t, uint32_t);
    ApiResult (*writeClientParam)(uint8_t, uint16_t, uint32_t);
    ApiResult (*registerNet)(uint8_t, const char *, uint8_t, uint16_t);
    ApiResult (*registerClient)(const char *, uint32_t, uint8_t *);
    ApiResult (*connectClient)(uint8_t, const char *, uint8_t *);
    ApiResult (*registerMsgRange)(uint8_t, uint8_t, const ApiRangeBound *, const ApiRangeBound *);
    ApiResult (*resetClient)(uint8_t);
    ApiResult (*resetHardware)(uint8_t);
    ApiResult (*removeClient)(uint8_t);
    ApiResult (*detachClient)(uint8_t, uint8_t);
    ApiResult (*removeNet)(uint8_t);
    ApiResult (*removeHardware)(uint8_t);
    ApiResult (*readClock)(ApiTimeStamp *);
    ApiResult (*readFrame)(uint8_t, ApiFrame *, uint8_t *, ApiTimeStamp *);
    ApiResult (*readBusStatus)(uint8_t);
    ApiResult (*sendFrame)(uint8_t, uint8_t, const ApiFrame *, ApiTimeStamp *);
} CanApiOps;

#ifdef __cplusplus
}
#endif

#endif
