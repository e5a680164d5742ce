#include "runoutcome.h"

#include "protocol.h"

#include <QCoreApplication>

namespace runoutcome {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FirmwareUpdateThread", text);
}

// Selected modules that never logged on were not updated either.
QList<uint16_t> selectedButAbsent(const Facts &facts)
{
    QList<uint16_t> present;
    for (uint16_t id : facts.moduleIds)
        present.append(protocol::identifierOf(id));
    QList<uint16_t> absent;
    for (uint16_t id : facts.canIds) {
        const auto onLine = static_cast<uint16_t>(protocol::canLineBits(facts.canLine) | id);
        if (!present.contains(id) && !absent.contains(onLine))
            absent.append(onLine);
    }
    return absent;
}

} // namespace

Outcome judge(const Facts &facts)
{
    Outcome outcome;
    const QList<uint16_t> notUpdated = facts.notUpdated + selectedButAbsent(facts);
    if (facts.moduleIds.isEmpty() && facts.stopped) {
        outcome.errors.append(tr("Error: Run stopped before any module logged on"));
    } else if (facts.moduleIds.isEmpty()) {
        outcome.errors.append(tr("Error: No module logged on, no module updated"));
    } else if (!notUpdated.isEmpty()) {
        QStringList ids;
        for (uint16_t id : notUpdated)
            ids.append(QString::number(id, 16));
        outcome.errors.append(tr("Error: Modules not updated: %1").arg(ids.join(u' ')));
    } else if (facts.done == 0) {
        outcome.errors.append(tr("Error: No module fits the file and the selection, no module updated"));
    } else if (facts.runFailed) {
        outcome.errors.append(tr("Error: The run did not end normally"));
    } else {
        outcome.succeeded = true;
    }
    return outcome;
}

} // namespace runoutcome
