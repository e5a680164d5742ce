// Where a process gets its bench from: TARVCAN_CONFIG, else tarvcan.ini
// beside the library; a bad file is reported and offers no adapter. Also the
// end of a process, which writes the modules' images.
#include "apitestsupport.h"
#include "processsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace canapitest;

const QString kProbe = QStringLiteral(CANAPI_PROBE);

QString write(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text);
    return path;
}

std::string str(const QString &s)
{
    return s.toStdString();
}

TEST(Environment, ConfigFileNamedByTheVariable)
{
    QTemporaryDir dir;
    const QString ini = write(dir, QStringLiteral("bench.ini"),
                              "[adapter.b]\nindex = 2\ndriver = pcan_usb\nbackend = sim\n"
                              "[adapter.a]\nindex = 1\ndriver = pcan_usb\nbackend = sim\n");
    const ProcessResult r =
        runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("pcan_usb")}, environmentWith(ini));
    ASSERT_EQ(r.exitCode, 0) << str(r.err);
    EXPECT_EQ(str(r.out), "load 0\n16 11 PCAN-USB (a)\n15 11 PCAN-USB (b)\n");
    EXPECT_TRUE(r.err.isEmpty()) << str(r.err);
}

TEST(Environment, BadFileIsReportedWithFileAndLineAndOffersNoAdapter)
{
    QTemporaryDir dir;
    const QString ini = write(dir, QStringLiteral("bad.ini"),
                              "[adapter.a]\nindex = 1\ndriver = pcan_usb\nbackend = sim\nbitrate = 125\n");
    const ProcessResult r =
        runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("pcan_usb")}, environmentWith(ini));
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(str(r.out), "load 0\n");
    EXPECT_TRUE(r.err.contains(ini + QStringLiteral(":5: unknown key bitrate"))) << str(r.err);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no CAN adapter is offered"))) << str(r.err);
}

TEST(Environment, MissingFileIsReported)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("none.ini"));
    const ProcessResult r =
        runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("peakcan")}, environmentWith(ini));
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(str(r.out), "load 0\n");
    EXPECT_TRUE(r.err.contains(ini + QStringLiteral(": cannot be read"))) << str(r.err);
}

TEST(Environment, FileBesideTheLibraryWhenTheVariableIsUnset)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(QStringLiteral(CANAPI_LIBRARY),
                            dir.filePath(QFileInfo(QStringLiteral(CANAPI_LIBRARY)).fileName())));
    write(dir, QStringLiteral("tarvcan.ini"), "[adapter.pci]\nindex = 0\ndriver = pcan_pci\nbackend = sim\n");
    QProcessEnvironment env = environmentWith(QString());
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), dir.path());
    const ProcessResult r = runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("pcan_pci")}, env);
    ASSERT_EQ(r.exitCode, 0) << str(r.err);
    EXPECT_EQ(str(r.out), "load 0\n16 12 PCAN-PCI (pci)\n");
}

TEST(Environment, WithoutAFileOnlyRealPeakAdaptersAreOffered)
{
    // A library copy with no tarvcan.ini beside it: the stand-in looks for
    // real adapters, which a test machine may or may not have.
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(QStringLiteral(CANAPI_LIBRARY),
                            dir.filePath(QFileInfo(QStringLiteral(CANAPI_LIBRARY)).fileName())));
    QProcessEnvironment env = environmentWith(QString());
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), dir.path());
    const ProcessResult r = runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("peakcan")}, env);
    ASSERT_EQ(r.exitCode, 0) << str(r.err);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(str(lines.first()), "load 0");
    for (qsizetype i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(lines.at(i).contains(QStringLiteral(" PCAN"))) << str(lines.at(i));
    // Its one word: that it found none, when it offers none.
    EXPECT_EQ(r.err.count(QStringLiteral("tarvcanapi:")), lines.size() == 1 ? 1 : 0) << str(r.err);
}

TEST(Environment, ModuleImagesAreWrittenWhenTheProcessEnds)
{
    QTemporaryDir dir;
    const QString ini = write(dir, QStringLiteral("bench.ini"),
                              "[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = sim\n"
                              "[module.m]\nadapter = 0\naddress = 4\nimage = images/m.s3\n");
    QDir(dir.path()).mkdir(QStringLiteral("images"));
    const ProcessResult r =
        runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("pcan_usb")}, environmentWith(ini));
    ASSERT_EQ(r.exitCode, 0) << str(r.err);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("images/m.s3"))));
}

// Hostile bench files and the places they name. A file the bench cannot
// write refuses its adapter only: it is still listed, so that the lines of
// the others do not move, and the message names file, line, key and adapter.
struct HostileBench
{
    const char *what;
    QByteArray text;                              // bench.ini, unless prepare names another file
    QString (*prepare)(const QTemporaryDir &dir); // the bench file to use; nullptr = bench.ini
    const char *out;
    QString err; // "%1" = the folder
};

void PrintTo(const HostileBench &c, std::ostream *os)
{
    *os << c.what;
}

class HostileBenchFile : public testing::TestWithParam<HostileBench>
{};

TEST_P(HostileBenchFile, IsRefusedWithAMessageAndNothingOutsideIsWritten)
{
    const HostileBench &c = GetParam();
    QTemporaryDir dir;
    write(dir, QStringLiteral("victim.txt"), "keep");
    QString ini = write(dir, QStringLiteral("bench.ini"), c.text);
    if (c.prepare)
        ini = c.prepare(dir);
    const ProcessResult r =
        runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("pcan_usb")}, environmentWith(ini), 10000);
    EXPECT_EQ(r.exitCode, 0) << str(r.err);
    EXPECT_EQ(str(r.out), c.out);
    EXPECT_TRUE(r.err.contains(c.err.arg(dir.path()))) << str(r.err);
    QFile victim(dir.filePath(QStringLiteral("victim.txt")));
    ASSERT_TRUE(victim.open(QIODevice::ReadOnly));
    EXPECT_EQ(victim.readAll(), "keep");
}

