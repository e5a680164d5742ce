#pragma once

#include "flashcommand.h"
#include "outputparser.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

#include <optional>

class QBrush;

// One row per module of a run, in ascending id order, following the
// module's fate as the console program reports it.
class ModuleTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { IdColumn, NameColumn, SerialColumn, ReleaseColumn, StateColumn, RepeatsColumn, ColumnCount };
    // Restarted: the console program went on to another module; the module's
    // result comes at the end of the run. Unknown: the run ended without one.
    enum class State {
        Waiting,
        WaitingForReady,
        Flashing,
        Comparing,
        Restarting,
        Restarted,
        Updated,
        NotUpdated,
        Skipped,
        Unknown
    };
    struct Tally
    {
        int updated = 0;
        int notUpdated = 0; // also the modules chosen whose fate is unknown
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    void reset();
    void apply(const ModuleEvent &event);

    // A scan's table: only its identity lines count, and each module found
    // gets a box, checked.
    void startScan();
    // A run keeps a scan's rows, starting them afresh, and drops everything else.
    void startRun();
    bool scanned() const { return fromScan; }
    // The boxes cannot change while a run or scan goes on: the run has its list.
    void setChecksLocked(bool locked);
    QList<ModuleChoice> choices() const;
    // The modules a run is to update: the checked rows of a scan; empty
    // without a scan, when the console program finds them itself.
    std::optional<QList<uint>> chosenIds() const;
    // The run has ended, for whatever reason: no row is left in work.
    void finishRun();
    Tally tally() const;

    // The firmware column is green for modules whose name the file's name
    // contains, the console program's own test for updating a module.
    void setFirmwareFile(const QString &fileName);

    // The module the console program works on, while it works on one.
    std::optional<uint> moduleInWork() const { return inWork; }
    int rowOf(uint id) const;
    // "module 210: not updated: <reason>" for each row shown in the error
    // colour, in row order: what the technician must act on after a run.
    QStringList failures() const;

private:
    struct Row
    {
        uint id = 0;
        QString name, serial, release;
        bool reupdate = false;
        State state = State::Waiting;
        int percent = 0;
        QString reason;
        int repeats = 0;
        bool checkable = false;
        bool checked = false;
    };

    int rowFor(uint id);
    void rowChanged(int row);
    QString stateText(const Row &row) const;
    static QVariant checkState(const Row &row, int column);
    QBrush nameColour(const Row &row) const;
    static QBrush stateColour(State state);
    QVariant cellText(const Row &row, int column) const;
    void moveOnTo(uint id);
    void applyToRow(int row, const ModuleEvent &event);
    static bool inWorkState(const Row &row);

    QList<Row> rows;
    std::optional<uint> inWork; // the module the unnamed lines concern
    bool fromScan = false;
    bool scanning = false;
    bool checksLocked = false;
    QString firmwareFile;
};
