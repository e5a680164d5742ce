// The folder of one process-level test: a firmware file, the bench
// configuration, and runs of tarvCanFlash against them. The folder goes with
// the object unless it is kept.
#pragma once

#include "benchini.h"
#include "flasherrun.h"
#include "srecord.h"

#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace testkit {

class Bench
{
public:
    Bench();
    // A folder made from a QTemporaryDir template.
    explicit Bench(const QString &folderTemplate);
    // In a Qt test that has failed, the output of each run goes to the log.
    ~Bench();

    bool valid() const { return dir_.isValid(); }
    QString folder() const { return dir_.path(); }
    QString path(const QString &name) const { return dir_.filePath(name); }
    bool writeFile(const QString &name, const QByteArray &bytes) const;
    QString keepFolder();

    // Writes the firmware file with CR LF line ends; returns its lines.
    QStringList writeFirmware(const FirmwareShape &shape = {},
                              const QString &name = QStringLiteral("K3B7_421.hex"));
    QStringList writeFirmware(const QList<QByteArray> &records, const QString &name);
    const QString &firmwarePath() const { return firmwarePath_; }
    const QStringList &firmwareLines() const { return firmwareLines_; }

    BenchIni &ini() { return ini_; }
    const BenchIni &ini() const { return ini_; }
    void addAdapter(int index, const Keys &keys = {}) { ini_.addAdapter(index, keys); }
    void addQtAdapter(int index, const QString &plugin, const QString &interface)
    {
        ini_.addQtAdapter(index, plugin, interface);
    }
    void addModule(int address, const Keys &keys = {}) { ini_.addModule(address, keys); }
    bool writeConfig() const;
    QString configPath() const { return path(QStringLiteral("bench.ini")); }
    QString imagePath(int address) const { return path(BenchIni::imageName(address)); }
    bool verifyImage(int address) const;

    // An automatic run of the firmware file on the line.
    QStringList autoArgs(int line = 0, const QString &rate = QStringLiteral("1000")) const;
    // A run in this folder with its configuration, judged on the trace of its
    // line, with every module's image checked.
    RunSpec spec(const QStringList &args) const;
    RunResult run(const QStringList &args, const QByteArray &input = {}, const QString &program = {});
    // Started; the caller talks to it and finishes it.
    FlasherRun &start(const QStringList &args, bool closeInput = true);

private:
    QTemporaryDir dir_;
    QString firmwarePath_;
    QStringList firmwareLines_;
    BenchIni ini_;
    std::vector<std::unique_ptr<FlasherRun>> runs_;
};

} // namespace testkit
