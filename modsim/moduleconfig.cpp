#include "moduleconfig.h"

#include <cctype>
#include <charconv>
#include <functional>
#include <map>

namespace modsim {

namespace {

bool fail(std::string *error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Whole text as an integer in [lo, hi]; accepts 0x for hexadecimal.
bool toInt(const std::string &text, long long lo, long long hi, long long *out)
{
    std::string t = trimmed(text);
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        t = t.substr(2);
        base = 16;
    }
    if (t.empty())
        return false;
    long long value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, base);
    if (ec != std::errc() || end != t.data() + t.size() || value < lo || value > hi)
        return false;
    *out = value;
    return true;
}

bool toProbability(const std::string &text, double *out)
{
    const std::string t = trimmed(text);
    double value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !(value >= 0.0 && value <= 1.0))
        return false;
    *out = value;
    return true;
}

bool toBool(const std::string &text, bool *out)
{
    const std::string t = trimmed(text);
    if (t == "1" || t == "true" || t == "yes" || t == "on") {
        *out = true;
        return true;
    }
    if (t == "0" || t == "false" || t == "no" || t == "off") {
        *out = false;
        return true;
    }
    return false;
}

// Comma-separated positive numbers; an empty text is the empty set.
bool toNumberSet(const std::string &text, std::set<int> *out)
{
    std::set<int> result;
    size_t pos = 0;
    const std::string t = trimmed(text);
    while (!t.empty() && pos <= t.size()) {
        size_t comma = t.find(',', pos);
        if (comma == std::string::npos)
            comma = t.size();
        long long n = 0;
        if (!toInt(t.substr(pos, comma - pos), 1, 1000000000, &n))
            return false;
        result.insert(static_cast<int>(n));
        pos = comma + 1;
    }
    *out = std::move(result);
    return true;
}

// A release "d.dd": one digit, a point, two digits, as the E0 frame carries it.
bool isRelease(const std::string &text)
{
    return text.size() == 4 && std::isdigit(static_cast<unsigned char>(text[0])) && text[1] == '.'
           && std::isdigit(static_cast<unsigned char>(text[2]))
           && std::isdigit(static_cast<unsigned char>(text[3]));
}

std::string resolvePath(const std::string &path, const std::string &baseDir)
{
    if (path.empty() || path[0] == '/' || baseDir.empty())
        return path;
    return baseDir.back() == '/' ? baseDir + path : baseDir + "/" + path;
}

using Setter = std::function<bool(ModuleConfig &, const std::string &value, const std::string &baseDir)>;

template <typename T>
Setter intKey(T ModuleConfig::*field, long long lo, long long hi)
{
    return [=](ModuleConfig &c, const std::string &v, const std::string &) {
        long long n = 0;
        if (!toInt(v, lo, hi, &n))
            return false;
        c.*field = static_cast<T>(n);
        return true;
    };
}

Setter probabilityKey(double ModuleConfig::*field)
{
    return
        [=](ModuleConfig &c, const std::string &v, const std::string &) { return toProbability(v, &(c.*field)); };
}

Setter boolKey(bool ModuleConfig::*field)
{
    return [=](ModuleConfig &c, const std::string &v, const std::string &) { return toBool(v, &(c.*field)); };
}

Setter setKey(std::set<int> ModuleConfig::*field)
{
    return
        [=](ModuleConfig &c, const std::string &v, const std::string &) { return toNumberSet(v, &(c.*field)); };
}

Setter releaseKey(std::string ModuleConfig::*field)
{
    return [=](ModuleConfig &c, const std::string &v, const std::string &) {
        const std::string t = trimmed(v);
        if (!isRelease(t))
            return false;
        c.*field = t;
        return true;
    };
}

