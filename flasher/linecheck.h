// The rules by which the status codes a module reports after a firmware line
// decide how the update goes on.
//
//   0x81, 0x85         line accepted
//   0x91, 0x93         flash error: restart the flashing from the first line
//   0x92               checksum error: the same line again
//   0x94..0x98         other error: the same line again; 0x97 and 0x98 also
//                      end the run (project version, update version too high)
//   anything else      dropped
#pragma once

#include "debugline.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>

namespace linecheck {

enum class VersionError { None, GeneralProjectVersion, UpdateVersionToHigh };

struct Verdict
{
    bool answered = false; // the sequence may send the next (or the same) line
    bool repeatLine = false;
    int refusals = 0;        // checksum and other errors among the codes taken
    bool flashError = false; // restart the flashing phase
    VersionError versionError = VersionError::None;
    QList<DebugLine> messages;
};

// Takes codes oldest first until none is left or a version error stops the
// evaluation; codes after a version error stay queued.
// takeCode: false when no code is queued. refusalsLeft: the refusals the line
// may still take; the one that uses up the last gives the line up, and its
// message says so instead of promising a repeat.
Verdict evaluate(const std::function<bool(uint8_t &)> &takeCode, const QString &peerName,
                 const QByteArray &lineText, int refusalsLeft);

// repeating: the line goes again after this timeout; else it is given up.
DebugLine timeoutMessage(const QString &peerName, const QByteArray &lineText, bool repeating);

// Why a line was given up, from its refusals and timeouts in a row: a silent
// module reads differently from a refusing one.
QString giveUpReason(int refusals, int timeouts);

} // namespace linecheck
