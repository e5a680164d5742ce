// A module's flash: a sparse byte image, filled from and written as
// S-record text.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace modsim {

class Image
{
public:
    void write(uint32_t address, const std::vector<uint8_t> &bytes);
    std::optional<uint8_t> at(uint32_t address) const;
    bool matches(uint32_t address, const std::vector<uint8_t> &bytes) const;
    size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    void clear() { bytes_.clear(); }
    const std::map<uint32_t, uint8_t> &bytes() const { return bytes_; }
    bool operator==(const Image &other) const = default;

private:
    std::map<uint32_t, uint8_t> bytes_;
};

// One Motorola S-record: 'S', the type digit, then hex digit pairs (either
// case): the count of the bytes that follow it, the address (2 bytes for the
// types 0, 1, 5, 9; 3 for 2, 6, 8; 4 for 3, 7; S4 is reserved), the data, and
// a checksum that brings the sum of all bytes after the type to 0xFF in its
// low byte.
struct SRecord
{
    int type = 0;
    uint32_t address = 0;
    std::vector<uint8_t> data;

    bool isData() const { return type >= 1 && type <= 3; }
};

// Parses one line (without its line end). False with a message on any fault:
// syntax, unknown type, count that disagrees with the line, bad checksum.
// The module's own reading, kept apart from the flasher's, so that a misread
// record does not agree with itself.
bool parseSRecord(std::string_view line, SRecord *record, std::string *error);

// The data of a whole S-record text. Blank lines are skipped; every other line
// must be a valid record. False with a message naming the line. header, when
// given, gets the data of the first S0 record as text (empty without one).
bool imageFromSRecordText(std::string_view text, Image *image, std::string *error, std::string *header = nullptr);
// A regular file only: a FIFO or a device is refused, never waited on.
bool loadSRecordFile(const std::string &path, Image *image, std::string *error);

// The image as S3 records of at most 16 data bytes, ascending addresses, one
// record never spanning a gap, closed by an S7 record; a header that is not
// empty comes first as an S0 record. Lines end in LF.
std::string toS3Text(const Image &image, const std::string &header = {});
bool saveS3File(const Image &image, const std::string &path, std::string *error, const std::string &header = {});

// The first address at which the two images differ (a byte missing from one
// counts as a difference); nothing when they hold the same data.
std::optional<uint32_t> firstDifference(const Image &a, const Image &b);

} // namespace modsim
