#include "moduleconfig.h"

#include <gtest/gtest.h>

using namespace modsim;

namespace {

struct KeyCase
{
    const char *key;
    const char *value;
    bool ok;
};

std::ostream &operator<<(std::ostream &os, const KeyCase &c)
{
    return os << c.key << "=" << c.value;
}

class ModuleKey : public testing::TestWithParam<KeyCase>
{};

TEST_P(ModuleKey, AcceptsOnlyValidValues)
{
    const KeyCase &c = GetParam();
    ModuleConfig config;
    std::string error;
    EXPECT_EQ(applyModuleKey(config, c.key, c.value, "/base", &error), c.ok) << c.key << "=" << c.value;
    if (!c.ok) {
        EXPECT_NE(error.find(c.key), std::string::npos) << "the message names the key: " << error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ModuleKey,
    testing::Values(
        KeyCase{"address", "0", true}, KeyCase{"address", "63", true}, KeyCase{"address", "64", false},
        KeyCase{"address", "-1", false}, KeyCase{"address", "3x", false}, KeyCase{"address", "", false},
        KeyCase{"name", "K3B7", true}, KeyCase{"name", "ABCDEF", true}, KeyCase{"name", "ABCDEFG", false},
        KeyCase{"name", "", true}, KeyCase{"serial", "123456", true}, KeyCase{"serial", "1234567", false},
        KeyCase{"serial", "0x12", false}, KeyCase{"serial", "12a", false}, KeyCase{"release", "4.20", true},
        KeyCase{"release", "4.2", false}, KeyCase{"release", "42.0", false}, KeyCase{"new_release", "4.21", true},
        KeyCase{"new_release", "", true}, KeyCase{"new_release", "x", false},
        KeyCase{"device_class", "0x11", true}, KeyCase{"device_class", "256", false},
        KeyCase{"channels", "4", true}, KeyCase{"send_offset", "4", true}, KeyCase{"send_offset", "5", true},
        KeyCase{"send_offset", "1", false}, KeyCase{"send_offset", "0", false},
        KeyCase{"seed", "18446744073709551615", true}, KeyCase{"seed", "-3", false},
        KeyCase{"logon_delay_ms", "0", true}, KeyCase{"ready_delay_ms", "-5", false},
        KeyCase{"answer_delay_us", "1500", true}, KeyCase{"checksum_error_lines", "2,5, 9", true},
        KeyCase{"checksum_error_lines", "", true}, KeyCase{"checksum_error_lines", "2,,5", false},
        KeyCase{"checksum_error_lines", "0", false}, KeyCase{"checksum_error_prob", "0.25", true},
        KeyCase{"checksum_error_prob", "1.5", false}, KeyCase{"checksum_error_prob", "nan", false},
        KeyCase{"lose_ack_prob", "1", true}, KeyCase{"rx_loss_prob", "0.1", true},
        KeyCase{"tx_loss_prob", "-0.1", false}, KeyCase{"never_ready", "true", true},
        KeyCase{"never_ready", "maybe", false}, KeyCase{"reupdate", "1", true},
        KeyCase{"version_error", "0x97", true}, KeyCase{"version_error", "0x98", true},
        KeyCase{"version_error", "0x96", false}, KeyCase{"version_error", "151", true},
        KeyCase{"die_at_line", "12", true}, KeyCase{"compare_mismatch_line", "3", true},
        KeyCase{"adapter", "0", false}, KeyCase{"colour", "red", false}));

TEST(ModuleKey, StoresParsedValues)
{
    ModuleConfig c;
    std::string error;
    const std::vector<std::pair<std::string, std::string>> keys = {{"address", "3"},
                                                                   {"name", " K3B7 "},
                                                                   {"serial", "042"},
                                                                   {"release", "2.15"},
                                                                   {"new_release", "2.16"},
                                                                   {"device_class", "0x21"},
                                                                   {"channels", "2"},
                                                                   {"send_offset", "4"},
                                                                   {"seed", "99"},
                                                                   {"checksum_error_lines", "4,2"},
                                                                   {"version_error", "0x98"},
                                                                   {"lose_ack_frames", "7"},
                                                                   {"no_logon_after_restart", "yes"},
                                                                   {"answer_delay_us", "250"}};
    for (const auto &[k, v] : keys)
        ASSERT_TRUE(applyModuleKey(c, k, v, "", &error)) << k << ": " << error;
    EXPECT_EQ(c.address, 3);
    EXPECT_EQ(c.id(), 0x218);
    EXPECT_EQ(c.sendId(), 0x21C);
    EXPECT_EQ(c.name, "K3B7");
    EXPECT_EQ(c.serial, 42u);
    EXPECT_EQ(c.release, "2.15");
    EXPECT_EQ(c.newRelease, "2.16");
    EXPECT_EQ(c.deviceClass, 0x21);
    EXPECT_EQ(c.channels, 2);
    EXPECT_EQ(c.seed, 99u);
    EXPECT_EQ(c.checksumErrorLines, (std::set<int>{2, 4}));
    EXPECT_EQ(c.versionError, 0x98);
    EXPECT_EQ(c.loseAckFrames, std::set<int>{7});
    EXPECT_TRUE(c.noLogonAfterRestart);
    EXPECT_EQ(c.answerDelayUs, 250);
    EXPECT_TRUE(validateModule(c, &error)) << error;
}

TEST(ModuleKey, ImagePathIsRelativeToTheConfigurationFolder)
{
    ModuleConfig c;
    std::string error;
    ASSERT_TRUE(applyModuleKey(c, "image", "out/m.s3", "/bench", &error));
    EXPECT_EQ(c.imagePath, "/bench/out/m.s3");
    ASSERT_TRUE(applyModuleKey(c, "image", "/abs/m.s3", "/bench", &error));
    EXPECT_EQ(c.imagePath, "/abs/m.s3");
    ASSERT_TRUE(applyModuleKey(c, "image", "m.s3", "", &error));
    EXPECT_EQ(c.imagePath, "m.s3");
}

TEST(ModuleKey, BadValueLeavesTheFieldAlone)
{
    ModuleConfig c;
    std::string error;
    ASSERT_TRUE(applyModuleKey(c, "address", "7", "", &error));
    EXPECT_FALSE(applyModuleKey(c, "address", "99", "", &error));
    EXPECT_EQ(c.address, 7);
}

TEST(ValidateModule, RejectsWhatTheKeysCannotCatch)
{
    std::string error;
    ModuleConfig good;
    EXPECT_TRUE(validateModule(good, &error)) << error;

    ModuleConfig c = good;
    c.address = 64;
    EXPECT_FALSE(validateModule(c, &error));
    c = good;
    c.sendOffset = 1;
    EXPECT_FALSE(validateModule(c, &error));
    c = good;
    c.name = "TOOLONG";
    EXPECT_FALSE(validateModule(c, &error));
    c = good;
    c.serial = 1000000;
    EXPECT_FALSE(validateModule(c, &error));
    c = good;
    c.release = "4";
    EXPECT_FALSE(validateModule(c, &error));
    c = good;
    c.versionError = 0x93;
    EXPECT_FALSE(validateModule(c, &error));
}

} // namespace
