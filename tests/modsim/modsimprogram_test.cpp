// tarvModuleSim as a process: modules answering over Qt's virtualcan bus, the
// ways it ends, and --verify.
#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

namespace {

constexpr int kWaitMs = 15000; // generous: the machine may be loaded

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString frameText(const QCanBusFrame &f)
{
    return QStringLiteral("%1#%2")
        .arg(f.frameId(), 3, 16, QLatin1Char('0'))
        .arg(QString::fromLatin1(f.payload().toHex()));
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

const QList<QByteArray> kFirmware = {
    "S00600004844521B", "S1061000010203E3", "S10510030405DE", "S2060100000102F5", "S9031000EC",
};

} // namespace

class TestModSimProgram : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answersOverVirtualCan();
    void endsOnSigtermWritingTheImages();
    void takesModulesAndDeviceFromTheBenchConfiguration();
    void rejectsBadArguments_data();
    void rejectsBadArguments();
    void verifyExitCodes();
    void unusableDeviceEndsWithOne_data();
    void unusableDeviceEndsWithOne();

private:
    bool startSim(const QStringList &moduleArgs);
    bool connectTester();
    void sendFrame(quint32 id, const QByteArray &payload);
    // Waits for a frame with this text among those not yet consumed; consumes
    // everything up to it.
    bool expectFrame(const QString &text);
    bool waitForOutput(const QString &needle);
    int verify(const QString &firmware, const QString &image, QString *output);

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QProcess> sim_;
    std::unique_ptr<QCanBusDevice> tester_;
    QStringList received_;
    QStringList seen_; // every frame, never consumed
    QString output_;
    QString interface_;
};

void TestModSimProgram::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    const quint16 port = freePort();
    QVERIFY(port != 0);
    interface_ = QStringLiteral("tcp://127.0.0.1:%1/can0").arg(port);
    received_.clear();
    seen_.clear();
    output_.clear();
}

void TestModSimProgram::cleanup()
{
    tester_.reset();
    if (sim_ && sim_->state() != QProcess::NotRunning) {
        sim_->kill();
        sim_->waitForFinished(kWaitMs);
    }
    sim_.reset();
}

bool TestModSimProgram::startSim(const QStringList &moduleArgs)
{
    sim_ = std::make_unique<QProcess>();
    sim_->setProcessChannelMode(QProcess::MergedChannels);
    connect(sim_.get(), &QProcess::readyRead, this, [this] { output_ += QString::fromUtf8(sim_->readAll()); });
    QStringList args{QStringLiteral("--plugin"), QStringLiteral("virtualcan"), QStringLiteral("--interface"),
                     interface_};
    args += moduleArgs;
    sim_->start(QStringLiteral(TARV_MODULESIM), args);
    if (!sim_->waitForStarted(kWaitMs))
        return false;
    return waitForOutput(QStringLiteral("tarvModuleSim ready on virtualcan ") + interface_);
}

bool TestModSimProgram::waitForOutput(const QString &needle)
{
    QElapsedTimer t;
    t.start();
    while (!output_.contains(needle) && t.elapsed() < kWaitMs && sim_->state() != QProcess::NotRunning)
        QTest::qWait(20);
    if (!output_.contains(needle))
        qWarning().noquote() << "no" << needle << "in:\n" << output_;
    return output_.contains(needle);
}

bool TestModSimProgram::connectTester()
{
    QString error;
    tester_.reset(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), interface_, &error));
    if (!tester_)
        return false;
    connect(tester_.get(), &QCanBusDevice::framesReceived, this, [this] {
        for (const QCanBusFrame &f : tester_->readAllFrames()) {
            received_ << frameText(f);
            seen_ << frameText(f);
        }
    });
    if (!tester_->connectDevice())
        return false;
    QElapsedTimer t;
    t.start();
    while (tester_->state() != QCanBusDevice::ConnectedState && t.elapsed() < kWaitMs)
        QTest::qWait(10);
    return tester_->state() == QCanBusDevice::ConnectedState;
}

