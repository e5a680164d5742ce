#include "linecheck.h"

#include "protocol.h"

#include <QCoreApplication>

namespace linecheck {

using namespace protocol::status;

namespace {

bool isAcceptance(uint8_t code)
{
    return code == LineAccepted || code == LineAcceptedToo;
}
bool isFlashError(uint8_t code)
{
    return code == FlashError || code == FlashErrorToo;
}
bool isOtherError(uint8_t code)
{
    return code >= OtherErrorFirst && code <= OtherErrorLast;
}
bool isVersionError(uint8_t code)
{
    return code == GeneralProjectVersion || code == UpdateVersionToHigh;
}

// What follows a refusal, in the words of its notice.
enum class After { Repeat, GiveUp, RunEnds };

const char *afterText(After after)
{
    switch (after) {
    case After::Repeat:
        return ", repeating line:";
    case After::GiveUp:
        return ", giving up line:";
    case After::RunEnds:
        return ", the run ends: the module refused the firmware's version, line:";
    }
    return "";
}

const char *repeatText(bool repeating)
{
    return afterText(repeating ? After::Repeat : After::GiveUp);
}

DebugLine refusalMessage(uint8_t code, const QString &peerName, const QByteArray &lineText, After after)
{
    DebugLine line;
    if (code == ChecksumError) {
        line.quoted(peerName).plain(QLatin1String("Checksum error") + afterText(after));
    } else {
        line.quoted(peerName) << "Other error: 0x";
        line.plain(QString::number(code, 16)) << afterText(after);
    }
    return line.quoted(lineText);
}

} // namespace

Verdict evaluate(const std::function<bool(uint8_t &)> &takeCode, const QString &peerName,
                 const QByteArray &lineText, int refusalsLeft)
{
    Verdict verdict;
    uint8_t code = 0;
    while (takeCode(code)) {
        if (isAcceptance(code)) {
            verdict.answered = true;
        } else if (isFlashError(code)) {
            verdict.messages.append(DebugLine().quoted(peerName)
                                    << "Flash error, restarting writing from the beginning.");
            verdict.flashError = true;
        } else if (code == ChecksumError || isOtherError(code)) {
            // A version error ends the run whatever the count: no repeat follows.
            const bool repeating = ++verdict.refusals < refusalsLeft;
            const After after = isVersionError(code) ? After::RunEnds : repeating ? After::Repeat : After::GiveUp;
            verdict.messages.append(refusalMessage(code, peerName, lineText, after));
            verdict.repeatLine = verdict.answered = true;
        }
        if (isVersionError(code)) {
            const bool project = code == GeneralProjectVersion;
            verdict.messages.append(DebugLine()
                                    << (project ? "Error: GeneralProjectVersion" : "Error: UpdateVersionToHigh"));
            verdict.versionError =
                project ? VersionError::GeneralProjectVersion : VersionError::UpdateVersionToHigh;
            verdict.answered = false;
            return verdict;
        }
    }
    return verdict;
}

DebugLine timeoutMessage(const QString &peerName, const QByteArray &lineText, bool repeating)
{
    DebugLine line;
    line.quoted(peerName).plain(QLatin1String("Timeout") + repeatText(repeating));
    return line.quoted(lineText);
}

QString giveUpReason(int refusals, int timeouts)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("FirmwareUpdateThread", text); };
    if (timeouts == 0)
        return tr("line refused %1 times in a row").arg(refusals);
    if (refusals == 0)
        return tr("no answer to the line, %1 times in a row").arg(timeouts);
    return tr("line refused %1 times and not answered %2 times, in a row").arg(refusals).arg(timeouts);
}

} // namespace linecheck
