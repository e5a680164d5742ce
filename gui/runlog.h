#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

// The console program's output of every run, kept from the run's first line
// whether a log window exists or not: the cause of an error often stands
// lines before the error itself.
class RunLog : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Trimmed at both ends and decoded as UTF-8, the console program's encoding.
    void appendLine(const QByteArray &line);
    void clear();

    const QStringList &lines() const { return collected; }
    // One line per line, each ended by a line feed.
    QString text() const;

signals:
    void lineAppended(const QString &line);
    void cleared();

private:
    QStringList collected;
};

// Writes text as UTF-8 to a regular file at path, from its start. A symbolic
// link or anything but a regular file at path is refused, so the log never
// lands where a link points. Returns an empty text on success, else the
// reason, ready to show.
QString saveLogText(const QString &path, const QString &text);
