#include "debugline.h"

DebugLine &DebugLine::operator<<(const char *fixedText)
{
    return plain(QString::fromUtf8(fixedText));
}

DebugLine &DebugLine::operator<<(long long number)
{
    return plain(QString::number(number));
}

DebugLine &DebugLine::plain(const QString &text)
{
    text_ += text;
    text_ += u' ';
    return *this;
}

DebugLine &DebugLine::quoted(const QString &text)
{
    // Escaped like the debug stream does, so that a quote inside the text
    // cannot end the quoted item early for a reader of the line.
    QString escaped = text;
    escaped.replace(u'\\', QLatin1String("\\\\"));
    escaped.replace(u'"', QLatin1String("\\\""));
    return plain(u'"' + escaped + u'"');
}

DebugLine &DebugLine::quoted(const QByteArray &text)
{
    return quoted(QString::fromLatin1(text));
}
