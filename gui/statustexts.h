#pragma once

#include "outputparser.h"

#include <QString>
#include <QtGlobal>

#include <optional>

// What the window says about a run or a scan beyond the console program's
// own lines: the question before a run is stopped, how a child ended in the
// status bar, and the note on modules scanned on another bus.

// moduleInWork: the module the run works on, if one has been named.
QString stopRunQuestion(std::optional<uint> moduleInWork);

// A run's child that ended without its final or error line: nothing for a
// clean end, else a red status, so that the bar does not read as if the run
// went on.
std::optional<StatusChange> unexpectedEndStatus(bool crashed, int exitCode);

// The scan's own Error: line first, then how the child ended, then the count.
StatusChange scanEndStatus(const std::optional<QString> &scanError, bool crashed, int exitCode, int modulesFound);

// A run or scan the user stopped: the Error: line of its closing, if any,
// else how the child ended.
StatusChange stoppedStatus(bool wasScan, const std::optional<QString> &stopError, bool crashed, int exitCode);

QString scanNoteText(const QString &hardware, const QString &bitRate, const QString &channel);
