// The library's open lines by number. Callers hold a record through a
// shared_ptr for the length of one call, so closing a line while another
// thread sends or reads on it leaves that thread a stopped but valid record.
#pragma once

#include "linerecord.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace tarvpcan3 {

class LineTable
{
public:
    std::shared_ptr<LineRecord> find(int32_t line) const;
    // The lowest-numbered line.
    std::shared_ptr<LineRecord> first() const;
    // Stores the record; gives back the one it replaces.
    std::shared_ptr<LineRecord> put(int32_t line, std::shared_ptr<LineRecord> record);
    std::shared_ptr<LineRecord> remove(int32_t line);
    bool empty() const;

private:
    mutable std::mutex lock_;
    std::map<int32_t, std::shared_ptr<LineRecord>> lines_;
};

LineTable &lineTable();

// Serialises opening and closing lines; sends and reads never take it.
std::mutex &lifecycleLock();

// With the lifecycle lock held: stops the line's earlier record, starts the
// new one and stores it, and keeps the clock-correction timer running. False
// when the record cannot start; the line is closed then.
bool openLine(int32_t line, const std::shared_ptr<LineRecord> &record);
// With the lifecycle lock held: removes and stops the line's record; the timer
// stops with the last line. Gives back the record, null when none was open.
std::shared_ptr<LineRecord> closeLine(int32_t line);

} // namespace tarvpcan3
