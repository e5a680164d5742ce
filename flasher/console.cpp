#include "console.h"

#include "debugline.h"

#include <QTextStream>

Console::Console(QTextStream &out, QTextStream &err) : out_(out), err_(err) {}

void Console::out(const QString &line)
{
    std::lock_guard lock(mutex_);
    out_ << line << '\n';
    out_.flush();
}

void Console::outNoNewline(const QString &text)
{
    std::lock_guard lock(mutex_);
    out_ << text;
    out_.flush();
}

void Console::err(const QString &line)
{
    std::lock_guard lock(mutex_);
    out_.flush();
    err_ << line << '\n';
    err_.flush();
}

void Console::debug(const DebugLine &line)
{
    err(line.text());
}
