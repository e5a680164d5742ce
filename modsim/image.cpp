#include "image.h"

#include "outputfile.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <cstdio>
#include <utility>

namespace modsim {

void Image::write(uint32_t address, const std::vector<uint8_t> &bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes_[address + static_cast<uint32_t>(i)] = bytes[i];
}

std::optional<uint8_t> Image::at(uint32_t address) const
{
    auto it = bytes_.find(address);
    if (it == bytes_.end())
        return std::nullopt;
    return it->second;
}

bool Image::matches(uint32_t address, const std::vector<uint8_t> &bytes) const
{
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (at(address + static_cast<uint32_t>(i)) != bytes[i])
            return false;
    }
    return true;
}

namespace {

bool fail(std::string *error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

} // namespace

namespace {

size_t addressLength(char type)
{
    switch (type) {
    case '0':
    case '1':
    case '5':
    case '9':
        return 2;
    case '2':
    case '6':
    case '8':
        return 3;
    case '3':
    case '7':
        return 4;
    default:
        return 0;
    }
}

int nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const char upper = c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
    return upper >= 'A' && upper <= 'F' ? upper - 'A' + 10 : -1;
}

} // namespace

bool parseSRecord(std::string_view line, SRecord *record, std::string *error)
{
    if (line.size() < 2 || line[0] != 'S')
        return fail(error, "not an S-record");
    const size_t addressBytes = addressLength(line[1]);
    if (addressBytes == 0)
        return fail(error, "unknown record type S" + std::string(1, line[1]));
    const std::string_view digits = line.substr(2);
    if (digits.empty() || digits.size() % 2 != 0)
        return fail(error, "no whole bytes after the type");
    std::vector<uint8_t> bytes;
    unsigned sum = 0;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int high = nibble(digits[i]);
        const int low = nibble(digits[i + 1]);
        if (high < 0 || low < 0)
            return fail(error, "not a hex digit at column " + std::to_string(i + 3));
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        sum += bytes.back();
    }
    if (bytes[0] + 1u != bytes.size())
        return fail(error,
                    "count " + std::to_string(bytes[0]) + " for " + std::to_string(bytes.size() - 1) + " bytes");
    if (bytes.size() < 1 + addressBytes + 1)
        return fail(error, "too short for its address");
    if ((sum & 0xFF) != 0xFF)
        return fail(error, "checksum error");
    SRecord result;
    result.type = line[1] - '0';
    for (size_t i = 1; i <= addressBytes; ++i)
        result.address = result.address << 8 | bytes[i];
    result.data.assign(bytes.begin() + 1 + static_cast<std::ptrdiff_t>(addressBytes), bytes.end() - 1);
    if (record)
        *record = std::move(result);
    return true;
}

bool imageFromSRecordText(std::string_view text, Image *image, std::string *error, std::string *header)
{
    Image result;
    std::string headerText;
    bool headerSeen = false;
    int lineNo = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.empty())
            continue;
        SRecord record;
        std::string why;
        if (!parseSRecord(line, &record, &why))
            return fail(error, "line " + std::to_string(lineNo) + ": " + why);
        if (record.isData())
            result.write(record.address, record.data);
        if (record.type == 0 && !std::exchange(headerSeen, true))
            headerText.assign(record.data.begin(), record.data.end());
    }
    if (image)
        *image = std::move(result);
    if (header)
        *header = std::move(headerText);
    return true;
}

namespace {

std::string s3Line(int type, uint32_t address, const std::vector<uint8_t> &data)
{
    static const char digits[] = "0123456789ABCDEF";
    // S0 has a 2-byte address, S3 and S7 a 4-byte one.
    const int addressBytes = type == 0 ? 2 : 4;
    std::vector<uint8_t> bytes;
    bytes.push_back(static_cast<uint8_t>(addressBytes + data.size() + 1));
    for (int shift = 8 * (addressBytes - 1); shift >= 0; shift -= 8)
        bytes.push_back(static_cast<uint8_t>(address >> shift));
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    bytes.push_back(static_cast<uint8_t>(0xFF - (sum & 0xFF)));
    std::string line = "S" + std::to_string(type);
    for (uint8_t b : bytes) {
        line += digits[b >> 4];
        line += digits[b & 0x0F];
    }
    return line + "\n";
}

} // namespace

std::string toS3Text(const Image &image, const std::string &header)
{
    constexpr size_t maxData = 16;
    std::string text;
    if (!header.empty())
        text += s3Line(0, 0, std::vector<uint8_t>(header.begin(), header.end()));
    std::vector<uint8_t> run;
    uint32_t runStart = 0;
    auto flush = [&] {
        if (!run.empty())
            text += s3Line(3, runStart, run);
        run.clear();
    };
    for (const auto &[address, byte] : image.bytes()) {
        const bool contiguous = !run.empty() && address == runStart + run.size();
        if (!contiguous || run.size() == maxData) {
            flush();
            runStart = address;
        }
        run.push_back(byte);
    }
    flush();
    text += s3Line(7, 0, {});
    return text;
}

bool saveS3File(const Image &image, const std::string &path, std::string *error, const std::string &header)
{
    // The rename would replace a link, a FIFO or a device node at the
    // target: only a regular file (or nothing) may be there.
    if (!checkOutputPlace(path, error))
        return false;
    // Written beside the target and renamed, so a reader never sees half an image.
    const std::string temp = path + ".part";
    std::FILE *out = openOutputFile(temp, error);
    if (out == nullptr)
        return false;
    const std::string text = toS3Text(image, header);
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (!written)
        fail(error, temp + ": cannot be written: " + std::strerror(errno));
    written = closeOutputFile(out, temp, written ? error : nullptr) && written;
    if (!written) {
        std::remove(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return fail(error, path + ": cannot be written: " + std::strerror(errno));
    }
    return true;
}

std::optional<uint32_t> firstDifference(const Image &a, const Image &b)
{
    auto ia = a.bytes().begin();
    auto ib = b.bytes().begin();
    while (ia != a.bytes().end() || ib != b.bytes().end()) {
        if (ia == a.bytes().end())
            return ib->first;
        if (ib == b.bytes().end())
            return ia->first;
        if (ia->first != ib->first)
            return std::min(ia->first, ib->first);
        if (ia->second != ib->second)
            return ia->first;
        ++ia;
        ++ib;
    }
    return std::nullopt;
}

} // namespace modsim
