// A whole update run inside this process: the update thread and the manager
// over the real driver library and the simulated adapter, whose hooks let the
// test change the bus while the run goes on.
#include "console.h"
#include "firmwareupdatethread.h"
#include "simhooks.h"
#include "srecord.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <memory>
#include <mutex>

namespace {

// One file line; the flasher reads records with either line end.
QByteArray record(int type, uint32_t address, const QByteArray &data)
{
    return testkit::sRecord(type, address, data) + "\r\n";
}

} // namespace

class RunTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString firmware_;
    QString outText_;
    QString errText_;
    std::unique_ptr<QTextStream> out_;
    std::unique_ptr<QTextStream> err_;
    std::unique_ptr<Console> console_;
    std::unique_ptr<FirmwareUpdateThread> thread_;

    void configureBench(int modules)
    {
        QByteArray ini = "[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = sim\n";
        for (int address = 1; address <= modules; ++address)
            ini += QStringLiteral("[module.m%1]\nadapter = 0\naddress = %1\nimage = %2\n")
                       .arg(address)
                       .arg(dir_.filePath(QStringLiteral("module-%1.s3").arg(address)))
                       .toUtf8();
        std::string error;
        QVERIFY2(canapi::sim::configure(ini.toStdString(), &error), error.c_str());
    }

    // The run needs no event loop here: the manager's slots run on the
    // receive thread.
    bool runToEnd()
    {
        if (!thread_->startUpdate("PCAN_USB", 1000, 0, firmware_))
            return false;
        return thread_->wait(QDeadlineTimer(120000));
    }

    // The signals come from the update thread; QSignalSpy is not made for that.
    struct Recorder
    {
        std::mutex mutex;
        QStringList information;
        QList<int> progress;
    };

    void recordSignals(Recorder &recorder)
    {
        connect(
            thread_.get(), &FirmwareUpdateThread::information, this,
            [&recorder](const QString &peer, const QString &info) {
                std::lock_guard lock(recorder.mutex);
                recorder.information.append(peer.isEmpty() ? info : QStringLiteral("?"));
            },
            Qt::DirectConnection);
        connect(
            thread_.get(), &FirmwareUpdateThread::progress, this,
            [&recorder](int value) {
                std::lock_guard lock(recorder.mutex);
                recorder.progress.append(value);
            },
            Qt::DirectConnection);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        firmware_ = dir_.filePath(QStringLiteral("K3B7_421.hex"));
        QFile file(firmware_);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(record(0, 0, "K3B7"));
        for (uint32_t i = 0; i < 8; ++i)
            file.write(record(2, 0x100 + 16 * i, QByteArray(16, static_cast<char>(i))));
        file.write(record(8, 0x100, {}));
    }

    void init()
    {
        outText_.clear();
        errText_.clear();
        out_ = std::make_unique<QTextStream>(&outText_);
        err_ = std::make_unique<QTextStream>(&errText_);
        console_ = std::make_unique<Console>(*out_, *err_);
        thread_ = std::make_unique<FirmwareUpdateThread>(*console_);
        thread_->setCloseAuto(true);
    }

    void cleanup()
    {
        thread_.reset();
        canapi::sim::shutdown();
    }

    void signalsTellPhasesAndProgress()
    {
        configureBench(1);
        Recorder recorder;
        recordSignals(recorder);
        QVERIFY(runToEnd());
        QVERIFY2(thread_->runSucceeded(), qPrintable(errText_));
        std::lock_guard lock(recorder.mutex);
        QCOMPARE(recorder.information, (QStringList{"Flashing 520 of 1", "Comparing 520 of 1",
                                                    "Postflash 520 of 1", "1 of 1 completed."}));
        // Ten lines per phase, each percentage at least the one before.
        const QList<int> &progress = recorder.progress;
        QCOMPARE(progress.size(), 20);
        for (int i = 1; i < 10; ++i)
            QVERIFY(progress[i] >= progress[i - 1]);
        QCOMPARE(progress[9], 100);
        QCOMPARE(progress[10], progress[0]);
    }

    void lostConnectionEndsTheRunAndNamesTheModule_data()
    {
        QTest::addColumn<bool>("framesStop"); // else only the status read tells
        QTest::newRow("status") << false;
        QTest::newRow("bus off, the line times out") << true;
    }

    void lostConnectionEndsTheRunAndNamesTheModule()
    {
        QFETCH(bool, framesStop);
        configureBench(2);
        // The bus goes bad as soon as the first flash begins.
        connect(
            thread_.get(), &FirmwareUpdateThread::information, this,
            [framesStop](const QString &, const QString &info) {
                if (!info.startsWith(QLatin1String("Flashing")))
                    return;
                canapi::sim::setBusStatus(0, 0x10);
                canapi::sim::setBusOff(0, framesStop);
            },
            Qt::DirectConnection);
        QVERIFY(runToEnd());
        QVERIFY(!thread_->runSucceeded());
        const QStringList errors = errText_.split(u'\n');
        QVERIFY2(errors.contains("Error: CAN-Connection lost BUSOFF"), qPrintable(errText_));
        // The loss is told, not a repeat that never comes.
        QVERIFY2(!errText_.contains("repeating line"), qPrintable(errText_));
        QVERIFY(errors.contains("Error: Modules not updated: 208 210"));
        QVERIFY(!outText_.contains("ID 210"));
        QVERIFY(!outText_.contains("PostFlash"));
    }

    void stopAfterModuleLeavesTheRest()
    {
        configureBench(2);
        connect(thread_.get(), &FirmwareUpdateThread::information, thread_.get(), &FirmwareUpdateThread::stop,
                Qt::DirectConnection);
        Recorder recorder;
        recordSignals(recorder);
        QVERIFY(runToEnd());
        QVERIFY(!thread_->runSucceeded());
        std::lock_guard lock(recorder.mutex);
        QCOMPARE(recorder.information.last(), QStringLiteral("Stopped after 520 of 2."));
        QVERIFY(outText_.contains("Compare ID 208 100.0%"));
        QVERIFY(!outText_.contains("ID 210"));
        QVERIFY(errText_.contains("Error: Modules not updated: 210\n"));
    }
};

QTEST_GUILESS_MAIN(RunTest)
#include "run_test.moc"
