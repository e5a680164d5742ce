#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Programs that hold the CAN adapter or talk to the same modules and so can
// spoil an update, in the order they are reported.
const QStringList &conflictingPrograms();

// True when an executable's file name is the listed program, with or without
// its ".exe" (a Windows program under an emulator keeps it, a native build
// does not). Case-sensitive, whole names only: "tarvCanFlashGui" is not
// "tarvCanFlash".
bool isListedProgram(const QString &executable, const QString &listed);

// The listed programs among the running executables, each once, in list order.
QStringList findConflictingPrograms(const QStringList &runningExecutables);

// The listed name as the warning shows it: Windows names its programs with
// ".exe", other systems without.
QString shownProgramName(const QString &listed, bool windows);

// File name part of a path written with either separator.
QString executableFileName(const QString &path);

// Executable file names of the running processes, or nothing when the list
// cannot be taken before the deadline.
using ProcessListSource = std::function<std::optional<QStringList>(QDeadlineTimer deadline)>;

// The executable names found under a procfs root ("/proc" on Linux). Each
// process contributes the file names of its executable link and of its
// argv[0]; a process showing neither (a kernel thread) contributes its
// command name.
std::optional<QStringList> readProcExecutables(const QString &procRoot, QDeadlineTimer deadline);

// The operating system's own list: /proc on Linux, "tasklist" on Windows.
std::optional<QStringList> systemProcessList(QDeadlineTimer deadline);

inline constexpr int processListTimeoutMs = 2000;