#define TWO_ADAPTERS                                                                                             \
    "[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = sim\n"                                                 \
    "[adapter.b]\nindex = 1\ndriver = pcan_usb\nbackend = sim\n"
#define BOTH_LISTED "load 0\n16 11 PCAN-USB (a)\n15 11 PCAN-USB (b)\n"

QString linkToVictim(const QTemporaryDir &dir, const QString &name)
{
    QFile::link(dir.filePath(QStringLiteral("victim.txt")), dir.filePath(name));
    return dir.filePath(QStringLiteral("bench.ini"));
}

QString fifo(const QString &path)
{
    ::mkfifo(QFile::encodeName(path).constData(), 0600);
    return path;
}

INSTANTIATE_TEST_SUITE_P(
    Environment, HostileBenchFile,
    testing::Values(
        HostileBench{"trace is a link", TWO_ADAPTERS "trace = run.log\n",
                     [](const QTemporaryDir &d) { return linkToVictim(d, QStringLiteral("run.log")); },
                     BOTH_LISTED,
                     QStringLiteral("%1/bench.ini:9: trace of [adapter.b]: %1/run.log: is a symbolic link, which "
                                    "is not followed for writing; adapter b cannot be opened")},
        HostileBench{"stats is a link", TWO_ADAPTERS "stats = stats.json\n",
                     [](const QTemporaryDir &d) { return linkToVictim(d, QStringLiteral("stats.json")); },
                     BOTH_LISTED,
                     QStringLiteral("%1/bench.ini:9: stats of [adapter.b]: %1/stats.json: is a symbolic link")},
        HostileBench{"image is a link", TWO_ADAPTERS "[module.m]\nadapter = 0\naddress = 4\nimage = m.s3\n",
                     [](const QTemporaryDir &d) { return linkToVictim(d, QStringLiteral("m.s3")); }, BOTH_LISTED,
                     QStringLiteral("%1/bench.ini:12: image of [module.m]: %1/m.s3: is a symbolic link, which is "
                                    "not followed for writing; adapter a cannot be opened")},
        // The bench file itself, however named: an output there would replace it.
        HostileBench{"trace is the bench file by way of ..", TWO_ADAPTERS "trace = sub/../bench.ini\n",
                     [](const QTemporaryDir &d) {
                         QDir(d.path()).mkdir(QStringLiteral("sub"));
                         return d.filePath(QStringLiteral("bench.ini"));
                     },
                     BOTH_LISTED,
                     QStringLiteral("%1/bench.ini:9: trace of [adapter.b]: %1/bench.ini: is the bench file "
                                    "itself; adapter b cannot be opened")},
        HostileBench{
            "stats is a hard link to the bench file", TWO_ADAPTERS "stats = stats.json\n",
            [](const QTemporaryDir &d) {
                ::link(QFile::encodeName(d.filePath(QStringLiteral("bench.ini"))).constData(),
                       QFile::encodeName(d.filePath(QStringLiteral("stats.json"))).constData());
                return d.filePath(QStringLiteral("bench.ini"));
            },
            BOTH_LISTED,
            QStringLiteral("%1/bench.ini:9: stats of [adapter.b]: %1/stats.json: is the bench file itself")},
        HostileBench{"image is the bench file in a linked folder",
                     TWO_ADAPTERS "[module.m]\nadapter = 0\naddress = 4\nimage = here/bench.ini\n",
                     [](const QTemporaryDir &d) {
                         QFile::link(d.path(), d.filePath(QStringLiteral("here")));
                         return d.filePath(QStringLiteral("bench.ini"));
                     },
                     BOTH_LISTED,
                     QStringLiteral("%1/bench.ini:12: image of [module.m]: %1/here/bench.ini: is the bench file "
                                    "itself; adapter a cannot be opened")},
        HostileBench{"trace is a named pipe", TWO_ADAPTERS "trace = pipe.log\n",
                     [](const QTemporaryDir &d) {
                         fifo(d.filePath(QStringLiteral("pipe.log")));
                         return d.filePath(QStringLiteral("bench.ini"));
                     },
                     BOTH_LISTED,
                     QStringLiteral("%1/bench.ini:9: trace of [adapter.b]: %1/pipe.log: is not a regular file")},
        HostileBench{"trace in no folder", TWO_ADAPTERS "trace = no/such/dir/t.log\n", nullptr, BOTH_LISTED,
                     QStringLiteral("%1/bench.ini:9: trace of [adapter.b]: %1/no/such/dir/t.log: cannot be "
                                    "written: No such file or directory")},
        HostileBench{"bench file is a device", "",
                     [](const QTemporaryDir &) { return QStringLiteral("/dev/zero"); }, "load 0\n",
                     QStringLiteral("/dev/zero: is not a regular file")},
        HostileBench{"bench file is a named pipe", "",
                     [](const QTemporaryDir &d) { return fifo(d.filePath(QStringLiteral("pipe.ini"))); },
                     "load 0\n", QStringLiteral("%1/pipe.ini: is not a regular file")},
        HostileBench{"bench file too large", "; " + QByteArray(1024 * 1024, 'x') + "\n" TWO_ADAPTERS, nullptr,
                     "load 0\n", QStringLiteral("%1/bench.ini: is larger than 1048576 bytes")},
        HostileBench{
            "bench file of comments only", "; nothing here\n# nor here\n", nullptr, "load 0\n",
            QStringLiteral(
                "%1/bench.ini: the bench file has no [adapter.NAME] section, so no CAN adapter is offered")}));

} // namespace
