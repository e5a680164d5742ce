// The images of a bench's simulated modules as the stand-in meets them.
#include "apitestsupport.h"

#include <cstdio>

#include <unistd.h>

namespace {

using namespace canapitest;

// A simulated module starts from its image file: one it cannot read refuses
// the adapter before a frame goes out, rather than being written over.
TEST(ModuleImage, ThatCannotBeReadRefusesItsAdapter)
{
    const std::string image = ::testing::TempDir() + "damaged-" + std::to_string(::getpid()) + ".s3";
    std::FILE *f = std::fopen(image.c_str(), "w");
    ASSERT_TRUE(f != nullptr && std::fputs("S1 cut short\n", f) >= 0 && std::fclose(f) == 0);
    std::string error;
    EXPECT_FALSE(canapi::sim::configure(
        simAdapter("first", 0) + "[module.m]\nadapter = 0\naddress = 1\nimage = " + image + "\n", &error));
    EXPECT_EQ(error.rfind("bench:9: image of [module.m]: " + image + ": is no image (S-records): line 1: ", 0),
              0u)
        << error;
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    EXPECT_EQ(CanApi_RegisterNet(1, "tarvnet0", hardwareOfLine(0), 0xC723), API_ERR_ILLHW);
    std::remove(image.c_str());
    canapi::sim::shutdown();
}

} // namespace
