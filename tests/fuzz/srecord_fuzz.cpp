// The simulator's S-record check, which decides what a module accepts and
// writes into its image. First input byte: 0 parses the rest as one line,
// 1 builds a valid record from the rest and parses it, 2 reads the rest as a
// whole file and writes the image back out.
#include "fuzzcheck.h"
#include "image.h"
#include "srecordformat.h"
#include "srecord.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using namespace modsim;

namespace {

// The record as the test kit writes it: what the simulator accepts must be
// what every test's files hold.
std::string encode(int type, uint32_t address, const std::vector<uint8_t> &data)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data.data()), static_cast<qsizetype>(data.size()));
    return testkit::sRecord(type, address, bytes).toStdString();
}

void checkLine(const uint8_t *bytes, size_t size)
{
    std::unique_ptr<char[]> exact(new char[size]);
    std::copy_n(bytes, size, exact.get());
    const std::string_view line(exact.get(), size);
    SRecord record;
    std::string error;
    if (!parseSRecord(line, &record, &error)) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    // Accepted: the record written out again is the line itself.
    FUZZ_CHECK(srecord::addressBytes(record.type) > 0);
    std::string upper(line);
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    FUZZ_CHECK(encode(record.type, record.address, record.data) == upper);
}

void checkBuiltRecord(FuzzInput &input)
{
    const int types[] = {0, 1, 2, 3, 5, 6, 7, 8, 9};
    const int type = types[input.byte() % 9];
    uint32_t address = input.u32();
    if (srecord::addressBytes(type) < 4)
        address &= (1u << (8 * srecord::addressBytes(type))) - 1;
    std::vector<uint8_t> data;
    const size_t dataSize = std::min<size_t>(input.byte(), 255 - srecord::addressBytes(type) - 1);
    while (data.size() < dataSize && input.remaining() > 0)
        data.push_back(input.byte());
    std::string line = encode(type, address, data);
    if (input.byte() & 1) {
        for (char &c : line)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        line[0] = 'S';
    }
    SRecord record;
    std::string error;
    FUZZ_CHECK(parseSRecord(line, &record, &error));
    FUZZ_CHECK(record.type == type && record.address == address && record.data == data);

    // One digit changed: the checksum no longer fits.
    const size_t at = 2 + input.byte() % (line.size() - 2);
    line[at] = line[at] == '0' ? '1' : '0';
    FUZZ_CHECK(!parseSRecord(line, &record, &error));
}

void checkImage(const uint8_t *bytes, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(bytes), size);
    Image image;
    std::string error;
    if (!imageFromSRecordText(text, &image, &error)) {
        FUZZ_CHECK(error.rfind("line ", 0) == 0);
        return;
    }
    const std::string written = toS3Text(image);
    size_t lines = 0;
    for (size_t pos = 0; pos < written.size(); ++lines) {
        const size_t end = written.find('\n', pos);
        FUZZ_CHECK(end != std::string::npos);
        SRecord record;
        FUZZ_CHECK(parseSRecord(std::string_view(written).substr(pos, end - pos), &record, nullptr));
        const bool last = end + 1 == written.size();
        FUZZ_CHECK(record.type == (last ? 7 : 3));
        FUZZ_CHECK(record.data.size() <= 16);
        pos = end + 1;
    }
    FUZZ_CHECK(lines >= 1);

    Image again;
    FUZZ_CHECK(imageFromSRecordText(written, &again, &error));
    FUZZ_CHECK(again == image);
    FUZZ_CHECK(!firstDifference(image, again));
    if (image.empty())
        return;
    const auto [address, value] = *std::next(image.bytes().begin(), static_cast<long>(size % image.size()));
    again.write(address, {static_cast<uint8_t>(value ^ 0x5A)});
    FUZZ_CHECK(firstDifference(image, again) == address);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    switch (input.byte() % 3) {
    case 0:
        checkLine(input.rest(), input.remaining());
        break;
    case 1:
        checkBuiltRecord(input);
        break;
    default:
        checkImage(input.rest(), input.remaining());
        break;
    }
    return 0;
}
