// Motorola S-records, one record per line:
//
//   'S', type digit, count, address, data, checksum
//
// count: two hex digits, the bytes of address, data and checksum. address:
// 2, 3 or 4 bytes for the types 0/1/5/9, 2/6/8 and 3/7; S4 is reserved.
// checksum: the ones' complement of the low byte of the sum of count, address
// and data bytes. Hex digits in either case.
//
// Plain C++ without Qt. The module simulator reads records on its own.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace srecord {

// "S", type, count and 255 bytes in hex.
constexpr int LongestRecord = 4 + 2 * 255;

enum class Problem { None, NotSRecord, UnknownType, OddDigits, NotHex, CountMismatch, TooShort, BadChecksum };

struct Record
{
    int type = 0; // 0..9
    uint32_t address = 0;
    std::vector<uint8_t> data;

    bool isData() const { return type >= 1 && type <= 3; }
};

// Address bytes of a record type; 0 for the reserved S4 and anything not a type.
int addressBytes(int type);

// 0..15, or -1 for a character that is not a hex digit.
int hexValue(char c);

// The checksum that closes a record of these count, address and data bytes.
uint8_t checksum(const std::vector<uint8_t> &bytes);

// One record, without white space around it and without line end.
Problem parse(std::string_view line, Record *record = nullptr);

const char *problemText(Problem problem);

} // namespace srecord
