// The commented reference of the module keys stays complete and true.
#include "benchconfig.h"
#include "moduleconfig.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

namespace {

const QString kReference = QStringLiteral(TARV_EXAMPLES_DIR "/bench-reference.ini");

TEST(BenchReference, ParsesToTheDefaultModule)
{
    canapi::BenchConfig bench;
    QString error;
    ASSERT_TRUE(canapi::loadBenchConfig(kReference, &bench, &error)) << error.toStdString();
    ASSERT_EQ(bench.modules.size(), 1);
    EXPECT_EQ(bench.modules[0].adapterIndex, 0);
    EXPECT_TRUE(bench.modules[0].config == modsim::ModuleConfig{})
        << "every value in the reference is the default";
}

TEST(BenchReference, DocumentsEveryModuleKey)
{
    QFile file(kReference);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    for (const std::string &key : modsim::moduleKeys()) {
        const QRegularExpression line(QStringLiteral("^%1\\s*=").arg(QString::fromStdString(key)),
                                      QRegularExpression::MultilineOption);
        EXPECT_TRUE(line.match(text).hasMatch()) << key;
    }
}

} // namespace
