#include "linecheck.h"

#include "protocol.h"

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

} // namespace

Verdict evaluate(const std::function<bool(uint8_t &)> &takeCode, const QString &peerName,
                 const QByteArray &lineText)
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
        } else if (code == ChecksumError) {
            verdict.messages.append(DebugLine().quoted(peerName)
                                    << "Checksum error, repeating line:");
            verdict.messages.last().quoted(lineText);
            verdict.repeatLine = verdict.answered = true;
            ++verdict.refusals;
        } else if (isOtherError(code)) {
            DebugLine line;
            line.quoted(peerName) << "Other error: 0x";
            line.plain(QString::number(code, 16)) << ", repeating line:";
            verdict.messages.append(line.quoted(lineText));
            verdict.repeatLine = verdict.answered = true;
            ++verdict.refusals;
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

DebugLine timeoutMessage(const QString &peerName, const QByteArray &lineText)
{
    DebugLine line;
    line.quoted(peerName) << "Timeout, repeating line:";
    return line.quoted(lineText);
}

} // namespace linecheck
