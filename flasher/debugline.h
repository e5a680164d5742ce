// Diagnostic lines as the console program writes them: every item followed by
// one space; a text held in a variable enclosed in double quotes.
#pragma once

#include <QByteArray>
#include <QString>

class DebugLine
{
public:
    DebugLine &operator<<(const char *fixedText);
    DebugLine &operator<<(long long number);
    DebugLine &operator<<(int number) { return *this << static_cast<long long>(number); }
    DebugLine &quoted(const QString &text);
    DebugLine &quoted(const QByteArray &text);
    // A fixed text that was computed, e.g. a keyword or a number in hex.
    DebugLine &plain(const QString &text);

    const QString &text() const { return text_; }

private:
    QString text_;
};
