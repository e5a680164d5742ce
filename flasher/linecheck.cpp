#include "linecheck.h"

namespace linecheck {

namespace {

bool isAcceptance(uint8_t code) { return code == 0x81 || code == 0x85; }
bool isFlashError(uint8_t code) { return code == 0x91 || code == 0x93; }
bool isOtherError(uint8_t code) { return code >= 0x94 && code <= 0x98; }

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
        } else if (code == 0x92) {
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
        if (code == 0x97 || code == 0x98) {
            verdict.messages.append(DebugLine() << (code == 0x97 ? "Error: GeneralProjectVersion"
                                                                 : "Error: UpdateVersionToHigh"));
            verdict.versionError = code == 0x97 ? VersionError::GeneralProjectVersion
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
