#include "moduletablemodel.h"

#include <QBrush>
#include <QColor>
#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

namespace {

using Col = ModuleTableModel::Column;

QString cell(const ModuleTableModel &model, int row, int column)
{
    return model.data(model.index(row, column)).toString();
}

QString colour(const ModuleTableModel &model, int row)
{
    return model.data(model.index(row, Col::StateColumn), Qt::ForegroundRole).value<QBrush>().color().name();
}

int rowOf(const ModuleTableModel &model, const QString &id)
{
    for (int row = 0; row < model.rowCount(); ++row) {
        if (cell(model, row, Col::IdColumn) == id)
            return row;
    }
    return -1;
}

void feed(ModuleTableModel &model, const QByteArray &line)
{
    if (const std::optional<ModuleEvent> event = parseModuleEvent(line))
        model.apply(*event);
}

// Module 1208 is updated after a timeout and a checksum error; 208 is given
// up after a timeout on its first line (before any progress line names it)
// and a flash restart; 218 does not fit the file.
struct Step
{
    QByteArray line;
    const char *id;    // the row to look at after the line
    const char *state; // its state text then
};

const std::vector<Step> run = {
    {"Module 1208: name K3B7, serial 120035, release 4.20, channel 1\n", "1208", "waiting for its ready report"},
    {"Flash ID 1208 0.5% S00600004844521B\n", "1208", "flashing 0 %"},
    {"\"\" Timeout, repeating line: \"S1130000\" \n", "1208", "flashing 0 %"},
    {"Flash ID 1208 100.0% S9030000FC\n", "1208", "flashing 100 %"},
    {"Compare ID 1208 51.5% S1130000\n", "1208", "comparing 51 %"},
    {"\"\" Checksum error, repeating line: \"S1130000\" \n", "1208", "comparing 51 %"},
    {"\n", "1208", "comparing 51 %"},
    {"PostFlash \n", "1208", "restarting"},
    {"Module 208: name K3B7, serial 120036, release (none), channel 1\n", "1208",
     "restarted: result at the end of the run"},
    {"\"\" Timeout, repeating line: \"S00600004844521B\" \n", "208", "waiting for its ready report"},
    {"Flash ID 208 26.5% S1130000\n", "208", "flashing 26 %"},
    {"\"\" Flash error, restarting writing from the beginning. \n", "208", "flashing 26 %"},
    {"\"\" Timeout, giving up line: \"S1130000\" \n", "208", "flashing 26 %"},
    {"\"\" Module 208 not updated: no answer to the line, 10 times in a row \n", "208",
     "not updated: no answer to the line, 10 times in a row"},
    {"Module 218: name K31B7, serial 7, release 1.00, channel 1\n", "218", "waiting for its ready report"},
    {"Module 208: not updated: no answer to the line, 10 times in a row\n", "208",
     "not updated: no answer to the line, 10 times in a row"},
    {"Module 218: skipped: firmware name K31B7 does not fit the file\n", "218",
     "skipped: firmware name K31B7 does not fit the file"},
    {"Module 1208: updated\n", "1208", "updated"},
};

TEST(ModuleTableModel, FollowsEachModuleThroughARun)
{
    ModuleTableModel model;
    for (const Step &step : run) {
        SCOPED_TRACE(step.line.constData());
        feed(model, step.line);
        const int row = rowOf(model, QString::fromLatin1(step.id));
        ASSERT_GE(row, 0);
        EXPECT_EQ(cell(model, row, Col::StateColumn), QString::fromUtf8(step.state));
    }
}

struct Fate
{
    const char *id, *name, *serial, *release, *state;
    int repeats;
    const char *colour;
};

TEST(ModuleTableModel, RowsInIdOrderWithTheirFates)
{
    ModuleTableModel model;
    for (const Step &step : run)
        feed(model, step.line);
    const std::vector<Fate> fates = {
        {"208", "K3B7", "120036", "(none)", "not updated: no answer to the line, 10 times in a row", 2,
         "#ff0000"},
        {"218", "K31B7", "7", "1.00", "skipped: firmware name K31B7 does not fit the file", 0, "#000000"},
        {"1208", "K3B7", "120035", "4.20", "updated", 2, "#008000"},
    };
    ASSERT_EQ(model.rowCount(), int(fates.size()));
    for (int row = 0; row < model.rowCount(); ++row) {
        const Fate &f = fates[size_t(row)];
        SCOPED_TRACE(f.id);
        EXPECT_EQ(cell(model, row, Col::IdColumn), QLatin1String(f.id));
        EXPECT_EQ(cell(model, row, Col::NameColumn), QLatin1String(f.name));
        EXPECT_EQ(cell(model, row, Col::SerialColumn), QLatin1String(f.serial));
        EXPECT_EQ(cell(model, row, Col::ReleaseColumn), QLatin1String(f.release));
        EXPECT_EQ(cell(model, row, Col::StateColumn), QLatin1String(f.state));
        EXPECT_EQ(model.data(model.index(row, Col::RepeatsColumn)).toInt(), f.repeats);
        EXPECT_EQ(colour(model, row), QLatin1String(f.colour));
    }
}

// Whatever ends a run, no row stays in work: the result lines decide, and a
// row without one is unknown. A scan's rows not chosen keep their state.
struct Ending
{
    const char *name;
    std::vector<QByteArray> scanned; // ids found by a scan; a leading '-' unchecks
    std::vector<QByteArray> lines;
    std::vector<const char *> rows; // "id|state|colour" after the run's end
    int updated, notUpdated;
};

const Ending endings[] = {
    {"dies_mid_flash",
     {},
     {"Module 208: name K3B7, serial 1, release 4.20, channel 1\n", "Flash ID 208 5.3% S0\n"},
     {"208|unknown: the program ended|#ff0000"},
     0,
     1},
    {"dies_in_the_next_ready_wait",
     {},
     {"Flash ID 208 100.0% S9\n", "PostFlash \n", "Module 218: name K3B7, serial 2, release 4.20, channel 1\n"},
     {"208|unknown: the program ended|#ff0000", "218|unknown: the program ended|#ff0000"},
     0,
     2},
    {"results_decide",
     {},
     {"Flash ID 208 100.0% S9\n", "PostFlash \n", "Flash ID 218 100.0% S9\n", "PostFlash \n",
      "\"\" 2  of  2 completed. \n", "Module 208: updated\n", "Module 218: not updated: no ready report\n",
      "Module 228: skipped: firmware name K31B7 does not fit the file\n"},
     {"208|updated|#008000", "218|not updated: no ready report|#ff0000",
      "228|skipped: firmware name K31B7 does not fit the file|#000000"},
     1,
     1},
    {"scan_rows_not_chosen_keep_their_state",
     {"-208", "218", "228", "238"},
     {"Module 218: name K3B7, serial 2, release 4.20, channel 1\n", "Flash ID 218 100.0% S9\n",
      "Module 228: skipped: firmware name K31B7 does not fit the file\n"},
     {"208|waiting|#000000", "218|unknown: the program ended|#ff0000",
      "228|skipped: firmware name K31B7 does not fit the file|#000000", "238|unknown: the program ended|#ff0000"},
     0,
     3},
};

TEST(ModuleTableModel, NoRowStaysInWorkWhenTheRunEnds)
{
    for (const Ending &e : endings) {
        SCOPED_TRACE(e.name);
        ModuleTableModel model;
        model.startScan();
        for (const QByteArray &id : e.scanned) {
            const QByteArray bare = id.startsWith('-') ? id.mid(1) : id;
            feed(model, "Module " + bare + ": name K3B7, serial 1, release 1, channel 1\n");
        }
        for (int row = 0; row < model.rowCount(); ++row) {
            const bool checked = !e.scanned[size_t(row)].startsWith('-');
            model.setData(model.index(row, Col::IdColumn), checked ? Qt::Checked : Qt::Unchecked,
                          Qt::CheckStateRole);
        }
        if (e.scanned.empty())
            model.reset();
        model.startRun();
        for (const QByteArray &line : e.lines)
            feed(model, line);
        model.finishRun();
        QStringList rows;
        for (int row = 0; row < model.rowCount(); ++row)
            rows.append(cell(model, row, Col::IdColumn) + u'|' + cell(model, row, Col::StateColumn) + u'|'
                        + colour(model, row));
        QStringList expected;
        for (const char *row : e.rows)
            expected.append(QString::fromUtf8(row));
        EXPECT_EQ(rows.join(u'\n').toStdString(), expected.join(u'\n').toStdString());
        EXPECT_EQ(model.tally().updated, e.updated);
        EXPECT_EQ(model.tally().notUpdated, e.notUpdated);
    }
}

TEST(ModuleTableModel, ProgressIsGreenAndWaitingBlack)
{
    ModuleTableModel model;
    feed(model, "Module 208: name K3B7, serial 1, release 4.20, channel 1\n");
    EXPECT_EQ(colour(model, 0), QLatin1String("#000000"));
    feed(model, "Compare ID 208 1.0% S1\n");
    EXPECT_EQ(colour(model, 0), QLatin1String("#008000"));
}

TEST(ModuleTableModel, ResetEmptiesTheTableAndForgetsTheModuleInWork)
{
    ModuleTableModel model;
    feed(model, "Flash ID 208 1.0% S1\n");
    model.reset();
    EXPECT_EQ(model.rowCount(), 0);
    feed(model, "\"\" Timeout, repeating line: \"S1\" \n");
    feed(model, "PostFlash \n");
    EXPECT_EQ(model.rowCount(), 0);
}

Qt::CheckState checkOf(const ModuleTableModel &model, int row)
{
    return model.data(model.index(row, Col::IdColumn), Qt::CheckStateRole).value<Qt::CheckState>();
}

TEST(ModuleTableModel, ScanRowsCheckedAndKeptForTheRun)
{
    ModuleTableModel model;
    model.startScan();
    feed(model, "Module 1208: name K3B7, serial 1, release 4.20, channel 1\n");
    feed(model, "Module 1208: skipped: scanned\n");
    feed(model, "Module 208: name K31B7, serial 2, release 1.00, channel 1\n");
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(cell(model, 1, Col::StateColumn), "waiting");
    EXPECT_EQ(checkOf(model, 0), Qt::Checked);
    EXPECT_EQ(checkOf(model, 1), Qt::Checked);
    EXPECT_TRUE(model.flags(model.index(0, Col::IdColumn)) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(model.flags(model.index(0, Col::NameColumn)) & Qt::ItemIsUserCheckable);

    EXPECT_TRUE(model.setData(model.index(0, Col::IdColumn), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(checkOf(model, 0), Qt::Unchecked);
    const QList<ModuleChoice> choices = model.choices();
    ASSERT_EQ(choices.size(), 2);
    EXPECT_EQ(choices[0].id, 0x208u);
    EXPECT_FALSE(choices[0].checked);
    EXPECT_EQ(choices[1].id, 0x1208u);
    EXPECT_TRUE(choices[1].checked);

    model.startRun();
    model.setChecksLocked(true);
    EXPECT_FALSE(model.setData(model.index(1, Col::IdColumn), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(checkOf(model, 1), Qt::Checked);
    feed(model, "Module 1208: updated\n");
    feed(model, "Module 300: name K3B7, serial 3, release 4.20, channel 1\n");
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(cell(model, 2, Col::StateColumn), "updated");
    // A module the run met beyond the scan has no box of its own.
    EXPECT_FALSE(model.data(model.index(1, Col::IdColumn), Qt::CheckStateRole).isValid());

    model.setChecksLocked(false);
    model.startRun();
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(cell(model, 1, Col::StateColumn), "waiting");
    EXPECT_EQ(cell(model, 0, Col::NameColumn), "K31B7");
    EXPECT_EQ(checkOf(model, 0), Qt::Unchecked);
}

TEST(ModuleTableModel, NoBoxesWithoutScan)
{
    ModuleTableModel model;
    feed(model, "Module 208: name K3B7, serial 1, release 4.20, channel 1\n");
    EXPECT_FALSE(model.data(model.index(0, Col::IdColumn), Qt::CheckStateRole).isValid());
    EXPECT_TRUE(model.choices().isEmpty());
    model.startRun();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(ModuleTableModel, FirmwareGreenWhenTheFileNameHoldsIt)
{
    ModuleTableModel model;
    feed(model, "Module 208: name K3B7, serial 1, release 4.20, channel 1\n");
    feed(model, "Module 218: name K31B7, serial 2, release 1.00, channel 1\n");
    feed(model, "Module 228: updated\n"); // no name: an empty one fits every file
    const auto nameColour = [&model](int row) {
        return model.data(model.index(row, Col::NameColumn), Qt::ForegroundRole).value<QBrush>().color().name();
    };
    ASSERT_EQ(model.rowCount(), 3);
    model.setFirmwareFile("/fw/K31B7_archive/K3B7_421.hex");
    EXPECT_EQ(nameColour(0), QColor("green").name());
    EXPECT_EQ(nameColour(1), QColor("black").name());
    EXPECT_EQ(nameColour(2), QColor("black").name());
    model.setFirmwareFile({});
    EXPECT_EQ(nameColour(0), QColor("black").name());
}

TEST(ModuleTableModel, ReupdateModuleWarnsThatItTakesAnyFile)
{
    ModuleTableModel model;
    feed(model, "Module 220: name (none), serial 3, release 4.20, channel 1, in re-update state: takes any "
                "firmware file\n");
    model.setFirmwareFile("/fw/K3B7_421.hex");
    EXPECT_EQ(cell(model, 0, Col::NameColumn), "(none), in re-update state: takes any file");
    EXPECT_EQ(cell(model, 0, Col::ReleaseColumn), "4.20");
    EXPECT_EQ(model.data(model.index(0, Col::NameColumn), Qt::ForegroundRole).value<QBrush>().color().name(),
              QColor("red").name());
}

} // namespace
