// The lines of a pass over the fake driver: each line is labelled by the pass
// it is sent in, and a pass starts with no refusal counted.
#include "buswatch.h"
#include "console.h"
#include "fakedriver.h"
#include "firmwarefile.h"
#include "managecancommunication.h"
#include "passlines.h"
#include "runlimits.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <memory>

class PassLinesTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString outText_;
    QString errText_;
    std::unique_ptr<QTextStream> out_;
    std::unique_ptr<QTextStream> err_;
    std::unique_ptr<Console> console_;
    std::unique_ptr<ManageCanCommunication> manager_;
    FirmwareFile file_;
    std::unique_ptr<BusWatch> bus_;
    std::unique_ptr<PassLines> lines_;
    const QString peer_;

    // Status codes from module 0x208, all queued before the line is judged.
    void answer(std::initializer_list<uint8_t> codes)
    {
        for (uint8_t code : codes)
            fakedriver::pushFrame(0x20D, QByteArray("\x15", 1) + char(code));
        QTRY_COMPARE_WITH_TIMEOUT(manager_->modules().currentRecord().errors.size(), codes.size(), 10000);
    }

private slots:
    void init()
    {
        fakedriver::reset();
        outText_.clear();
        errText_.clear();
        out_ = std::make_unique<QTextStream>(&outText_);
        err_ = std::make_unique<QTextStream>(&errText_);
        console_ = std::make_unique<Console>(*out_, *err_);
        manager_ = std::make_unique<ManageCanCommunication>(fakedriver::table(), *console_, nullptr);
        QVERIFY(manager_->initCanInterface("PCAN_USB", 125, 0));
        manager_->modules().setCurrent(0x208);
        fakedriver::autoAcknowledge(0x209, 0x20D);
        const QString name = dir_.filePath(QStringLiteral("K3B7_421.hex"));
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("S00600004844521B\r\nS10510000102E7\r\nS9030000FC\r\n");
        file.close();
        QCOMPARE(file_.open(name), QString());
        bus_ = std::make_unique<BusWatch>(*manager_);
        lines_ = std::make_unique<PassLines>(*manager_, file_, *bus_, *console_, peer_);
        outText_.clear();
        errText_.clear();
    }

    void cleanup()
    {
        lines_.reset();
        bus_.reset();
        manager_.reset();
    }

    // The line that still goes out after a flash error belongs to the flash
    // pass, whatever comes next.
    void lineAfterAFlashErrorKeepsItsPass()
    {
        lines_->beginPass(PassLines::Pass::Flash);
        QCOMPARE(lines_->send(), PassLines::Sent::Line);
        answer({0x91, 0x81});
        const PassLines::Result result = lines_->check();
        QVERIFY(result.go && result.flashError);
        QCOMPARE(lines_->send(), PassLines::Sent::Line);
        QCOMPARE(outText_.split(u'\n', Qt::SkipEmptyParts),
                 (QStringList{"Flash ID 208 39.2% S00600004844521B", "Flash ID 208 74.0% S10510000102E7"}));
        lines_->beginPass(PassLines::Pass::Compare);
        lines_->send();
        QVERIFY(outText_.endsWith("Compare ID 208 39.2% S00600004844521B\n"));
    }

    // Refusals in a row count within a pass: one short of the limit, then a
    // flash error, and the restarted pass may take refusals afresh.
    void flashRestartForgetsTheRefusals()
    {
        lines_->beginPass(PassLines::Pass::Flash);
        for (int i = 1; i < runlimits::RefusalsInARow; ++i) {
            QCOMPARE(lines_->send(), PassLines::Sent::Line);
            answer({0x92});
            QVERIFY(lines_->check().go);
        }
        QCOMPARE(lines_->send(), PassLines::Sent::Line);
        answer({0x91});
        QVERIFY(lines_->check().flashError);
        lines_->beginPass(PassLines::Pass::Flash);
        QCOMPARE(lines_->send(), PassLines::Sent::Line);
        answer({0x92});
        const PassLines::Result result = lines_->check();
        QVERIFY(result.stop == PassLines::Stop::None);
        QVERIFY(result.go);
    }

    void busStatusBeforeTheFirstLine_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("lost");
        QTest::newRow("OK") << QByteArray("OK") << false;
        QTest::newRow("error passive") << QByteArray("BUSHEAVY") << true;
        QTest::newRow("bus off") << QByteArray("BUSOFF") << true;
    }

    // A controller that went bad may still take frames (error passive), so
    // the pass looks at the bus itself before its first line, and a bus gone
    // bad stops it before anything goes out.
    void busStatusBeforeTheFirstLine()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, lost);
        fakedriver::setStatus(status.constData());
        lines_->beginPass(PassLines::Pass::Flash);
        QCOMPARE(lines_->send(), lost ? PassLines::Sent::Stopped : PassLines::Sent::Line);
        QCOMPARE(lines_->stop(), lost ? PassLines::Stop::BusLost : PassLines::Stop::None);
        QCOMPARE(outText_.isEmpty(), lost);
    }
};

QTEST_GUILESS_MAIN(PassLinesTest)
#include "passlines_test.moc"