void TestModSimProgram::sendFrame(quint32 id, const QByteArray &payload)
{
    QCanBusFrame f(id, payload);
    f.setExtendedFrameFormat(false);
    QVERIFY(tester_->writeFrame(f));
}

bool TestModSimProgram::expectFrame(const QString &text)
{
    QElapsedTimer t;
    t.start();
    while (!received_.contains(text) && t.elapsed() < kWaitMs)
        QTest::qWait(5);
    const qsizetype at = received_.indexOf(text);
    if (at < 0) {
        qWarning().noquote() << "frame" << text << "not received; got" << received_ << "\n" << output_;
        return false;
    }
    received_.remove(0, at + 1);
    return true;
}

int TestModSimProgram::verify(const QString &firmware, const QString &image, QString *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(TARV_MODULESIM), {QStringLiteral("--verify"), firmware, image});
    if (!p.waitForFinished(kWaitMs))
        return -1;
    *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void TestModSimProgram::answersOverVirtualCan()
{
    const QString image = dir_->filePath(QStringLiteral("m1.s3"));
    QVERIFY(startSim({QStringLiteral("--module"),
                      QStringLiteral("address=1,name=K3B7,serial=123456,release=2.15,new_release=2.16,image=%1,"
                                     "logon_delay_ms=5,ready_delay_ms=10,erase_delay_ms=10,restart_ms=50")
                          .arg(image),
                      QStringLiteral("--module"),
                      QStringLiteral("address=2,name=K3B7,send_offset=4,logon_delay_ms=5")}));
    QVERIFY(connectTester());

    sendFrame(0x7FF, QByteArray::fromHex("d801"));
    QElapsedTimer t;
    t.start();
    while (received_.size() < 2 && t.elapsed() < kWaitMs)
        QTest::qWait(5);
    received_.sort();
    QCOMPARE(received_, (QStringList{QStringLiteral("20d#d80311"), QStringLiteral("214#d80311")}));
    received_.clear();

    sendFrame(0x209, QByteArray::fromHex("1200"));
    QVERIFY(expectFrame(QStringLiteral("20d#e012345602150"
                                       "1")));
    sendFrame(0x209, QByteArray::fromHex("1201"));
    QVERIFY(expectFrame(QStringLiteral("20d#120100020f")));
    sendFrame(0x209, QByteArray::fromHex("1203"));
    QVERIFY(expectFrame(QStringLiteral("20d#1203") + QString::fromLatin1(QByteArray("K3B7").toHex())));

    sendFrame(0x208, QByteArray::fromHex("1500"));
    QVERIFY(expectFrame(QStringLiteral("20d#1581")));
    sendFrame(0x208, QByteArray::fromHex("1500"));
    sendFrame(0x208, QByteArray::fromHex("1503"));
    for (const QByteArray &line : kFirmware) {
        const QByteArray wire = line + "\r\n";
        for (qsizetype off = 0; off < wire.size(); off += 6) {
            sendFrame(0x209, QByteArray::fromHex("1500") + wire.mid(off, 6));
            QVERIFY2(expectFrame(QStringLiteral("20d#1500")), line.constData());
        }
        QVERIFY2(expectFrame(QStringLiteral("20d#1581")), line.constData());
    }
    sendFrame(0x208, QByteArray::fromHex("1506"));
    QVERIFY(expectFrame(QStringLiteral("20d#d80311")));
    QVERIFY(waitForOutput(QStringLiteral("restarted with release 2.16")));

    const QString firmware = dir_->filePath(QStringLiteral("K3B7_216.hex"));
    QVERIFY(writeText(firmware, kFirmware.join("\r\n") + "\r\n"));
    QString verifyOutput;
    QCOMPARE(verify(firmware, image, &verifyOutput), 0);

    // End of standard input ends the program normally.
    sim_->closeWriteChannel();
    QVERIFY(sim_->waitForFinished(kWaitMs));
    QCOMPARE(sim_->exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim_->exitCode(), 0);
    QVERIFY(output_.contains(QStringLiteral("end of standard input")));
}

