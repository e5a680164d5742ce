/* tarvpcan3: CAN lines over the CAN programming interface.
 *
 * A line (0..15) is one adapter, one net and one client, plus a receive queue
 * filled by a reader thread. Callers name a line by its number; frame-sending
 * calls take it in bits 12..15 of the address word, with the identifier in
 * bits 0..11.
 *
 * Frame buffer: byte 0 holds the data length (0..8), bytes 1..8 the data.
 * Time-stamp text: exactly 12 characters hh:mm:ss.mmm plus NUL; calls that
 * find no open line write "00:00:00.000".
 *
 * Every buffer belongs to the caller; the library keeps no pointer to it.
 * The only library-owned text is the version text of GetDLLVer.
 *
 * No call lets an exception out. A failure inside gives the call's failure
 * answer (false or null; set-up texts read "Error inside the driver library",
 * send times "00:00:00.000", the status text is empty) and a line
 * "tarvpcan3: <call>: <reason>" on standard error.
 */
#ifndef TARVPCAN3_H
#define TARVPCAN3_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TARVPCAN3_BUILD) && defined(_WIN32)
#define TARVPCAN3_API __declspec(dllexport)
#elif defined(TARVPCAN3_BUILD)
#define TARVPCAN3_API __attribute__((visibility("default")))
#else
#define TARVPCAN3_API
#endif

/* Smallest buffers the library writes into. */
#define TARVPCAN3_SETUP_TEXT_MIN    35  /* set-up messages; also "Client " + name + NUL */
#define TARVPCAN3_CLIENT_NAME_MAX   127 /* characters of a client name that are kept */
#define TARVPCAN3_SEND_TEXT_SIZE    16  /* Write2Can, Write2CanRtr, LogOnOff */
#define TARVPCAN3_READ_TEXT_SIZE    13  /* ReadfBuff, ReadfBuffFTime */
#define TARVPCAN3_STATUS_TEXT_SIZE  9   /* GetCanStatus */
#define TARVPCAN3_FRAME_BUFFER_SIZE 9   /* length byte + 8 data bytes */

/* Adapter kinds of ConnectCANHw2Driver. */
#define TARVPCAN3_KIND_USB 3
#define TARVPCAN3_KIND_PCI 4

/* Loads the adapter driver; false only when the driver is missing. */
TARVPCAN3_API uint8_t ConnectCANHw2Driver(uint8_t adapterKind);

/* Opens a line. text: in the client name, out "Client <name>" or the failure
 * message; it must hold max(35, 8 + length of the name) bytes. */
TARVPCAN3_API uint8_t ExtendedInitCan(uint16_t line, uint16_t bitRateKbit, uint32_t notifyHandle,
                                      uint8_t extended, char *text);
/* ExtendedInitCan with standard frames; the rate is 8 bits wide. */
TARVPCAN3_API uint8_t InitCan(uint16_t line, uint8_t bitRateKbit, uint32_t notifyHandle, char *text);
/* Connects a further client (name in text) to an open line's net. */
TARVPCAN3_API uint8_t InitCanClient(uint16_t line, uint32_t notifyHandle, char *text);

/* Closes the line and removes every registration that belongs to it. */
TARVPCAN3_API void ReInitCanSystem(uint16_t line);
/* Closes an open line and removes its clients called clientName. */
TARVPCAN3_API void ReInitCanClient(uint16_t line, const char *clientName);

/* text: out the send time (at least 16 bytes). Without frame data nothing is
 * sent and text reads "00:00:00.000", as for a closed line. */
TARVPCAN3_API void Write2Can(uint16_t addressWord, const uint8_t *frame, char *text);
TARVPCAN3_API void Write2CanRtr(uint16_t addressWord, char *text);

/* Takes the oldest received frame; false when the line is closed or its queue
 * is empty. id: line in bits 12..15 for standard frames. frame: 9 bytes.
 * text: reception time (at least 13 bytes). Never blocks. */
TARVPCAN3_API uint8_t ReadfBuff(uint16_t line, uint16_t *id, uint8_t *frame, char *text);
/* As ReadfBuff, plus the reception time as a file time (100-ns units since
 * 1601-01-01 UTC). */
TARVPCAN3_API uint8_t ReadfBuffFTime(uint16_t line, uint16_t *id, uint8_t *frame, char *text, uint64_t *fileTime);
/* Blocks until the line's receive queue holds a frame (true), or until the
 * timeout passes or the line is closed (false). Takes nothing from the queue. */
TARVPCAN3_API uint8_t WaitForFrame(uint16_t line, uint32_t timeoutMs);

/* text (at least 9 bytes): "OK", "OVERRUN", "BUSLIGHT", "BUSHEAVY", "BUSOFF",
 * "NOVXD", "ILLHW", the status word in decimal, "NOCLIENT", "NONET", or
 * "NOLINE" (result null). Otherwise the result is text. */
TARVPCAN3_API char *GetCanStatus(uint8_t line, char *text);
TARVPCAN3_API void ResetCan(uint8_t line);
/* Sends the log-on (on != 0) or log-off frame. text: in the delay hh:mm:ss.mmm,
 * out the send time plus microseconds (at least 16 bytes). */
TARVPCAN3_API void LogOnOff(uint16_t addressWord, uint8_t on, char *text);

/* Busy waits on the interface's clock. */
TARVPCAN3_API void CanDelay(uint32_t milliseconds);
TARVPCAN3_API void CanDelayUS(uint32_t microseconds);

/* "4.01p" for version 4.0.1. */
TARVPCAN3_API const char *GetDLLVer(void);
TARVPCAN3_API int32_t GetCanHwParam(void);

/* Pointer types for callers that resolve the exports by name. */
typedef uint8_t (*TarvConnectCANHw2DriverFn)(uint8_t);
typedef uint8_t (*TarvExtendedInitCanFn)(uint16_t, uint16_t, uint32_t, uint8_t, char *);
typedef uint8_t (*TarvInitCanFn)(uint16_t, uint8_t, uint32_t, char *);
typedef uint8_t (*TarvInitCanClientFn)(uint16_t, uint32_t, char *);
typedef void (*TarvReInitCanSystemFn)(uint16_t);
typedef void (*TarvReInitCanClientFn)(uint16_t, const char *);
typedef void (*TarvWrite2CanFn)(uint16_t, const uint8_t *, char *);
typedef void (*TarvWrite2CanRtrFn)(uint16_t, char *);
typedef uint8_t (*TarvReadfBuffFn)(uint16_t, uint16_t *, uint8_t *, char *);
typedef uint8_t (*TarvReadfBuffFTimeFn)(uint16_t, uint16_t *, uint8_t *, char *, uint64_t *);
typedef uint8_t (*TarvWaitForFrameFn)(uint16_t, uint32_t);
typedef char *(*TarvGetCanStatusFn)(uint8_t, char *);
typedef void (*TarvResetCanFn)(uint8_t);
typedef void (*TarvLogOnOffFn)(uint16_t, uint8_t, char *);
typedef void (*TarvCanDelayFn)(uint32_t);
typedef void (*TarvCanDelayUSFn)(uint32_t);
typedef const char *(*TarvGetDLLVerFn)(void);
typedef int32_t (*TarvGetCanHwParamFn)(void);

#ifdef __cplusplus
}
#endif

#endif
