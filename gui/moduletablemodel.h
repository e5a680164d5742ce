#pragma once

#include "outputparser.h"

#include <QAbstractTableModel>
#include <QList>

#include <optional>

// One row per module of a run, in ascending id order, following the
// module's fate as the console program reports it.
class ModuleTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { IdColumn, NameColumn, SerialColumn, ReleaseColumn, StateColumn, RepeatsColumn, ColumnCount };
    enum class State { Waiting, Flashing, Comparing, Restarting, Updated, NotUpdated, Skipped };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void reset();
    void apply(const ModuleEvent &event);

private:
    struct Row
    {
        uint id = 0;
        QString name, serial, release;
        State state = State::Waiting;
        int percent = 0;
        QString reason;
        int repeats = 0;
    };

    int rowFor(uint id);
    void rowChanged(int row);
    QString stateText(const Row &row) const;

    QList<Row> rows;
    std::optional<uint> inWork; // the module the unnamed lines concern
};
