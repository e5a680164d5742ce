// No exception leaves an export: one thrown inside the interface becomes the
// export's failure answer and a line on standard error.
#include "apibinding.h"
#include "simbench.h"

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>

using namespace canlibtest;

namespace {

template <typename R, typename... A>
void throwFrom(R (*&entry)(A...))
{
    entry = [](A...) -> R { throw std::runtime_error("thrown inside the interface"); };
}

// Every call this thread makes into the interface throws; the line's reader
// and the clock thread keep the real interface.
class ThrowingInterface
{
public:
    ThrowingInterface()
        : ops_(tarvpcan3::api())
    {
        throwFrom(ops_.loadDriver);
        throwFrom(ops_.readHwParam);
        throwFrom(ops_.readNetParam);
        throwFrom(ops_.readClock);
        throwFrom(ops_.readBusStatus);
        throwFrom(ops_.resetHardware);
        throwFrom(ops_.sendFrame);
        tarvpcan3::useApiOnThisThread(&ops_);
    }
    ~ThrowingInterface() { tarvpcan3::useApiOnThisThread(nullptr); }

private:
    CanApiOps ops_;
};

class Guard : public SimBench
{};

TEST_F(Guard, AnExceptionInsideBecomesTheFailureAnswer)
{
    ASSERT_TRUE(openLine(0));
    const uint8_t frame[9] = {1, 0x42};
    char text[64] = {};
    const auto setUp = [&](const char *name) { return std::strcpy(text, name); };
    const auto is = [&](const char *expected) { return std::string(text) == expected; };
    const struct
    {
        const char *name;
        std::function<bool()> failedAsAnswered;
    } cases[] = {
        {"ConnectCANHw2Driver", [&] { return ConnectCANHw2Driver(TARVPCAN3_KIND_USB) == 0; }},
        {"ExtendedInitCan",
         [&] { return ExtendedInitCan(1, 250, 0, 0, setUp("c")) == 0 && is("Error inside the driver library"); }},
        {"InitCanClient",
         [&] { return InitCanClient(0, 0, setUp("c")) == 0 && is("Error inside the driver library"); }},
        {"Write2Can", [&] { return Write2Can(0x205, frame, text), is("00:00:00.000"); }},
        {"Write2CanRtr", [&] { return Write2CanRtr(0x205, text), is("00:00:00.000"); }},
        {"LogOnOff", [&] { return LogOnOff(0x7FF, 1, setUp("00:00:00.000")), is("00:00:00.000"); }},
        {"GetCanStatus", [&] { return GetCanStatus(0, setUp("OK")) == nullptr && is(""); }},
        {"ResetCan", [&] { return ResetCan(0), true; }},
        {"CanDelay", [&] { return CanDelay(1), true; }},
        {"ReInitCanSystem", [&] { return ReInitCanSystem(0), true; }},
    };
    testing::internal::CaptureStderr();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ThrowingInterface throwing;
        std::strcpy(text, "unchanged");
        bool failed = false;
        EXPECT_NO_THROW(failed = c.failedAsAnswered());
        EXPECT_TRUE(failed) << text;
    }
    const std::string said = testing::internal::GetCapturedStderr();
    for (const auto &c : cases) {
        EXPECT_NE(said.find(std::string("tarvpcan3: ") + c.name + ": thrown inside the interface"),
                  std::string::npos)
            << said;
    }
}

} // namespace
