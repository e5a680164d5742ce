#include "recordverdict.h"

#include "eventlog.h"
#include "moduleframes.h"

#include <utility>

namespace modsim {

namespace {

// What both passes decide before their own checks: a blank line is accepted,
// a broken record is a checksum error, and a header carries the configured
// version error. None when the pass has to look at the record itself.
std::optional<RecordVerdict> commonVerdict(const std::string &line, std::optional<uint8_t> headerRefusal,
                                           SRecord *record)
{
    if (line.empty())
        return RecordVerdict{kAccepted, "blank line accepted"};
    std::string why;
    if (!parseSRecord(line, record, &why))
        return RecordVerdict{kChecksumError, why};
    if (record->type == 0 && headerRefusal)
        return RecordVerdict{*headerRefusal, "header refused with " + hexByte(*headerRefusal)};
    return std::nullopt;
}

} // namespace

RecordVerdict flashVerdict(const std::string &line, std::optional<uint8_t> headerRefusal, Image *image)
{
    SRecord record;
    if (std::optional<RecordVerdict> verdict = commonVerdict(line, headerRefusal, &record))
        return std::move(*verdict);
    if (record.isData())
        image->write(record.address, record.data);
    return {kAccepted, "S" + std::to_string(record.type) + " accepted"};
}

RecordVerdict compareVerdict(const std::string &line, std::optional<uint8_t> headerRefusal, const Image &image)
{
    SRecord record;
    if (std::optional<RecordVerdict> verdict = commonVerdict(line, headerRefusal, &record))
        return std::move(*verdict);
    if (record.isData() && !image.matches(record.address, record.data))
        return {kFlashError, "differs from the image"};
    return {kAccepted, "S" + std::to_string(record.type) + " matches"};
}

} // namespace modsim
