#include "candriverfunctions.h"

#include "console.h"
#include "debugline.h"

#include <QCoreApplication>
#include <QLibrary>

#include <memory>

namespace {

template <typename Fn>
bool resolve(QLibrary &library, const char *name, Fn &entry, Console &console)
{
    entry = reinterpret_cast<Fn>(library.resolve(name));
    if (!entry)
        console.debug(DebugLine().quoted(library.errorString()));
    return entry != nullptr;
}

QString address(const void *entry)
{
    return QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(entry), 16);
}

template <typename Fn>
const void *addressOf(Fn entry)
{
    return reinterpret_cast<const void *>(entry);
}

} // namespace

bool CanDriverFunctions::complete() const
{
    return ConnectCANHw2Driver && InitCan && ExtendedInitCan && ReInitCanSystem && ReInitCanClient && LogOnOff
           && Write2Can && Write2CanRtr && ReadfBuff && GetCanStatus && ResetCan && GetDLLVer;
}

QString driverLibraryPath()
{
    // By path: a RUNPATH of the program does not reach a dlopen made inside Qt.
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tarvpcan3");
}

bool bindDriverLibrary(CanDriverFunctions &table, const QString &path, Console &console)
{
    // The library stays loaded for the rest of the process; only the loader goes.
    auto library = std::make_unique<QLibrary>(path);
    if (!library->load()) {
        console.debug(DebugLine().quoted(library->errorString()));
        return false;
    }
    console.debug(DebugLine().quoted(library->fileName()) << "loaded succesfully");

    bool ok = resolve(*library, "ConnectCANHw2Driver", table.ConnectCANHw2Driver, console);
    ok = resolve(*library, "InitCan", table.InitCan, console) && ok;
    ok = resolve(*library, "ExtendedInitCan", table.ExtendedInitCan, console) && ok;
    ok = resolve(*library, "ReInitCanSystem", table.ReInitCanSystem, console) && ok;
    ok = resolve(*library, "ReInitCanClient", table.ReInitCanClient, console) && ok;
    ok = resolve(*library, "LogOnOff", table.LogOnOff, console) && ok;
    ok = resolve(*library, "Write2Can", table.Write2Can, console) && ok;
    ok = resolve(*library, "Write2CanRtr", table.Write2CanRtr, console) && ok;
    ok = resolve(*library, "ReadfBuff", table.ReadfBuff, console) && ok;
    ok = resolve(*library, "GetCanStatus", table.GetCanStatus, console) && ok;
    ok = resolve(*library, "ResetCan", table.ResetCan, console) && ok;
    ok = resolve(*library, "GetDLLVer", table.GetDLLVer, console) && ok;
    table.WaitForFrame = reinterpret_cast<TarvWaitForFrameFn>(library->resolve("WaitForFrame"));

    DebugLine addresses;
    for (const void *entry :
         {addressOf(table.ConnectCANHw2Driver), addressOf(table.InitCan), addressOf(table.ExtendedInitCan),
          addressOf(table.ReInitCanSystem), addressOf(table.LogOnOff), addressOf(table.Write2Can),
          addressOf(table.Write2CanRtr), addressOf(table.ReadfBuff), addressOf(table.GetCanStatus),
          addressOf(table.ResetCan), addressOf(table.GetDLLVer)})
        addresses.plain(address(entry));
    console.debug(addresses);
    return ok;
}
