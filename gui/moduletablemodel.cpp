#include "moduletablemodel.h"

#include <QBrush>
#include <QColor>
#include <QFileInfo>

#include <algorithm>

int ModuleTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

int ModuleTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString ModuleTableModel::stateText(const Row &row) const
{
    switch (row.state) {
    case State::Waiting:
        return tr("waiting");
    case State::WaitingForReady:
        return tr("waiting for its ready report");
    case State::Flashing:
        return tr("flashing %1 %").arg(row.percent);
    case State::Comparing:
        return tr("comparing %1 %").arg(row.percent);
    case State::Restarting:
        return tr("restarting");
    case State::Restarted:
        return tr("restarted: result at the end of the run");
    case State::Updated:
        return tr("updated");
    case State::NotUpdated:
        return tr("not updated: %1").arg(row.reason);
    case State::Skipped:
        return tr("skipped: %1").arg(row.reason);
    case State::Unknown:
        return tr("unknown: the program ended");
    }
    return {};
}

QVariant ModuleTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = rows.at(index.row());
    switch (role) {
    case Qt::CheckStateRole:
        return checkState(row, index.column());
    case Qt::ForegroundRole:
        return index.column() == NameColumn ? nameColour(row) : stateColour(row.state);
    // A long reason is cut at the window's edge; the tool tip shows it whole.
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return cellText(row, index.column());
    }
    return {};
}

QVariant ModuleTableModel::checkState(const Row &row, int column)
{
    if (column != IdColumn || !row.checkable)
        return {};
    return row.checked ? Qt::Checked : Qt::Unchecked;
}

QBrush ModuleTableModel::nameColour(const Row &row) const
{
    // Red: whatever file is chosen goes into a module in re-update state.
    if (row.reupdate)
        return QBrush(QColor(QStringLiteral("red")));
    const bool fits = !row.name.isEmpty() && firmwareFile.contains(row.name);
    return QBrush(QColor(fits ? QStringLiteral("green") : QStringLiteral("black")));
}

// The colours of the status bar's style sheets.
QBrush ModuleTableModel::stateColour(State state)
{
    switch (state) {
    case State::Flashing:
    case State::Comparing:
    case State::Restarting:
    case State::Restarted:
    case State::Updated:
        return QBrush(QColor(QStringLiteral("green")));
    case State::NotUpdated:
    case State::Unknown:
        return QBrush(QColor(QStringLiteral("red")));
    case State::Waiting:
    case State::WaitingForReady:
    case State::Skipped:
        break;
    }
    return QBrush(QColor(QStringLiteral("black")));
}

QVariant ModuleTableModel::cellText(const Row &row, int column) const
{
    switch (column) {
    case IdColumn:
        return QString::number(row.id, 16);
    case NameColumn:
        return row.reupdate ? tr("%1, in re-update state: takes any file").arg(row.name) : row.name;
    case SerialColumn:
        return row.serial;
    case ReleaseColumn:
        return row.release;
    case StateColumn:
        return stateText(row);
    case RepeatsColumn:
        return row.repeats;
    }
    return {};
}

QVariant ModuleTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case IdColumn:
        return tr("id");
    case NameColumn:
        return tr("firmware");
    case SerialColumn:
        return tr("serial");
    case ReleaseColumn:
        return tr("release");
    case StateColumn:
        return tr("state");
    case RepeatsColumn:
        return tr("repeats");
    }
    return {};
}

Qt::ItemFlags ModuleTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == IdColumn && rows.at(index.row()).checkable && !checksLocked)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

bool ModuleTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || !(flags(index) & Qt::ItemIsUserCheckable))
        return false;
    rows[index.row()].checked = value.value<Qt::CheckState>() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

void ModuleTableModel::reset()
{
    beginResetModel();
    rows.clear();
    inWork.reset();
    fromScan = false;
    scanning = false;
    endResetModel();
}

void ModuleTableModel::startScan()
{
    reset();
    fromScan = true;
    scanning = true;
}

void ModuleTableModel::startRun()
{
    scanning = false;
    if (!fromScan) {
        reset();
        return;
    }
    beginResetModel();
    QList<Row> kept;
    for (const Row &row : std::as_const(rows)) {
        if (!row.checkable)
            continue;
        Row fresh;
        fresh.id = row.id;
        fresh.name = row.name;
        fresh.serial = row.serial;
        fresh.release = row.release;
        fresh.checkable = true;
        fresh.checked = row.checked;
        kept.append(fresh);
    }
    rows = kept;
    inWork.reset();
    endResetModel();
}

void ModuleTableModel::setChecksLocked(bool locked)
{
    checksLocked = locked;
    if (!rows.isEmpty())
        emit dataChanged(index(0, IdColumn), index(int(rows.size()) - 1, IdColumn));
}

QList<ModuleChoice> ModuleTableModel::choices() const
{
    QList<ModuleChoice> result;
    for (const Row &row : rows) {
        if (row.checkable)
            result.append({row.id, row.checked});
    }
    return result;
}

std::optional<QList<uint>> ModuleTableModel::chosenIds() const
{
    if (!fromScan)
        return std::nullopt;
    QList<uint> ids;
    for (const Row &row : rows) {
        if (row.checkable && row.checked)
            ids.append(row.id);
    }
    return ids;
}

