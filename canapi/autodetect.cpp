#include "autodetect.h"

#include <QCanBus>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <cstdio>

namespace canapi {

QString driverForDevice(const QString &plugin, const QString &name, const QString &kernelDriver)
{
    if (plugin == QLatin1String("peakcan")) {
        static const QRegularExpression usb(QStringLiteral("^usb\\d+$"));
        static const QRegularExpression pci(QStringLiteral("^pci\\d+$"));
        if (usb.match(name).hasMatch())
            return QStringLiteral("pcan_usb");
        if (pci.match(name).hasMatch())
            return QStringLiteral("pcan_pci");
        return QStringLiteral("peakcan");
    }
    if (plugin == QLatin1String("socketcan")) {
        if (kernelDriver == QLatin1String("peak_usb"))
            return QStringLiteral("pcan_usb");
        if (kernelDriver == QLatin1String("peak_pci") || kernelDriver == QLatin1String("peak_pciefd"))
            return QStringLiteral("pcan_pci");
    }
    return QString();
}

QString kernelDriverOf(const QString &interfaceName)
{
    const QFileInfo link(QStringLiteral("/sys/class/net/%1/device/driver").arg(interfaceName));
    if (!link.isSymLink())
        return QString();
    return QFileInfo(link.symLinkTarget()).fileName();
}

namespace {

constexpr char kPeakcanCategory[] = "qt.canbus.plugins.peakcan";
QLoggingCategory::CategoryFilter outerFilter = nullptr;

void peakcanQuiet(QLoggingCategory *category)
{
    if (outerFilter != nullptr)
        outerFilter(category);
    if (qstrcmp(category->categoryName(), kPeakcanCategory) != 0)
        return;
    for (const QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
        category->setEnabled(type, false);
}

// Without PCAN-Basic the peakcan plugin complains of a library it cannot load
// at every look; during the search that is no news, and error says it anyway.
QList<QCanBusDeviceInfo> devicesOf(const QString &plugin, QString *error)
{
    outerFilter = QLoggingCategory::installFilter(&peakcanQuiet);
    const QList<QCanBusDeviceInfo> devices = QCanBus::instance()->availableDevices(plugin, error);
    QLoggingCategory::installFilter(outerFilter);
    return devices;
}

AdapterConfig adapterFor(const QString &plugin, const QString &name, const QString &driver, int index)
{
    AdapterConfig a;
    a.name = QStringLiteral("%1-%2").arg(plugin, name);
    a.index = index;
    a.driver = driver;
    a.backend = AdapterConfig::Backend::Qt;
    a.plugin = plugin;
    a.interface = name;
    a.traceName = QStringLiteral("can%1").arg(index);
    return a;
}

} // namespace

QString noAdapterFound(const FruitlessSearch &search)
{
    const QString others = search.otherInterfaces.isEmpty()
                               ? QString()
                               : QStringLiteral(" (%1: name it in a bench file)")
                                     .arg(search.otherInterfaces.join(QStringLiteral(", ")));
    const QString peakcan = search.peakcanProblem.isEmpty() ? QStringLiteral("PCAN-Basic lists no adapter")
                                                            : QStringLiteral("no PCAN-Basic library");
    return QStringLiteral("no CAN adapter found: no bench file (TARVCAN_CONFIG, tarvcan.ini beside the library, "
                          "or /etc/tarvcanflash/tarvcan.ini), "
                          "no SocketCAN interface of a PEAK driver%1, %2")
        .arg(others, peakcan);
}

BenchConfig detectBench()
{
    BenchConfig bench;
    FruitlessSearch search;
    for (const QString &plugin : {QStringLiteral("peakcan"), QStringLiteral("socketcan")}) {
        QString error;
        const QList<QCanBusDeviceInfo> devices = devicesOf(plugin, &error);
        if (plugin == QLatin1String("peakcan"))
            search.peakcanProblem = error;
        for (const QCanBusDeviceInfo &info : devices) {
            const QString kernel = plugin == QLatin1String("socketcan") ? kernelDriverOf(info.name()) : QString();
            const QString driver = driverForDevice(plugin, info.name(), kernel);
            if (driver.isEmpty()) {
                search.otherInterfaces.append(QStringLiteral("%1 (%2)").arg(
                    info.name(), kernel.isEmpty() ? QStringLiteral("virtual") : kernel));
                continue;
            }
            bench.adapters.append(
                adapterFor(plugin, info.name(), driver, static_cast<int>(bench.adapters.size())));
            if (bench.adapters.size() >= 16)
                return bench;
        }
    }
    if (bench.adapters.isEmpty())
        std::fprintf(stderr, "tarvcanapi: %s\n", qPrintable(noAdapterFound(search)));
    return bench;
}

} // namespace canapi
