/* A foreign caller of tarvpcan3: loads the library with dlopen and calls its
 * exports through their C signatures against the simulated bench named by
 * TARVCAN_CONFIG. Usage: c_caller <library> <expected version text>. */
#include "tarvpcan3.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

static int failures;

#define CHECK(cond)                                                                     \
    do {                                                                                \
        if (!(cond)) {                                                                  \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);    \
            ++failures;                                                                 \
        }                                                                               \
    } while (0)

struct Exports {
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

static void *resolve(void *library, const char *name)
{
    void *symbol = dlsym(library, name);
    if (symbol == NULL) {
        fprintf(stderr, "export missing: %s\n", name);
        ++failures;
    }
    return symbol;
}

/* Object pointers to function pointers, the way POSIX allows for dlsym. */
#define RESOLVE(field, name) *(void **)(&exports->field) = resolve(library, name)

static int resolveAll(void *library, struct Exports *exports)
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
static void checkHidden(void *library)
{
    static const char *const internals[] = {
        "_ZN9tarvpcan313ParseTimeTextEPKcm",
        "_ZN9tarvpcan39lineTableEv",
        "_ZN9tarvpcan33apiEv",
    };
    for (size_t i = 0; i < sizeof internals / sizeof internals[0]; ++i) {
        if (dlsym(library, internals[i]) != NULL) {
            fprintf(stderr, "internal symbol visible: %s\n", internals[i]);
            ++failures;
        }
    }
}

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

    strcpy(text, "tarvCanFLash");
    CHECK(exports->initCan(1, 250, 0, text) == 0);
    CHECK(strcmp(text, "Error while registering hardware !") == 0);

    const uint8_t logOn[9] = {2, 0xD8, 0x01};
    char sendTime[TARVPCAN3_SEND_TEXT_SIZE];
    exports->write2Can(0x07FF, logOn, sendTime);
    CHECK(isTimeText(sendTime));

    uint16_t id = 0;
    uint8_t frame[9] = {0};
    char received[TARVPCAN3_READ_TEXT_SIZE];
    CHECK(awaitLogOn(exports, &id, frame, received));
    CHECK((id & 0xFFFA) == 0x208);
    CHECK(isTimeText(received));

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
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    struct Exports exports;
    memset(&exports, 0, sizeof exports);
    if (resolveAll(library, &exports)) {
        checkHidden(library);
        CHECK(strcmp(exports.getDLLVer(), argv[2]) == 0);
        runLine(&exports);
    }
    dlclose(library);
    if (failures != 0)
        fprintf(stderr, "%d check(s) failed\n", failures);
    return failures == 0 ? 0 : 1;
}
