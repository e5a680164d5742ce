// One end-to-end scenario: a temporary folder with a firmware file and a bench
// configuration, the real tarvCanFlash run against it, and the checks of its
// output and of the modules' images.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

struct FlashRun
{
    int exitCode = -1;     // -1: crashed or did not end in time
    QString out;           // standard output as written
    QString err;           // standard error as written
    QStringList outLines;  // without line ends
    QStringList errLines;

    int countOut(const QString &prefix) const;
    int countErr(const QString &text) const;
    QStringList progressLines() const; // "Flash " and "Compare " lines in order
};

class FlashBench
{
public:
    using Keys = QList<QPair<QString, QString>>;

    FlashBench();
    bool valid() const { return dir_.isValid(); }
    QString path(const QString &name) const { return dir_.filePath(name); }

    // S-record file of one header, `dataLines` lines of 16 bytes and an end
    // record. Returns the file's lines as written.
    QStringList writeFirmware(const QString &name = QStringLiteral("K3B7_421.hex"),
                              int dataLines = 12);
    const QString &firmwarePath() const { return firmwarePath_; }
    const QStringList &firmwareLines() const { return firmwareLines_; }

    // Simulated adapter `index` (line `index`), with extra adapter keys.
    void addAdapter(int index, const Keys &keys = {});
    void addQtAdapter(int index, const QString &plugin, const QString &interface);
    // A module on adapter 0 unless the keys name another; image module-<address>.s3.
    void addModule(int address, const Keys &keys = {});
    QString imagePath(int address) const;
    void writeConfig();
    QString configPath() const { return path(QStringLiteral("bench.ini")); }

    // Runs tarvCanFlash with TARVCAN_CONFIG set; stdin is written and closed.
    FlashRun run(const QStringList &args, const QByteArray &input = {},
                 const QString &program = QString());
    // Starts it for a test that talks to it; the caller waits.
    void start(QProcess &process, const QStringList &args, const QString &program = QString());
    static FlashRun collect(QProcess &process);

    // tarvModuleSim --verify FIRMWARE IMAGE: the image holds exactly the file's data.
    bool verifyImage(int address) const;

    static QString flasherPath();
    static QString moduleSimPath();

private:
    QTemporaryDir dir_;
    QString firmwarePath_;
    QStringList firmwareLines_;
    QStringList config_;
};

// Arguments of a normal automatic run on the line at 1000 kbit/s.
QStringList autoArgs(const FlashBench &bench, int line = 0, const QString &rate = "1000");