void TestModSimProgram::endsOnSigtermWritingTheImages()
{
    const QString image = dir_->filePath(QStringLiteral("m5.s3"));
    QVERIFY(startSim({QStringLiteral("--module"),
                      QStringLiteral("address=5,ready_delay_ms=0,erase_delay_ms=0,image=%1").arg(image)}));
    QVERIFY(connectTester());
    sendFrame(0x228, QByteArray::fromHex("1500"));
    QVERIFY(expectFrame(QStringLiteral("22d#1581")));
    sendFrame(0x228, QByteArray::fromHex("1503"));
    const QByteArray wire = QByteArray(kFirmware[1]) + "\r\n";
    for (qsizetype off = 0; off < wire.size(); off += 6)
        sendFrame(0x229, QByteArray::fromHex("1500") + wire.mid(off, 6));
    QVERIFY(expectFrame(QStringLiteral("22d#1581")));
    QVERIFY2(!QFile::exists(image), "written only at a restart or at the end");

    sim_->terminate();
    QVERIFY(sim_->waitForFinished(kWaitMs));
    QCOMPARE(sim_->exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim_->exitCode(), 0);
    QVERIFY(output_.contains(QStringLiteral("ended by signal 15")));

    const QString firmware = dir_->filePath(QStringLiteral("one.hex"));
    QVERIFY(writeText(firmware, kFirmware[1] + "\n"));
    QString verifyOutput;
    QCOMPARE(verify(firmware, image, &verifyOutput), 0);
}

void TestModSimProgram::takesModulesAndDeviceFromTheBenchConfiguration()
{
    const QString ini = dir_->filePath(QStringLiteral("bench.ini"));
    QVERIFY(writeText(ini, QStringLiteral("[adapter.sim]\nindex = 0\ndriver = pcan_usb\nbackend = sim\n\n"
                                          "[adapter.virtual]\nindex = 1\ndriver = pcan_usb\nbackend = qt\n"
                                          "plugin = virtualcan\ninterface = %1\n\n"
                                          "[module.elsewhere]\nadapter = 0\naddress = 7\n\n"
                                          "[module.a]\nadapter = 1\naddress = 9\nserial = 4711\n\n"
                                          "[module.b]\nadapter = 1\naddress = 10\nimage = b.s3\n")
                               .arg(interface_)
                               .toUtf8()));
    sim_ = std::make_unique<QProcess>();
    sim_->setProcessChannelMode(QProcess::MergedChannels);
    connect(sim_.get(), &QProcess::readyRead, this, [this] { output_ += QString::fromUtf8(sim_->readAll()); });
    sim_->start(QStringLiteral(TARV_MODULESIM),
                {QStringLiteral("--config"), ini, QStringLiteral("--adapter"), QStringLiteral("1")});
    QVERIFY(
        waitForOutput(QStringLiteral("tarvModuleSim ready on virtualcan %1 with 2 module(s)").arg(interface_)));
    QVERIFY(connectTester());
    sendFrame(0x249, QByteArray::fromHex("1200"));
    QVERIFY(expectFrame(QStringLiteral("24d#e0004711042001")));
    // The module of adapter 0 would answer before module b answers the
    // request sent after it.
    sendFrame(0x239, QByteArray::fromHex("1200"));
    sendFrame(0x251, QByteArray::fromHex("1201"));
    QVERIFY(expectFrame(QStringLiteral("255#1201000414")));
    QVERIFY2(!seen_.join(' ').contains(QStringLiteral("23d#")), "a module of another adapter answered");

    sim_->closeWriteChannel();
    QVERIFY(sim_->waitForFinished(kWaitMs));
    QCOMPARE(sim_->exitCode(), 0);
    QVERIFY2(QFile::exists(dir_->filePath(QStringLiteral("b.s3"))), "image path relative to the configuration");
}

