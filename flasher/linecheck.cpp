#include "linecheck.h"

#include "protocol.h"

#include <QCoreApplication>

namespace linecheck {

using namespace protocol::status;

namespace {

bool isAcceptance(uint8_t code) { return code == LineAccepted || code == LineAcceptedToo; }
bool isFlashError(uint8_t code) { return code == FlashError || code == FlashErrorToo; }
bool isOtherError(uint8_t code) { return code >= OtherErrorFirst && code <= OtherErrorLast; }
bool isVersionError(uint8_t code)
{
    return code == GeneralProjectVersion || code == UpdateVersionToHigh;
}

const char *repeatText(bool repeating)
{
    return repeating ? ", repeating line:" : ", giving up line:";
}

DebugLine refusalMessage(uint8_t code, const QString &peerName, const QByteArray &lineText,
                         bool repeating)
{
    DebugLine line;
    if (code == ChecksumError) {
        line.quoted(peerName).plain(QLatin1String("Checksum error") + repeatText(repeating));
    } else {
        line.quoted(peerName) << "Other error: 0x";
        line.plain(QString::number(code, 16)) << repeatText(repeating);
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
            // A version error ends the run whatever the count; its line keeps its wording.
            const bool repeating = ++verdict.refusals < refusalsLeft || isVersionError(code);
            verdict.messages.append(refusalMessage(code, peerName, lineText, repeating));
            verdict.repeatLine = verdict.answered = true;
        }
        if (isVersionError(code)) {
            const bool project = code == GeneralProjectVersion;
            verdict.messages.append(DebugLine() << (project ? "Error: GeneralProjectVersion"
                                                            : "Error: UpdateVersionToHigh"));
            verdict.versionError = project ? VersionError::GeneralProjectVersion
                                           : VersionError::UpdateVersionToHigh;
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
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("FirmwareUpdateThread", text);
    };
    if (timeouts == 0)
        return tr("line refused %1 times in a row").arg(refusals);
    if (refusals == 0)
        return tr("no answer to the line, %1 times in a row").arg(timeouts);
    return tr("line refused %1 times and not answered %2 times, in a row")
        .arg(refusals)
        .arg(timeouts);
}

} // namespace linecheck
