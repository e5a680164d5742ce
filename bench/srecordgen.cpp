#include "srecordgen.h"

#include <cstdio>

namespace bench {

namespace {

int addressBytes(int type)
{
    switch (type) {
    case 2: case 8: return 3;
    case 3: case 7: return 4;
    default: return 2;
    }
}

void appendHex(std::string &text, uint8_t byte)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    text.push_back(digits[byte >> 4]);
    text.push_back(digits[byte & 0x0F]);
}

} // namespace

std::string srecordLine(int type, uint32_t address, const std::vector<uint8_t> &data)
{
    const int width = addressBytes(type);
    std::vector<uint8_t> bytes;
    bytes.push_back(static_cast<uint8_t>(width + data.size() + 1));
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
        bytes.push_back(static_cast<uint8_t>(address >> shift));
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    bytes.push_back(static_cast<uint8_t>(~sum));

    std::string line{'S', static_cast<char>('0' + type)};
    for (uint8_t b : bytes)
        appendHex(line, b);
    return line;
}

uint8_t dataByteAt(uint32_t address)
{
    // A 32-bit integer hash: neighbouring addresses get unrelated bytes.
    uint32_t x = address * 0x9E3779B1u + 0x7F4A7C15u;
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    return static_cast<uint8_t>(x);
}

bool writeFirmwareFile(const std::string &path, const FirmwareShape &shape, FirmwareFacts *facts,
                       std::string *error)
{
    if (shape.bytesPerRecord == 0 || shape.bytesPerRecord > 251
        || shape.dataBytes > kLargestS2Address + 1) {
        *error = "no S2 file holds " + std::to_string(shape.dataBytes) + " bytes in records of "
                 + std::to_string(shape.bytesPerRecord);
        return false;
    }
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot create " + path;
        return false;
    }
    bool written = true;
    *facts = forEachFirmwareLine(shape, [&](const std::string &line) {
        written = written && std::fputs(line.c_str(), file) >= 0 && std::fputs("\r\n", file) >= 0;
    });
    written = std::fclose(file) == 0 && written;
    if (!written)
        *error = "cannot write " + path;
    return written;
}

} // namespace bench
