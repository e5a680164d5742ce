#include "srecordformat.h"

#include <array>

namespace srecord {

int addressBytes(int type)
{
    static constexpr std::array<int, 10> bytes{2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    return type >= 0 && type <= 9 ? bytes[static_cast<size_t>(type)] : 0;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

uint8_t checksum(const std::vector<uint8_t> &bytes)
{
    unsigned sum = 0;
    for (uint8_t byte : bytes)
        sum += byte;
    return static_cast<uint8_t>(~sum & 0xFF);
}

namespace {

Problem decodeHex(std::string_view hex, std::vector<uint8_t> &bytes)
{
    if (hex.size() % 2 != 0)
        return Problem::OddDigits;
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexValue(hex[i]);
        const int low = hexValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return Problem::NotHex;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return Problem::None;
}

} // namespace

Problem parse(std::string_view line, Record *record)
{
    if (line.size() < 4 || line[0] != 'S')
        return Problem::NotSRecord;
    const int type = line[1] - '0';
    const size_t addressLength = static_cast<size_t>(addressBytes(type));
    if (addressLength == 0)
        return Problem::UnknownType;
    std::vector<uint8_t> bytes;
    if (const Problem problem = decodeHex(line.substr(2), bytes); problem != Problem::None)
        return problem;
    const size_t count = bytes[0];
    if (count != bytes.size() - 1)
        return Problem::CountMismatch;
    if (count < addressLength + 1)
        return Problem::TooShort;
    if (checksum({bytes.begin(), bytes.end() - 1}) != bytes.back())
        return Problem::BadChecksum;
    if (record) {
        record->type = type;
        record->address = 0;
        for (size_t i = 1; i <= addressLength; ++i)
            record->address = record->address << 8 | bytes[i];
        record->data.assign(bytes.begin() + 1 + static_cast<long>(addressLength), bytes.end() - 1);
    }
    return Problem::None;
}

const char *problemText(Problem problem)
{
    switch (problem) {
    case Problem::NotSRecord:
        return "not an S-record";
    case Problem::UnknownType:
        return "unknown record type";
    case Problem::OddDigits:
        return "odd number of hex digits";
    case Problem::NotHex:
        return "not a hex digit";
    case Problem::CountMismatch:
        return "count does not match the record length";
    case Problem::TooShort:
        return "record too short for its address";
    case Problem::BadChecksum:
        return "checksum error";
    case Problem::None:
        break;
    }
    return "";
}

} // namespace srecord
