/* A foreign caller of tarvpcan3: loads the library at run time, resolves its
 * exports by name and calls them through their C signatures. On Linux it runs
 * against the simulated bench named by TARVCAN_CONFIG, on Windows against a
 * stand-in CANAPI2.dll beside it with the same one adapter and module.
 * Usage: c_caller <library> <expected version text>. */
#include "tarvpcan3.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <stdio.h>
#include <string.h>

static int checks;
static int failures;

#define CHECK(cond)                                                                                              \
    do {                                                                                                         \
        ++checks;                                                                                                \
        if (!(cond)) {                                                                                           \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                             \
            ++failures;                                                                                          \
        }                                                                                                        \
    } while (0)

struct Exports
{
    TarvConnectCANHw2DriverFn connectDriver;
    TarvExtendedInitCanFn extendedInitCan;
    TarvInitCanFn initCan;
    TarvInitCanClientFn initCanClient;
    TarvReInitCanSystemFn reInitCanSystem;
    TarvReInitCanClientFn reInitCanClient;
    TarvWrite2CanFn write2Can;
    TarvWrite2CanRtrFn write2CanRtr;
    TarvReadfBuffFn readfBuff;
    TarvReadfBuffFTimeFn readfBuffFTime;
    TarvWaitForFrameFn waitForFrame;
    TarvGetCanStatusFn getCanStatus;
    TarvResetCanFn resetCan;
    TarvLogOnOffFn logOnOff;
    TarvCanDelayFn canDelay;
    TarvCanDelayUSFn canDelayUS;
    TarvGetDLLVerFn getDLLVer;
    TarvGetCanHwParamFn getCanHwParam;
};

/* The only platform differences: loading, resolving, unloading. */
#ifdef _WIN32
typedef HMODULE Library;
typedef FARPROC Symbol;
static Library openLibrary(const char *path)
{
    return LoadLibraryA(path);
}
static Symbol symbolOf(Library library, const char *name)
{
    return GetProcAddress(library, name);
}
static void closeLibrary(Library library)
{
    FreeLibrary(library);
}
static void printLoadError(const char *path)
{
    fprintf(stderr, "cannot load %s: error %lu\n", path, GetLastError());
}
#else
typedef void *Library;
typedef void *Symbol;
static Library openLibrary(const char *path)
{
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}
static Symbol symbolOf(Library library, const char *name)
{
    return dlsym(library, name);
}
static void closeLibrary(Library library)
{
    dlclose(library);
}
static void printLoadError(const char *path)
{
    fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
}
#endif

static Symbol resolve(Library library, const char *name)
{
    Symbol symbol = symbolOf(library, name);
    ++checks;
    if (symbol == NULL) {
        fprintf(stderr, "export missing: %s\n", name);
        ++failures;
    }
    return symbol;
}

/* Copied bytewise into the typed pointer: how POSIX allows it for dlsym's
 * object pointer, and free of casts between unrelated function types. */
#define RESOLVE(field, name)                                                                                     \
    do {                                                                                                         \
        Symbol symbol = resolve(library, name);                                                                  \
        memcpy(&exports->field, &symbol, sizeof exports->field);                                                 \
    } while (0)

static int resolveAll(Library library, struct Exports *exports)
{
    const int before = failures;
    RESOLVE(connectDriver, "ConnectCANHw2Driver");
    RESOLVE(extendedInitCan, "ExtendedInitCan");
    RESOLVE(initCan, "InitCan");
    RESOLVE(initCanClient, "InitCanClient");
    RESOLVE(reInitCanSystem, "ReInitCanSystem");
    RESOLVE(reInitCanClient, "ReInitCanClient");
    RESOLVE(write2Can, "Write2Can");
    RESOLVE(write2CanRtr, "Write2CanRtr");
    RESOLVE(readfBuff, "ReadfBuff");
    RESOLVE(readfBuffFTime, "ReadfBuffFTime");
    RESOLVE(waitForFrame, "WaitForFrame");
    RESOLVE(getCanStatus, "GetCanStatus");
    RESOLVE(resetCan, "ResetCan");
    RESOLVE(logOnOff, "LogOnOff");
    RESOLVE(canDelay, "CanDelay");
    RESOLVE(canDelayUS, "CanDelayUS");
    RESOLVE(getDLLVer, "GetDLLVer");
    RESOLVE(getCanHwParam, "GetCanHwParam");
    return failures == before;
}

/* The library's internals must stay out of its symbol table. */
static void checkHidden(Library library)
{
    static const char *const internals[] = {
        "_ZN9tarvpcan313ParseTimeTextEPKcm",
        "_ZN9tarvpcan39lineTableEv",
        "_ZN9tarvpcan33apiEv",
    };
    for (size_t i = 0; i < sizeof internals / sizeof internals[0]; ++i) {
        ++checks;
        if (symbolOf(library, internals[i]) != NULL) {
            fprintf(stderr, "internal symbol visible: %s\n", internals[i]);
            ++failures;
        }
    }
}

