#include "moduletablemodel.h"

#include <QBrush>
#include <QColor>

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
    case State::Flashing:
        return tr("flashing %1 %").arg(row.percent);
    case State::Comparing:
        return tr("comparing %1 %").arg(row.percent);
    case State::Restarting:
        return tr("restarting");
    case State::Updated:
        return tr("updated");
    case State::NotUpdated:
        return tr("not updated: %1").arg(row.reason);
    case State::Skipped:
        return tr("skipped: %1").arg(row.reason);
    }
    return {};
}

QVariant ModuleTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = rows.at(index.row());
    if (role == Qt::ForegroundRole) {
        // The colours of the status bar's style sheets.
        switch (row.state) {
        case State::Flashing:
        case State::Comparing:
        case State::Restarting:
        case State::Updated:
            return QBrush(QColor(QStringLiteral("green")));
        case State::NotUpdated:
            return QBrush(QColor(QStringLiteral("red")));
        case State::Waiting:
        case State::Skipped:
            break;
        }
        return QBrush(QColor(QStringLiteral("black")));
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case IdColumn:
        return QString::number(row.id, 16);
    case NameColumn:
        return row.name;
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

void ModuleTableModel::reset()
{
    beginResetModel();
    rows.clear();
    inWork.reset();
    endResetModel();
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

void ModuleTableModel::apply(const ModuleEvent &event)
{
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
    const int row = rowFor(event.id);
    Row &r = rows[row];
    switch (event.kind) {
    case ModuleEventKind::Identity:
        r.name = event.name;
        r.serial = event.serial;
        r.release = event.release;
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
    rowChanged(row);
}
