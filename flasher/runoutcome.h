// How a run ended, judged from the module table at its end: whether it
// succeeded, and the error lines that say why not.
#pragma once

#include <QList>
#include <QStringList>

#include <cstdint>

namespace runoutcome {

struct Facts
{
    QList<uint16_t> moduleIds;  // every module that logged on
    QList<uint16_t> notUpdated; // of those, the ones neither done nor skipped
    int done = 0;
    QList<uint16_t> canIds; // the selection, empty for every module
    uint16_t canLine = 0;
    bool runFailed = false; // version error, lost connection
    bool stopped = false;   // by a signal
};

struct Outcome
{
    // Every selected module whose name fits the file was updated, at least
    // one was, and nothing broke the run.
    bool succeeded = false;
    QStringList errors;
};

Outcome judge(const Facts &facts);

} // namespace runoutcome
