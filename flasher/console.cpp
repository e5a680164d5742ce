#include "console.h"

#include "debugline.h"

#include <QTextStream>

Console::Console(QTextStream &out, QTextStream &err)
    : out_(out)
    , err_(err)
{}

// A stream that failed once keeps its unwritten text and grows with every
// line; it is not written to again.
void Console::write(QTextStream &stream, bool &lost, const QString &text)
{
    if (lost)
        return;
    stream << text;
    stream.flush();
    lost = stream.status() != QTextStream::Ok;
}

void Console::out(const QString &line)
{
    std::lock_guard lock(mutex_);
    write(out_, outLost_, line + u'\n');
}

void Console::outNoNewline(const QString &text)
{
    std::lock_guard lock(mutex_);
    write(out_, outLost_, text);
}

void Console::err(const QString &line)
{
    std::lock_guard lock(mutex_);
    write(err_, errLost_, line + u'\n');
}

void Console::debug(const DebugLine &line)
{
    err(line.text());
}
