#include "image.h"

#include "outputfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <sstream>

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

bool parseSRecord(std::string_view line, SRecord *record, std::string *error)
{
    const srecord::Problem problem = srecord::parse(line, record);
    return problem == srecord::Problem::None || fail(error, srecord::problemText(problem));
}

bool imageFromSRecordText(std::string_view text, Image *image, std::string *error)
{
    Image result;
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
    }
    if (image)
        *image = std::move(result);
    return true;
}

bool loadSRecordFile(const std::string &path, Image *image, std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail(error, "cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return fail(error, "cannot read " + path);
    std::string why;
    if (!imageFromSRecordText(text.str(), image, &why))
        return fail(error, path + ": " + why);
    return true;
}

namespace {

std::string s3Line(int type, uint32_t address, const std::vector<uint8_t> &data)
{
    static const char digits[] = "0123456789ABCDEF";
    std::vector<uint8_t> bytes;
    bytes.push_back(static_cast<uint8_t>(4 + data.size() + 1));
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<uint8_t>(address >> shift));
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.push_back(srecord::checksum(bytes));
    std::string line = "S" + std::to_string(type);
    for (uint8_t b : bytes) {
        line += digits[b >> 4];
        line += digits[b & 0x0F];
    }
    return line + "\n";
}

} // namespace

std::string toS3Text(const Image &image)
{
    constexpr size_t maxData = 16;
    std::string text;
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

bool saveS3File(const Image &image, const std::string &path, std::string *error)
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
    const std::string text = toS3Text(image);
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
