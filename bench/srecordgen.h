// Firmware files for the benchmark: Motorola S-records of generated data,
// written line by line so that a file of any size costs no memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// One S-record line without its line end: "S", type, count, address, data,
// checksum, in upper-case hex. Types 1/9 take 16-bit, 2/8 24-bit, 3/7 32-bit
// addresses, type 0 a 16-bit one.
std::string srecordLine(int type, uint32_t address, const std::vector<uint8_t> &data);

// The data byte at an address: a fixed pseudo-random sequence, so that a
// compare pass finds every misplaced byte.
uint8_t dataByteAt(uint32_t address);

struct FirmwareShape {
    uint32_t dataBytes = 0;      // firmware data, at addresses 0..dataBytes-1
    uint32_t bytesPerRecord = 16;
};

struct FirmwareFacts {
    int lines = 0;          // every line of the file: header, data, end
    int64_t fileBytes = 0;
};

// Lines of the file in order: an S0 header, S2 data records of
// bytesPerRecord bytes (the last one shorter when the size asks for it) and
// an S8 end record. Calls emit(line) for each, without line end.
template <typename Emit>
FirmwareFacts forEachFirmwareLine(const FirmwareShape &shape, Emit emit);

// Writes the file with CR LF line ends. False with a message when the file
// cannot be written or the shape is not one S2 records can hold.
bool writeFirmwareFile(const std::string &path, const FirmwareShape &shape, FirmwareFacts *facts,
                       std::string *error);

// ---------------------------------------------------------------------------

constexpr uint32_t kLargestS2Address = 0xFFFFFF;

template <typename Emit>
FirmwareFacts forEachFirmwareLine(const FirmwareShape &shape, Emit emit)
{
    FirmwareFacts facts;
    const auto put = [&](const std::string &line) {
        emit(line);
        ++facts.lines;
        facts.fileBytes += static_cast<int64_t>(line.size()) + 2;
    };
    const std::string title = "K3B7 benchmark firmware";
    put(srecordLine(0, 0, std::vector<uint8_t>(title.begin(), title.end())));
    std::vector<uint8_t> chunk;
    for (uint32_t address = 0; address < shape.dataBytes; address += shape.bytesPerRecord) {
        const uint32_t count = std::min(shape.bytesPerRecord, shape.dataBytes - address);
        chunk.resize(count);
        for (uint32_t i = 0; i < count; ++i)
            chunk[i] = dataByteAt(address + i);
        put(srecordLine(2, address, chunk));
    }
    put(srecordLine(8, 0, {}));
    return facts;
}

} // namespace bench
