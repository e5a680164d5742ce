// Where a process gets its bench from: TARVCAN_CONFIG, else tarvcan.ini
// beside the library; a bad file is reported and offers no adapter. Also the
// end of a process, which writes the modules' images.
#include "apitestsupport.h"
#include "processsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

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
    const ProcessResult r = runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("pcan_usb")}, environmentWith(ini));
    ASSERT_EQ(r.exitCode, 0) << str(r.err);
    EXPECT_EQ(str(r.out), "load 0\n16 11 PCAN-USB (a)\n15 11 PCAN-USB (b)\n");
    EXPECT_TRUE(r.err.isEmpty()) << str(r.err);
}

TEST(Environment, BadFileIsReportedWithFileAndLineAndOffersNoAdapter)
{
    QTemporaryDir dir;
    const QString ini = write(dir, QStringLiteral("bad.ini"),
                              "[adapter.a]\nindex = 1\ndriver = pcan_usb\nbackend = sim\nbitrate = 125\n");
    const ProcessResult r = runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("pcan_usb")}, environmentWith(ini));
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(str(r.out), "load 0\n");
    EXPECT_TRUE(r.err.contains(ini + QStringLiteral(":5: unknown key bitrate"))) << str(r.err);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no CAN adapter is offered"))) << str(r.err);
}

TEST(Environment, MissingFileIsReported)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("none.ini"));
    const ProcessResult r = runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("peakcan")}, environmentWith(ini));
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(str(r.out), "load 0\n");
    EXPECT_TRUE(r.err.contains(ini + QStringLiteral(": cannot be read"))) << str(r.err);
}

TEST(Environment, FileBesideTheLibraryWhenTheVariableIsUnset)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(QStringLiteral(CANAPI_LIBRARY), dir.filePath(QFileInfo(QStringLiteral(CANAPI_LIBRARY)).fileName())));
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
    ASSERT_TRUE(QFile::copy(QStringLiteral(CANAPI_LIBRARY), dir.filePath(QFileInfo(QStringLiteral(CANAPI_LIBRARY)).fileName())));
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
    const ProcessResult r = runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("pcan_usb")}, environmentWith(ini));
    ASSERT_EQ(r.exitCode, 0) << str(r.err);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("images/m.s3"))));
}

TEST(Environment, TraceThatCannotBeWrittenIsReported)
{
    QTemporaryDir dir;
    const QString ini = write(dir, QStringLiteral("bench.ini"),
                              "[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = sim\ntrace = no/such/dir/t.log\n");
    const ProcessResult r = runProcess(kProbe, {QStringLiteral("list"), QStringLiteral("pcan_usb")}, environmentWith(ini));
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(str(r.out), "load 0\n");
    EXPECT_TRUE(r.err.contains(QStringLiteral("no/such/dir/t.log: cannot be written"))) << str(r.err);
}

} // namespace
