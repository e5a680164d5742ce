// A firmware line as it travels: white space simplified, CR LF at its end.
#pragma once

#include <QByteArray>

namespace linetext {

// Trims white space, folds inner runs into one space, appends CR LF.
QByteArray normalise(const QByteArray &rawLine);

// The line without its CR LF, as the line-check messages quote it.
QByteArray withoutLineEnd(const QByteArray &line);

} // namespace linetext
