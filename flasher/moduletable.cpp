#include "moduletable.h"

#include <chrono>

ModuleRecord &ModuleTable::recordOf(uint16_t id)
{
    const auto [entry, inserted] = table_.try_emplace(id);
    entry->second.id = id;
    return entry->second;
}

ModuleRecord ModuleTable::currentRecord()
{
    return withCurrent([](const ModuleRecord &record) { return record; });
}

void ModuleTable::setCurrent(uint16_t id)
{
    std::lock_guard lock(mutex_);
    current_ = id;
}

uint16_t ModuleTable::current() const
{
    std::lock_guard lock(mutex_);
    return current_;
}

int ModuleTable::count() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(table_.size());
}

std::optional<uint16_t> ModuleTable::first() const
{
    std::lock_guard lock(mutex_);
    if (table_.empty())
        return std::nullopt;
    return table_.begin()->first;
}

template <typename Keep>
QList<uint16_t> ModuleTable::idsWhere(Keep keep) const
{
    std::lock_guard lock(mutex_);
    QList<uint16_t> ids;
    for (const auto &[id, record] : table_) {
        if (keep(record))
            ids.append(id);
    }
    return ids;
}

std::optional<uint16_t> ModuleTable::nextPending() const
{
    const QList<uint16_t> pending =
        idsWhere([](const ModuleRecord &record) { return !record.done && !record.skipped && !record.failed; });
    if (pending.isEmpty())
        return std::nullopt;
    return pending.first();
}

QList<uint16_t> ModuleTable::ids() const
{
    return idsWhere([](const ModuleRecord &) { return true; });
}

QList<uint16_t> ModuleTable::notUpdated() const
{
    return idsWhere([](const ModuleRecord &record) { return !record.done && !record.skipped; });
}

int ModuleTable::doneCount() const
{
    return static_cast<int>(idsWhere([](const ModuleRecord &record) { return record.done; }).size());
}

void ModuleTable::logOn(uint16_t id, uint8_t deviceClass)
{
    std::lock_guard lock(mutex_);
    const bool known = table_.count(id) != 0;
    ModuleRecord &record = recordOf(id);
    if (!known)
        record.deviceClass = deviceClass;
    if (id == current_)
        record.loggedOn = true;
    changed_.notify_all();
}

void ModuleTable::reupdateLogOn(uint16_t id)
{
    std::lock_guard lock(mutex_);
    if (table_.count(id) == 0)
        recordOf(id).reupdate = true;
    changed_.notify_all();
}

bool ModuleTable::holds(Event event)
{
    if (event == Event::AnyModule)
        return !table_.empty();
    const ModuleRecord &record = recordOf(current_);
    switch (event) {
    case Event::FlashFrameAcked:
        return record.flashFrameAcked;
    case Event::ErrorQueued:
        return !record.errors.empty();
    case Event::LoggedOn:
        return record.loggedOn;
    case Event::Ready:
        return record.updateReady;
    case Event::AnyModule:
        break;
    }
    return false;
}

bool ModuleTable::waitFor(Event event, Time deadline)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [this, event] { return waitsCut_ || holds(event); });
    return holds(event);
}

bool ModuleTable::pause(Time deadline)
{
    std::unique_lock lock(mutex_);
    return !changed_.wait_until(lock, deadline, [this] { return waitsCut_; });
}

bool ModuleTable::waitUntil(const std::function<bool()> &done, Time deadline)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline, done);
}

bool ModuleTable::holdsNow(Event event)
{
    std::lock_guard lock(mutex_);
    return holds(event);
}

void ModuleTable::cutWaitsShort()
{
    std::lock_guard lock(mutex_);
    waitsCut_ = true;
    changed_.notify_all();
}
