#include "linetable.h"

#include "clocksync.h"

namespace tarvpcan3 {

std::shared_ptr<LineRecord> LineTable::find(int32_t line) const
{
    std::lock_guard lock(lock_);
    const auto it = lines_.find(line);
    return it == lines_.end() ? nullptr : it->second;
}

std::shared_ptr<LineRecord> LineTable::first() const
{
    std::lock_guard lock(lock_);
    return lines_.empty() ? nullptr : lines_.begin()->second;
}

std::shared_ptr<LineRecord> LineTable::put(int32_t line, std::shared_ptr<LineRecord> record)
{
    std::lock_guard lock(lock_);
    auto &slot = lines_[line];
    std::swap(slot, record);
    return record;
}

std::shared_ptr<LineRecord> LineTable::remove(int32_t line)
{
    std::lock_guard lock(lock_);
    const auto it = lines_.find(line);
    if (it == lines_.end())
        return nullptr;
    auto record = std::move(it->second);
    lines_.erase(it);
    return record;
}

bool LineTable::empty() const
{
    std::lock_guard lock(lock_);
    return lines_.empty();
}

LineTable &lineTable()
{
    // Never destroyed: when the process ends with a line open, the system has
    // ended the line's threads already, and a destructor that stops the line
    // then can wait for ever (it did under Windows).
    static LineTable *const table = new LineTable;
    return *table;
}

std::mutex &lifecycleLock()
{
    static std::mutex lock;
    return lock;
}

bool openLine(int32_t line, const std::shared_ptr<LineRecord> &record)
{
    closeLine(line);
    if (!record->start())
        return false;
    lineTable().put(line, record);
    clockSync().start();
    return true;
}

std::shared_ptr<LineRecord> closeLine(int32_t line)
{
    auto record = lineTable().remove(line);
    if (record)
        record->stop();
    if (lineTable().empty())
        clockSync().stop();
    return record;
}

} // namespace tarvpcan3
