// The entry points of the CAN driver library tarvpcan3, resolved by name at
// run time. Nothing else in the program knows the library's export names.
#pragma once

#include "tarvpcan3.h"

#include <QString>

class Console;

struct CanDriverFunctions
{
    TarvConnectCANHw2DriverFn ConnectCANHw2Driver = nullptr;
    TarvInitCanFn InitCan = nullptr;
    TarvExtendedInitCanFn ExtendedInitCan = nullptr;
    TarvReInitCanSystemFn ReInitCanSystem = nullptr;
    TarvReInitCanClientFn ReInitCanClient = nullptr;
    TarvLogOnOffFn LogOnOff = nullptr;
    TarvWrite2CanFn Write2Can = nullptr;
    TarvWrite2CanRtrFn Write2CanRtr = nullptr;
    TarvReadfBuffFn ReadfBuff = nullptr;
    TarvGetCanStatusFn GetCanStatus = nullptr;
    TarvResetCanFn ResetCan = nullptr;
    TarvGetDLLVerFn GetDLLVer = nullptr;
    // Optional: lets the receive thread sleep until a frame is queued.
    TarvWaitForFrameFn WaitForFrame = nullptr;

    // All twelve required entries are set; no entry is called otherwise.
    bool complete() const;
};

// Base path of the library beside the program (the loader adds the suffix).
QString driverLibraryPath();

// Loads the library and fills the table; reports on the diagnostic channel.
// False when the library or a required export is missing.
bool bindDriverLibrary(CanDriverFunctions &table, const QString &path, Console &console);