#ifdef _WIN32
/* The file version that Windows shows for the DLL gives the version text too. */
static void checkVersionResource(Library library, const char *expected)
{
    static char info[8192];
    char path[MAX_PATH];
    DWORD unused = 0;
    const DWORD size =
        GetModuleFileNameA(library, path, sizeof path) ? GetFileVersionInfoSizeA(path, &unused) : 0;
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    CHECK(size > 0 && size <= sizeof info && GetFileVersionInfoA(path, 0, size, info)
          && VerQueryValueA(info, "\\", (void **)&fixed, &length) && length >= sizeof *fixed);
    if (fixed == NULL)
        return;
    char text[32];
    snprintf(text, sizeof text, "%u.%u%up", (unsigned)HIWORD(fixed->dwFileVersionMS),
             (unsigned)LOWORD(fixed->dwFileVersionMS), (unsigned)HIWORD(fixed->dwFileVersionLS));
    CHECK(strcmp(text, expected) == 0);
}
#endif

static int isTimeText(const char *text)
{
    static const char form[] = "dd:dd:dd.ddd";
    if (strlen(text) != 12)
        return 0;
    for (size_t i = 0; i < 12; ++i) {
        if (form[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != form[i])
            return 0;
    }
    return 1;
}

/* The module's log-on answer, skipping anything else on the line. */
static int awaitLogOn(const struct Exports *exports, uint16_t *id, uint8_t frame[9], char text[13])
{
    for (int tries = 0; tries < 50; ++tries) {
        if (!exports->waitForFrame(0, 5000))
            return 0;
        if (exports->readfBuff(0, id, frame, text) && frame[0] >= 1 && frame[1] == 0xD8)
            return 1;
    }
    return 0;
}

static void runLine(const struct Exports *exports)
{
    char text[64] = "tarvCanFLash";
    char status[TARVPCAN3_STATUS_TEXT_SIZE];

    CHECK(exports->connectDriver(TARVPCAN3_KIND_USB) == 1);
    exports->reInitCanSystem(0);
    CHECK(exports->extendedInitCan(0, 250, 0, 0, text) == 1);
    CHECK(strcmp(text, "Client tarvCanFLash") == 0);
    CHECK(exports->getCanStatus(0, status) == status);
    CHECK(strcmp(status, "OK") == 0);
    printf("c_caller: %s on line 0, bus status %s\n", text, status);

    strcpy(text, "tarvCanFLash");
    CHECK(exports->initCan(1, 250, 0, text) == 0);
    CHECK(strcmp(text, "Error while registering hardware !") == 0);

    const uint8_t logOn[9] = {2, 0xD8, 0x01};
    char sendTime[TARVPCAN3_SEND_TEXT_SIZE];
    exports->write2Can(0x07FF, logOn, sendTime);
    CHECK(isTimeText(sendTime));

    uint16_t id = 0;
    uint8_t frame[9] = {0};
    char received[TARVPCAN3_READ_TEXT_SIZE] = "";
    CHECK(awaitLogOn(exports, &id, frame, received));
    CHECK((id & 0xFFFA) == 0x208);
    CHECK(isTimeText(received));
    printf("c_caller: log-on answer from 0x%03X at %s\n", (unsigned)id, received);

    uint64_t fileTime = 1;
    strcpy(received, "unchanged");
    CHECK(exports->readfBuffFTime(5, &id, frame, received, &fileTime) == 0);
    CHECK(strcmp(received, "00:00:00.000") == 0);
    CHECK(fileTime == 1);

    exports->resetCan(0);
    exports->canDelay(2);
    exports->canDelayUS(100);
    CHECK(exports->getCanHwParam() == 0);

    exports->reInitCanSystem(0);
    CHECK(exports->getCanStatus(0, status) == NULL);
    CHECK(strcmp(status, "NOLINE") == 0);
    CHECK(exports->waitForFrame(0, 10) == 0);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: c_caller <library> <version text>\n");
        return 2;
    }
    Library library = openLibrary(argv[1]);
    if (library == NULL) {
        printLoadError(argv[1]);
        return 1;
    }
    struct Exports exports;
    memset(&exports, 0, sizeof exports);
    if (resolveAll(library, &exports)) {
        checkHidden(library);
        CHECK(strcmp(exports.getDLLVer(), argv[2]) == 0);
#ifdef _WIN32
        checkVersionResource(library, argv[2]);
#endif
        runLine(&exports);
    }
    closeLibrary(library);
    printf("c_caller: %d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
