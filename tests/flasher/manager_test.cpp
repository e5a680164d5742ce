// The communication manager and the receive thread over a fake driver: frames
// sent at start-up, module records kept from received frames, the waits of
// the update thread.
#include "console.h"
#include "fakedriver.h"
#include "managecancommunication.h"
#include "receivethread.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTextStream>

#include <memory>
#include <thread>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray data;
    for (int value : values)
        data.append(static_cast<char>(value));
    return data;
}

using Event = ModuleTable::Event;

ModuleRecord current(ManageCanCommunication &manager)
{
    return manager.modules().currentRecord();
}

bool takeError(ManageCanCommunication &manager, uint8_t &code)
{
    return manager.modules().withCurrent([&code](ModuleRecord &record) { return record.takeError(code); });
}

} // namespace

class ManagerTest : public QObject
{
    Q_OBJECT

private:
    QString outText_;
    QString errText_;
    std::unique_ptr<QTextStream> out_;
    std::unique_ptr<QTextStream> err_;
    std::unique_ptr<Console> console_;
    std::unique_ptr<ManageCanCommunication> manager_;

    ManageCanCommunication &makeManager(const CanDriverFunctions &table)
    {
        manager_ = std::make_unique<ManageCanCommunication>(table, *console_, nullptr);
        return *manager_;
    }

    ManageCanCommunication &openLine(uint16_t line = 0, bool withWait = true)
    {
        ManageCanCommunication &manager = makeManager(fakedriver::table(withWait));
        if (!manager.initCanInterface("PCAN_USB", 125, line))
            qFatal("line did not open");
        fakedriver::clearSent();
        return manager;
    }

    static int countSent(uint16_t word, const QByteArray &data)
    {
        int n = 0;
        for (const auto &frame : fakedriver::sent())
            n += frame.word == word && frame.data == data ? 1 : 0;
        return n;
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
    }

    void cleanup() { manager_.reset(); }

    void constructionReportsTheVersionCutToEleven()
    {
        makeManager(fakedriver::table());
        QCOMPARE(errText_, QStringLiteral("tarvpcan3.dll version 4.01p-and-a \n"));
    }

    void startUpSendsPatternSweepsAndLogOnOnTheRunsLine()
    {
        ManageCanCommunication &manager = makeManager(fakedriver::table());
        QVERIFY(manager.initCanInterface("PCAN_USB", 250, 2));
        const auto frames = fakedriver::sent();
        QCOMPARE(frames.size(), 1 + 64 + 64 + 1);
        QCOMPARE(frames[0].word, uint16_t(0x1E01));
        QCOMPARE(frames[1].word, uint16_t(0x2200));
        QCOMPARE(frames[64].word, uint16_t(0x23F8));
        QCOMPARE(frames[65].word, uint16_t(0x2200));
        QCOMPARE(frames[129].word, uint16_t(0x27FF));
        QCOMPARE(frames[129].data, bytes({0xD8, 0x01}));
        const auto calls = fakedriver::calls();
        QCOMPARE(calls.adapterKind, 3);
        QCOMPARE(calls.reInit, 1);
        QCOMPARE(manager.canStatus(), 0);

        QVERIFY(manager.stopReceiving());
        QCOMPARE(fakedriver::calls().reInit, 2);
        // A second stop neither joins nor closes again.
        QVERIFY(manager.stopReceiving());
        QCOMPARE(fakedriver::calls().reInit, 2);
    }

