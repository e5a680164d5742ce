// The modules on the CAN line: one record per module id, in ascending id
// order, and the module the update works on.
//
// The receive thread's slots create and change records while the update
// thread reads and changes the current one and waits for answers. Every
// access holds the table's mutex, and every change wakes the waiters.
#pragma once

#include "modulerecord.h"

#include <QDeadlineTimer>
#include <QList>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

class ModuleTable
{
public:
    // Calls f with the record of id under the lock, creating the record with
    // its defaults when id is new, and returns what f returns. f must not
    // call back into the table.
    template <typename F>
    decltype(auto) with(uint16_t id, F &&f)
    {
        std::lock_guard lock(mutex_);
        // Waiters wake only once the lock is released, after f.
        changed_.notify_all();
        return f(recordOf(id));
    }
    template <typename F>
    decltype(auto) withCurrent(F &&f)
    {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
        return f(recordOf(current_));
    }
    // A copy of the current record, for reading several of its fields.
    ModuleRecord currentRecord();

    void setCurrent(uint16_t id);
    uint16_t current() const;
    int count() const;
    std::optional<uint16_t> first() const;
    // The module with the smallest id that is neither done, skipped nor
    // failed. One look at the table, so that a module logging on meanwhile
    // cannot make a handled one look pending.
    std::optional<uint16_t> nextPending() const;
    QList<uint16_t> ids() const;        // every module that logged on
    QList<uint16_t> notUpdated() const; // neither done nor skipped
    int doneCount() const;

    // A log-on: a new module comes in with its device class (a known one
    // stays as it is); the current module counts as logged on.
    void logOn(uint16_t id, uint8_t deviceClass);
    // A module that logs on in re-update state; a known one stays as it is.
    void reupdateLogOn(uint16_t id);

    // What the update thread can wait for; each but AnyModule is about the
    // current module.
    enum class Event { AnyModule, FlashFrameAcked, ErrorQueued, LoggedOn, Ready };
    using Time = std::chrono::steady_clock::time_point;
    // True as soon as the event holds, false when the deadline passes first
    // or the waits were cut short.
    bool waitFor(Event event, Time deadline);
    bool waitFor(Event event, QDeadlineTimer deadline)
    {
        return waitFor(event, deadline.deadline<std::chrono::steady_clock>());
    }
    // Until the deadline; false when the waits were cut short.
    bool pause(Time deadline);
    // Until done() holds, asked under the table's lock at every change, or
    // the deadline passes; cut waits do not end it. done() must not call
    // back into the table.
    bool waitUntil(const std::function<bool()> &done, Time deadline);
    // Whether the event holds now, without waiting.
    bool holdsNow(Event event);
    // A stop: every wait, now and from now on, ends at once.
    void cutWaitsShort();

private:
    template <typename Keep>
    QList<uint16_t> idsWhere(Keep keep) const;
    // Under mutex_.
    ModuleRecord &recordOf(uint16_t id);
    bool holds(Event event);

    // std:: rather than Qt's own: the thread sanitizer sees through these.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    uint16_t current_ = 0;
    bool waitsCut_ = false;
    std::map<uint16_t, ModuleRecord> table_;
};
