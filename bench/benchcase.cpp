#include "benchcase.h"

#include <charconv>

namespace bench {

namespace {

constexpr int kSizesKiB[] = {16, 64, 256};
constexpr int kRecordBytes[] = {16, 32};
constexpr int kRatesK[] = {125, 250, 1000};
constexpr int kModuleCounts[] = {1, 4};
constexpr int kMaxModules = 64 - kFirstAddress;
constexpr int kMemoryCaseKiB = 1024;
// Above the usual lateness of a timer wake-up in a virtual machine (30-50 us).
constexpr int kSpinUs = 60;

bool knownRate(int rate)
{
    for (int r : kRatesK) {
        if (r == rate)
            return true;
    }
    return false;
}

std::optional<int> numberAt(const std::string &text, size_t &pos)
{
    int value = 0;
    const char *first = text.data() + pos;
    const char *last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end == first)
        return std::nullopt;
    pos = static_cast<size_t>(end - text.data());
    return value;
}

} // namespace

std::string Case::name() const
{
    return std::to_string(dataKiB) + "KiB-" + std::to_string(bytesPerRecord) + "B-" + std::to_string(bitRateK)
           + "k-" + std::to_string(modules) + "m" + (bus == Bus::VirtualCan ? "-vcan" : "");
}

std::vector<Case> fullCases()
{
    std::vector<Case> cases;
    for (int modules : kModuleCounts) {
        for (int rate : kRatesK) {
            for (int record : kRecordBytes) {
                for (int size : kSizesKiB)
                    cases.push_back(Case{size, record, rate, modules});
            }
        }
    }
    cases.push_back(Case{kMemoryCaseKiB, 32, 1000, 1, Bus::VirtualCan});
    return cases;
}

std::vector<Case> shortCases()
{
    return {Case{16, 16, 1000, 1}, Case{16, 32, 1000, 4}, Case{4, 16, 125, 1}};
}

std::optional<Case> parseCase(const std::string &text, std::string *error)
{
    static const std::string virtualSuffix = ":vcan";
    const bool virtualBus =
        text.size() > virtualSuffix.size()
        && text.compare(text.size() - virtualSuffix.size(), virtualSuffix.size(), virtualSuffix) == 0;
    const std::string numbers = virtualBus ? text.substr(0, text.size() - virtualSuffix.size()) : text;
    std::vector<int> values;
    size_t pos = 0;
    while (const std::optional<int> value = numberAt(numbers, pos)) {
        values.push_back(*value);
        if (pos == numbers.size() || numbers[pos] != ':')
            break;
        ++pos;
    }
    if (values.size() != 4 || pos != numbers.size()) {
        *error = "a case is SIZE:RECORD:RATE:MODULES[:vcan], e.g. 64:32:250:4, not \"" + text + "\"";
        return std::nullopt;
    }
    const Case c{values[0], values[1], values[2], values[3], virtualBus ? Bus::VirtualCan : Bus::Simulated};
    if (c.dataKiB < 1 || c.dataKiB > 16384)
        *error = "the size must be 1 to 16384 KiB";
    else if (c.bytesPerRecord < 1 || c.bytesPerRecord > 251)
        *error = "the bytes per record must be 1 to 251";
    else if (!knownRate(c.bitRateK))
        *error = "the bit rate must be 125, 250 or 1000";
    else if (c.modules < 1 || c.modules > kMaxModules)
        *error = "the module count must be 1 to " + std::to_string(kMaxModules);
    else
        return c;
    return std::nullopt;
}

int moduleId(int index)
{
    return 0x200 + 8 * (kFirstAddress + index);
}

testkit::Keys moduleKeys(int index)
{
    return {{"serial", QString::number(100000 + index)},
            {"seed", QString::number(index + 1)},
            {"logon_delay_ms", "0"},
            {"ready_delay_ms", "0"},
            {"erase_delay_ms", "0"},
            {"restart_ms", "0"},
            {"answer_delay_us", "0"}};
}

testkit::BenchIni benchIni(const Case &c, const QString &statsPath, const QString &interface)
{
    testkit::BenchIni ini;
    if (c.bus == Bus::VirtualCan) {
        ini.addQtAdapter(0, QStringLiteral("virtualcan"), interface);
        return ini;
    }
    // A bus thread that keeps its deadlines on a busy machine, where it may,
    // and that spins the last stretch before each: timer wake-ups in a
    // virtual machine come about 30 us late, which would stretch every frame.
    ini.addAdapter(0, {{"stats", statsPath}, {"realtime", "true"}, {"spin_us", QString::number(kSpinUs)}});
    for (int i = 0; i < c.modules; ++i)
        ini.addModule(kFirstAddress + i, moduleKeys(i));
    return ini;
}

} // namespace bench