void ModuleTableModel::setFirmwareFile(const QString &fileName)
{
    // The console program matches the file's own name, never its folders.
    firmwareFile = QFileInfo(fileName).fileName();
    if (!rows.isEmpty())
        emit dataChanged(index(0, NameColumn), index(int(rows.size()) - 1, NameColumn), {Qt::ForegroundRole});
}

int ModuleTableModel::rowFor(uint id)
{
    const auto at = std::lower_bound(rows.begin(), rows.end(), id,
                                     [](const Row &row, uint wanted) { return row.id < wanted; });
    const int row = int(at - rows.begin());
    if (at != rows.end() && at->id == id)
        return row;
    beginInsertRows({}, row, row);
    Row added;
    added.id = id;
    rows.insert(row, added);
    endInsertRows();
    return row;
}

void ModuleTableModel::rowChanged(int row)
{
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void ModuleTableModel::moveOnTo(uint id)
{
    if (!inWork || *inWork == id)
        return;
    const int row = rowFor(*inWork);
    if (rows[row].state == State::Restarting) {
        rows[row].state = State::Restarted;
        rowChanged(row);
    }
}

void ModuleTableModel::apply(const ModuleEvent &event)
{
    // A scan also reports each module as skipped; only what it found counts.
    if (scanning && event.kind != ModuleEventKind::Identity)
        return;
    if (event.kind == ModuleEventKind::Restart || event.kind == ModuleEventKind::Repeat) {
        if (!inWork)
            return;
        const int row = rowFor(*inWork);
        if (event.kind == ModuleEventKind::Restart)
            rows[row].state = State::Restarting;
        else
            ++rows[row].repeats;
        rowChanged(row);
        return;
    }
    if (event.kind == ModuleEventKind::Identity || event.kind == ModuleEventKind::Progress)
        moveOnTo(event.id);
    const int row = rowFor(event.id);
    applyToRow(row, event);
    rowChanged(row);
}

void ModuleTableModel::applyToRow(int row, const ModuleEvent &event)
{
    Row &r = rows[row];
    switch (event.kind) {
    case ModuleEventKind::Identity:
        if (scanning) {
            r.checkable = true;
            r.checked = true;
        } else if (r.state == State::Waiting) {
            r.state = State::WaitingForReady;
        }
        r.name = event.name;
        r.serial = event.serial;
        r.release = event.release;
        r.reupdate = event.reupdate;
        inWork = event.id;
        break;
    case ModuleEventKind::Progress:
        r.state = event.phase == RunPhase::Flashing ? State::Flashing : State::Comparing;
        r.percent = event.percent;
        inWork = event.id;
        break;
    case ModuleEventKind::Updated:
        r.state = State::Updated;
        break;
    case ModuleEventKind::NotUpdated:
    case ModuleEventKind::Skipped:
        r.state = event.kind == ModuleEventKind::Skipped ? State::Skipped : State::NotUpdated;
        r.reason = event.reason;
        break;
    case ModuleEventKind::Restart:
    case ModuleEventKind::Repeat:
        break;
    }
}

bool ModuleTableModel::inWorkState(const Row &row)
{
    switch (row.state) {
    case State::Waiting:
        // A scan's row waits for its turn only when it was chosen.
        return row.checkable && row.checked;
    case State::WaitingForReady:
    case State::Flashing:
    case State::Comparing:
    case State::Restarting:
    case State::Restarted:
        return true;
    case State::Updated:
    case State::NotUpdated:
    case State::Skipped:
    case State::Unknown:
        break;
    }
    return false;
}

void ModuleTableModel::finishRun()
{
    if (scanning)
        return;
    for (int row = 0; row < rows.size(); ++row) {
        if (!inWorkState(rows[row]))
            continue;
        rows[row].state = State::Unknown;
        rowChanged(row);
    }
    inWork.reset();
}

ModuleTableModel::Tally ModuleTableModel::tally() const
{
    Tally tally;
    for (const Row &row : rows) {
        // A module chosen for the run and skipped by it is not updated all the same.
        const bool chosenSkipped = row.state == State::Skipped && row.checkable && row.checked;
        if (row.state == State::Updated)
            ++tally.updated;
        else if (row.state == State::NotUpdated || row.state == State::Unknown || chosenSkipped)
            ++tally.notUpdated;
    }
    return tally;
}

int ModuleTableModel::rowOf(uint id) const
{
    const auto at = std::find_if(rows.cbegin(), rows.cend(), [id](const Row &row) { return row.id == id; });
    return at == rows.cend() ? -1 : int(at - rows.cbegin());
}

QStringList ModuleTableModel::failures() const
{
    static const QBrush failed(QColor(QStringLiteral("red")));
    QStringList lines;
    for (int row = 0; row < rows.size(); ++row) {
        if (data(index(row, StateColumn), Qt::ForegroundRole).value<QBrush>() == failed)
            lines.append(tr("module %1: %2").arg(rows.at(row).id, 0, 16).arg(stateText(rows.at(row))));
    }
    return lines;
}