    void busNotOkFailsAfterTheBroadcastLogOnAndClosesTheLine_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<int>("code");
        QTest::newRow("NOCLIENT") << QByteArray("NOCLIENT") << 6;
        QTest::newRow("NOLINE") << QByteArray("NOLINE") << 5;
        QTest::newRow("BUSOFF") << QByteArray("BUSOFF") << 3;
    }

    void busNotOkFailsAfterTheBroadcastLogOnAndClosesTheLine()
    {
        QFETCH(QByteArray, status);
        QFETCH(int, code);
        fakedriver::setStatus(status.constData());
        ManageCanCommunication &manager = makeManager(fakedriver::table());
        QVERIFY(!manager.initCanInterface("PCAN_PCI", 125, 0));
        QCOMPARE(manager.canStatus(), code);
        const auto frames = fakedriver::sent();
        QCOMPARE(frames.size(), 1 + 64 + 1);
        QCOMPARE(frames.last().word, uint16_t(0x7FF));
        QCOMPARE(fakedriver::calls().adapterKind, 4);
        QCOMPARE(fakedriver::calls().reInit, 2);
        QVERIFY(errText_.contains(QStringLiteral("Error: CAN-Bus not OK: ") + status));
    }

    void failedSetUpReportsTheKeywordAndClosesTheLine()
    {
        fakedriver::setInitResult(false);
        ManageCanCommunication &manager = makeManager(fakedriver::table());
        QVERIFY(!manager.initCanInterface("PCAN_PCI", 125, 0));
        QVERIFY(errText_.endsWith(QStringLiteral("Error: failed to initialize CAN-Interface PCAN_PCI \n")));
        QVERIFY(fakedriver::sent().isEmpty());
        QCOMPARE(fakedriver::calls().reInit, 2);
    }

    void missingEntryCallsNothing()
    {
        CanDriverFunctions table = fakedriver::table();
        table.ResetCan = nullptr;
        ManageCanCommunication &manager = makeManager(table);
        QVERIFY(!manager.initCanInterface("PCAN_USB", 125, 0));
        const auto calls = fakedriver::calls();
        QCOMPARE(calls.connect + calls.extendedInit + calls.reInit + calls.write, 0);
        QVERIFY(errText_.contains(QStringLiteral("Error: failed to initialize CAN-Interface PCAN_USB")));
    }

    void logOnsCreateRecordsAndAreAnswered()
    {
        ManageCanCommunication &manager = openLine(1);
        fakedriver::pushFrame(0x120D, bytes({0xD8, 0x00, 0x11}));
        fakedriver::pushFrame(0x1205, bytes({0xD8, 0x00, 0x22}));
        QTRY_COMPARE_WITH_TIMEOUT(countSent(0x1200, bytes({0x12, 0xA0, 0x00, 0x01})), 1, 10000);
        QCOMPARE(manager.modules().count(), 2);
        QCOMPARE(manager.modules().first(), std::optional<uint16_t>(0x1200));
        QCOMPARE(countSent(0x1208, bytes({0xD8, 0x01})), 1);
        QCOMPARE(countSent(0x1208, bytes({0x12, 0xA0, 0x00, 0x01})), 1);

        // Known module, current one: record kept, marked logged on, answered again.
        manager.modules().setCurrent(0x1208);
        QVERIFY(!current(manager).loggedOn);
        fakedriver::pushFrame(0x120D, bytes({0xD8, 0x00, 0x33}));
        QVERIFY(manager.modules().waitFor(Event::LoggedOn, QDeadlineTimer(10000)));
        QTRY_COMPARE_WITH_TIMEOUT(countSent(0x1208, bytes({0xD8, 0x01})), 2, 10000);
        QCOMPARE(manager.modules().count(), 2);
        manager.modules().setCurrent(0x1200);
        QVERIFY(!current(manager).loggedOn);
    }

    void statusCodesQueueInArrivalOrder()
    {
        ManageCanCommunication &manager = openLine();
        manager.modules().setCurrent(0x208);
        fakedriver::pushFrame(0x20D, bytes({0x15, 0x91}));
        fakedriver::pushFrame(0x20D, bytes({0x15, 0x92}));
        fakedriver::pushFrame(0x215, bytes({0x15, 0x85})); // another module's code
        // The other module's frame came last: once its record exists, all are in.
        QTRY_COMPARE_WITH_TIMEOUT(manager.modules().count(), 2, 10000);
        uint8_t code = 0;
        QVERIFY(takeError(manager, code));
        QCOMPARE(code, uint8_t(0x91));
        QVERIFY(takeError(manager, code));
        QCOMPARE(code, uint8_t(0x92));
        QVERIFY(!takeError(manager, code));
        QVERIFY(!current(manager).updateReady);
        manager.modules().setCurrent(0x210);
        QVERIFY(current(manager).updateReady);
        QVERIFY(takeError(manager, code));
        QCOMPARE(code, uint8_t(0x85));
    }

    void waitsWakeWhenTheAnswerArrives()
    {
        ManageCanCommunication &manager = openLine(0);
        manager.modules().setCurrent(0x208);
        manager.sendFlashData("S00600");
        QVERIFY(!current(manager).flashFrameAcked);
        std::thread module([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            fakedriver::pushFrame(0x20D, bytes({0x15, 0x00}));
        });
        QElapsedTimer waited;
        waited.start();
        const bool acked = manager.modules().waitFor(Event::FlashFrameAcked, QDeadlineTimer(20000));
        const qint64 elapsed = waited.elapsed();
        module.join();
        QVERIFY(acked);
        QVERIFY2(elapsed < 15000, "the wait ran into its deadline instead of waking");
        // The next frame clears the acknowledgement before it goes out.
        manager.sendFlashData("1B\r\n");
        QVERIFY(!current(manager).flashFrameAcked);
        QCOMPARE(fakedriver::sent().last().data, bytes({0x15, 0x00, '1', 'B', 0x0D, 0x0A}));
        QCOMPARE(fakedriver::sent().last().word, uint16_t(0x209));
    }

    void lineGoesOutFrameByFrameEachAfterItsAcknowledgement()
    {
        ManageCanCommunication &manager = openLine(0);
        manager.modules().setCurrent(0x208);
        fakedriver::autoAcknowledge(0x209, 0x20D);
        const QByteArray line = "S00600004844521B\r\n";
        manager.startLineTransfer(line);
        QVERIFY(manager.waitLineTransferred(std::chrono::milliseconds(20000)));
        const auto frames = fakedriver::sent();
        QCOMPARE(frames.size(), 3);
        QCOMPARE(frames[0].data, QByteArray("\x15\x00S00600", 8));
        QCOMPARE(frames[1].data, QByteArray("\x15\x00"
                                            "004844",
                                            8));
        QCOMPARE(frames[2].data, QByteArray("\x15\x00"
                                            "521B\r\n",
                                            8));
        QCOMPARE(fakedriver::overlappingFrames(), 0);
        QVERIFY(current(manager).flashFrameAcked);
    }

    void unacknowledgedFrameStopsTheLine()
    {
        ManageCanCommunication &manager = openLine(0);
        manager.modules().setCurrent(0x208);
        fakedriver::autoAcknowledge(0x209, 0x20D, 2);
        manager.startLineTransfer("S10510000102E7\r\n");
        QElapsedTimer waited;
        waited.start();
        QVERIFY(!manager.waitLineTransferred(std::chrono::milliseconds(150)));
        QVERIFY(waited.elapsed() >= 149);
        QCOMPARE(fakedriver::sent().size(), 2);
        // A late acknowledgement of the dropped transfer sends nothing more.
        // The receive thread takes frames in order: once the status code
        // behind it is queued, whatever the acknowledgement sent has gone out.
        fakedriver::pushFrame(0x20D, bytes({0x15, 0x00}));
        fakedriver::pushFrame(0x20D, bytes({0x15, 0x92}));
        QVERIFY(manager.modules().waitFor(Event::ErrorQueued, QDeadlineTimer(10000)));
        QCOMPARE(fakedriver::sent().size(), 2);
    }

    void waitWithoutAnswerEndsAtItsDeadline()
    {
        ManageCanCommunication &manager = openLine(0);
        manager.modules().setCurrent(0x208);
        QElapsedTimer waited;
        waited.start();
        QVERIFY(!manager.modules().waitFor(Event::ErrorQueued, QDeadlineTimer(100)));
        QVERIFY(waited.elapsed() >= 99);
    }

    void receivesWithoutWaitForFrame()
    {
        ManageCanCommunication &manager = openLine(0, false);
        fakedriver::pushFrame(0x21D, bytes({0xD8, 0x00, 0x11}));
        QVERIFY(manager.modules().waitFor(Event::AnyModule, QDeadlineTimer(10000)));
        QCOMPARE(manager.modules().first(), std::optional<uint16_t>(0x218));
    }

    void deviceInformationAsksTheCurrentModuleForItsName()
    {
        ManageCanCommunication &manager = openLine(0);
        manager.modules().setCurrent(0x210);
        fakedriver::pushFrame(0x20D, bytes({0xE0, 0x12, 0x34, 0x56, 0x02, 0x15, 0x01}));
        QTRY_COMPARE_WITH_TIMEOUT(countSent(0x211, bytes({0x12, 0x03})), 1, 10000);
        QCOMPARE(countSent(0x209, bytes({0x12, 0x03})), 0);
    }

    void reupdateLogOnMarksOnlyNewRecords()
    {
        ManageCanCommunication &manager = openLine(0);
        fakedriver::pushFrame(0x20D, bytes({0xD8, 0x00, 0x11}));
        fakedriver::pushFrame(0x215, bytes({0x15, 0x99}));
        fakedriver::pushFrame(0x20D, bytes({0x15, 0x99}));
        fakedriver::pushFrame(0x21D, bytes({0x12, 0x03, 'K', '3', 'B', '7'}));
        manager.modules().setCurrent(0x218);
        QTRY_COMPARE_WITH_TIMEOUT(current(manager).firmwareName, QStringLiteral("K3B7"), 10000);
        manager.modules().setCurrent(0x210);
        QVERIFY(current(manager).reupdate);
        QVERIFY(current(manager).updateReady);
        manager.modules().setCurrent(0x208);
        QVERIFY(!current(manager).reupdate);
    }

    void restartCommandClearsTheLogOnMark()
    {
        ManageCanCommunication &manager = openLine(0);
        manager.modules().setCurrent(0x208);
        fakedriver::pushFrame(0x20D, bytes({0xD8, 0x00, 0x11}));
        QVERIFY(manager.modules().waitFor(Event::LoggedOn, QDeadlineTimer(10000)));
        // The receive thread answers the log-on after it marks the record:
        // its follow-up must be out before the last frame sent is looked at.
        QTRY_VERIFY_WITH_TIMEOUT(!fakedriver::sent().isEmpty()
                                     && fakedriver::sent().last().data == bytes({0x12, 0xA0, 0x00, 0x01}),
                                 10000);
        manager.sendUpdateCommand(protocol::Compare);
        QVERIFY(current(manager).loggedOn);
        manager.sendUpdateCommand(protocol::Restart);
        QVERIFY(!current(manager).loggedOn);
        QCOMPARE(fakedriver::sent().last().word, uint16_t(0x208));
        QCOMPARE(fakedriver::sent().last().data, bytes({0x15, 0x06}));
    }

    void logOnThatOvertakesTheRestartSendCounts()
    {
        ManageCanCommunication &manager = openLine(0);
        manager.modules().setCurrent(0x208);
        fakedriver::logOnAtRestart(0x208, 0x20D);
        manager.sendUpdateCommand(protocol::Restart);
        QCOMPARE(countSent(0x208, bytes({0xD8, 0x01})), 1);
        QVERIFY(current(manager).loggedOn);
    }

    void tableBookkeeping()
    {
        ModuleTable table;
        QVERIFY(!table.first());
        QVERIFY(!table.nextPending());

        // Any access by id creates the record.
        for (uint16_t module : {0x200, 0x208, 0x210, 0x218}) {
            table.setCurrent(module);
            QVERIFY(!table.currentRecord().updateReady);
        }
        QCOMPARE(table.count(), 4);
        const auto mark = [&table](uint16_t id, bool ModuleRecord::*flag) {
            table.with(id, [flag](ModuleRecord &record) { record.*flag = true; });
        };
        mark(0x200, &ModuleRecord::done);
        mark(0x208, &ModuleRecord::skipped);
        mark(0x210, &ModuleRecord::failed);
        QCOMPARE(table.nextPending(), std::optional<uint16_t>(0x218));
        QCOMPARE(table.notUpdated(), (QList<uint16_t>{0x210, 0x218}));
        mark(0x218, &ModuleRecord::done);
        QVERIFY(!table.nextPending());
        QCOMPARE(table.doneCount(), 2);
    }

    void lostConnectionIsSeenOnceAndSendsNothing()
    {
        ManageCanCommunication &manager = openLine(0);
        QVERIFY(!manager.connectionLost());
        fakedriver::setStatus("BUSOFF");
        QVERIFY(manager.connectionLost());
        QCOMPARE(manager.canStatusText(), QByteArray("BUSOFF"));
        QVERIFY(!manager.connectionLost());
        QVERIFY(fakedriver::sent().isEmpty());
    }

    void stopBeforeStartNeverReads()
    {
        ManageCanCommunication &manager = makeManager(fakedriver::table());
        const CanDriverFunctions table = fakedriver::table();
        auto *thread = new ReceiveThread(&manager, &table, 0);
        thread->requestStop();
        thread->start();
        QVERIFY(thread->wait(10000));
        QCOMPARE(fakedriver::calls().read, 0);
        delete thread;
    }
};

QTEST_GUILESS_MAIN(ManagerTest)
#include "manager_test.moc"
