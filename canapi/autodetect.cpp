#include "autodetect.h"

#include <QCanBus>
#include <QFileInfo>
#include <QRegularExpression>

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

BenchConfig detectBench()
{
    BenchConfig bench;
    int index = 0;
    for (const QString &plugin : {QStringLiteral("peakcan"), QStringLiteral("socketcan")}) {
        QString error;
        const QList<QCanBusDeviceInfo> devices = QCanBus::instance()->availableDevices(plugin, &error);
        for (const QCanBusDeviceInfo &info : devices) {
            const QString kernel = plugin == QLatin1String("socketcan") ? kernelDriverOf(info.name()) : QString();
            const QString driver = driverForDevice(plugin, info.name(), kernel);
            if (driver.isEmpty())
                continue;
            AdapterConfig a;
            a.name = QStringLiteral("%1-%2").arg(plugin, info.name());
            a.index = index;
            a.driver = driver;
            a.backend = AdapterConfig::Backend::Qt;
            a.plugin = plugin;
            a.interface = info.name();
            a.traceName = QStringLiteral("can%1").arg(index);
            bench.adapters.append(a);
            if (++index >= 16)
                return bench;
        }
    }
    return bench;
}

} // namespace canapi