void TestModSimProgram::rejectsBadArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("no module") << QStringList{QStringLiteral("--plugin"), QStringLiteral("virtualcan"),
                                              QStringLiteral("--interface"), QStringLiteral("can0")}
                               << QStringLiteral("no module");
    QTest::newRow("bad key") << QStringList{QStringLiteral("--module"), QStringLiteral("address=1,colour=red")}
                             << QStringLiteral("colour");
    QTest::newRow("bad value") << QStringList{QStringLiteral("--module"), QStringLiteral("address=64")}
                               << QStringLiteral("address");
    QTest::newRow("same address") << QStringList{QStringLiteral("--module"), QStringLiteral("address=3"),
                                                 QStringLiteral("--module"), QStringLiteral("address=3,name=X")}
                                  << QStringLiteral("two modules");
    QTest::newRow("no device") << QStringList{QStringLiteral("--module"), QStringLiteral("address=3")}
                               << QStringLiteral("--plugin");
    QTest::newRow("config without adapter")
        << QStringList{QStringLiteral("--config"), QStringLiteral("x.ini")} << QStringLiteral("--adapter");
    QTest::newRow("missing config") << QStringList{
        QStringLiteral("--config"), QStringLiteral("/nonexistent/x.ini"), QStringLiteral("--adapter"),
        QStringLiteral("0")} << QStringLiteral("x.ini");
}

void TestModSimProgram::rejectsBadArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(TARV_MODULESIM), args);
    QVERIFY(p.waitForFinished(kWaitMs));
    const QString text = QString::fromUtf8(p.readAll());
    QCOMPARE(p.exitCode(), 2);
    QVERIFY2(text.contains(message), qPrintable(text));
}

void TestModSimProgram::verifyExitCodes()
{
    const QString firmware = dir_->filePath(QStringLiteral("fw.hex"));
    QVERIFY(writeText(firmware, kFirmware.join("\n") + "\n"));
    const QString same = dir_->filePath(QStringLiteral("same.s3"));
    QVERIFY(writeText(same, "S30A000010000102030405D6\nS307000100000102F4\nS70500000000FA\n"));
    const QString other = dir_->filePath(QStringLiteral("other.s3"));
    QVERIFY(writeText(other, "S30A000010000102030406D5\nS307000100000102F4\nS70500000000FA\n"));
    QString out;
    QCOMPARE(verify(firmware, same, &out), 0);
    QVERIFY2(out.contains(QStringLiteral("holds exactly")), qPrintable(out));
    QCOMPARE(verify(firmware, other, &out), 1);
    QVERIFY2(out.contains(QStringLiteral("0x00001004")), qPrintable(out));
    QCOMPARE(verify(firmware, dir_->filePath(QStringLiteral("none.s3")), &out), 2);
    QCOMPARE(verify(dir_->filePath(QStringLiteral("none.hex")), same, &out), 2);
    // A FIFO without a writer would block a plain open for ever.
    const QString fifo = dir_->filePath(QStringLiteral("fifo.s3"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QCOMPARE(verify(firmware, fifo, &out), 2);
    QVERIFY2(out.contains(QStringLiteral("is not a regular file")), qPrintable(out));
}

void TestModSimProgram::unusableDeviceEndsWithOne_data()
{
    QTest::addColumn<QString>("plugin");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<QString>("message");
    QTest::newRow("no such plugin") << QStringLiteral("nosuchplugin") << QStringLiteral("can0")
                                    << QStringLiteral("cannot create");
    QTest::newRow("no such interface") << QStringLiteral("socketcan") << QStringLiteral("nosuchcan0")
                                       << QStringLiteral("cannot connect");
}

void TestModSimProgram::unusableDeviceEndsWithOne()
{
    QFETCH(QString, plugin);
    QFETCH(QString, interface);
    QFETCH(QString, message);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(TARV_MODULESIM), {QStringLiteral("--plugin"), plugin, QStringLiteral("--interface"),
                                             interface, QStringLiteral("--module"), QStringLiteral("address=1")});
    QVERIFY(p.waitForFinished(kWaitMs));
    const QString text = QString::fromUtf8(p.readAll());
    QCOMPARE(p.exitCode(), 1);
    QVERIFY2(text.contains(message), qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("tarvModuleSim ready")), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestModSimProgram)
#include "modsimprogram_test.moc"
