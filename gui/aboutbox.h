#pragma once

#include <QString>

// The About box's text: what is installed, this window's version and the
// console program's and its driver library's as the console program
// reports them (or why it did not).
QString aboutText(const QString &flasherProgram);