const std::map<std::string, Setter> &setters()
{
    static const std::map<std::string, Setter> table = {
        {"address", intKey(&ModuleConfig::address, 0, 63)},
        {"name",
         [](ModuleConfig &c, const std::string &v, const std::string &) {
             const std::string t = trimmed(v);
             if (t.size() > 6)
                 return false;
             for (unsigned char ch : t) {
                 if (ch < 0x20 || ch > 0x7E)
                     return false;
             }
             c.name = t;
             return true;
         }},
        {"serial",
         [](ModuleConfig &c, const std::string &v, const std::string &) {
             const std::string t = trimmed(v);
             long long n = 0;
             // Decimal only: the digits travel as packed decimal.
             if (t.empty() || t.size() > 6 || t.find_first_not_of("0123456789") != std::string::npos
                 || !toInt(t, 0, 999999, &n))
                 return false;
             c.serial = static_cast<uint32_t>(n);
             return true;
         }},
        {"release", releaseKey(&ModuleConfig::release)},
        {"new_release",
         [](ModuleConfig &c, const std::string &v, const std::string &) {
             // Empty: the release stays as it is after a restart.
             const std::string t = trimmed(v);
             if (!t.empty() && !isRelease(t))
                 return false;
             c.newRelease = t;
             return true;
         }},
        {"device_class", intKey(&ModuleConfig::deviceClass, 0, 255)},
        {"channels", intKey(&ModuleConfig::channels, 0, 255)},
        {"send_offset", intKey(&ModuleConfig::sendOffset, 4, 5)},
        {"seed",
         [](ModuleConfig &c, const std::string &v, const std::string &) {
             const std::string t = trimmed(v);
             uint64_t n = 0;
             const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
             if (t.empty() || ec != std::errc() || end != t.data() + t.size())
                 return false;
             c.seed = n;
             return true;
         }},
        {"image",
         [](ModuleConfig &c, const std::string &v, const std::string &baseDir) {
             c.imagePath = resolvePath(trimmed(v), baseDir);
             return true;
         }},
        {"logon_delay_ms", intKey(&ModuleConfig::logonDelayMs, 0, 600000)},
        {"ready_delay_ms", intKey(&ModuleConfig::readyDelayMs, 0, 600000)},
        {"erase_delay_ms", intKey(&ModuleConfig::eraseDelayMs, 0, 600000)},
        {"restart_ms", intKey(&ModuleConfig::restartMs, 0, 600000)},
        {"answer_delay_us", intKey(&ModuleConfig::answerDelayUs, 0, 60000000)},
        {"checksum_error_lines", setKey(&ModuleConfig::checksumErrorLines)},
        {"checksum_error_prob", probabilityKey(&ModuleConfig::checksumErrorProb)},
        {"compare_mismatch_line", intKey(&ModuleConfig::compareMismatchLine, 0, 1000000000)},
        {"compare_mismatch_passes", intKey(&ModuleConfig::compareMismatchPasses, 1, 1000000000)},
        {"lose_ack_frames", setKey(&ModuleConfig::loseAckFrames)},
        {"lose_ack_prob", probabilityKey(&ModuleConfig::loseAckProb)},
        {"lose_answer_lines", setKey(&ModuleConfig::loseAnswerLines)},
        {"late_ack_frames", setKey(&ModuleConfig::lateAckFrames)},
        {"late_answer_lines", setKey(&ModuleConfig::lateAnswerLines)},
        {"late_ms", intKey(&ModuleConfig::lateMs, 0, 600000)},
        {"lose_answer_prob", probabilityKey(&ModuleConfig::loseAnswerProb)},
        {"rx_loss_prob", probabilityKey(&ModuleConfig::rxLossProb)},
        {"missed_logon_requests", intKey(&ModuleConfig::missedLogOnRequests, 0, 1000000)},
        {"tx_loss_prob", probabilityKey(&ModuleConfig::txLossProb)},
        {"never_ready", boolKey(&ModuleConfig::neverReady)},
        {"no_logon_after_restart", boolKey(&ModuleConfig::noLogonAfterRestart)},
        {"die_at_line", intKey(&ModuleConfig::dieAtLine, 0, 1000000000)},
        {"version_error",
         [](ModuleConfig &c, const std::string &v, const std::string &) {
             long long n = 0;
             if (!toInt(v, 0, 0xFF, &n) || (n != 0 && n != 0x97 && n != 0x98))
                 return false;
             c.versionError = static_cast<int>(n);
             return true;
         }},
        {"reupdate", boolKey(&ModuleConfig::reupdate)},
    };
    return table;
}

} // namespace

std::vector<std::string> moduleKeys()
{
    std::vector<std::string> keys;
    for (const auto &entry : setters())
        keys.push_back(entry.first);
    return keys;
}

bool applyModuleKey(ModuleConfig &config, const std::string &key, const std::string &value,
                    const std::string &baseDir, std::string *error)
{
    const auto it = setters().find(trimmed(key));
    if (it == setters().end())
        return fail(error, "unknown module key \"" + key + "\"");
    if (!it->second(config, value, baseDir))
        return fail(error, "bad value \"" + value + "\" for module key \"" + key + "\"");
    return true;
}

bool validateModule(const ModuleConfig &config, std::string *error)
{
    if (config.address < 0 || config.address > 63)
        return fail(error, "module address must be 0..63");
    if (config.name.size() > 6)
        return fail(error, "module name has more than 6 characters");
    if (config.serial > 999999)
        return fail(error, "module serial has more than 6 digits");
    if (config.sendOffset != 4 && config.sendOffset != 5)
        return fail(error, "module send_offset must be 4 or 5");
    if (!isRelease(config.release) || (!config.newRelease.empty() && !isRelease(config.newRelease)))
        return fail(error, "module release must read like 4.20");
    if (config.versionError != 0 && config.versionError != 0x97 && config.versionError != 0x98)
        return fail(error, "module version_error must be 0x97 or 0x98");
    return true;
}

} // namespace modsim
