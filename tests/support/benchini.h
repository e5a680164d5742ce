// The bench configuration that the interface stand-in reads (TARVCAN_CONFIG):
// adapters of the USB driver and simulated modules on them. Every adapter
// traces its bus into trace<index>.log and every module writes its flash into
// module-<address>.s3, both beside the file.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace testkit {

using Keys = QList<QPair<QString, QString>>;

class BenchIni
{
public:
    // A simulated adapter serving the line of its rank among the indexes;
    // keys add to index, driver, backend and trace, or replace them.
    void addAdapter(int index, const Keys &keys = {});
    void addQtAdapter(int index, const QString &plugin, const QString &interface, const Keys &keys = {});
    // A module on adapter 0, named K3B7; keys add to adapter, address, name
    // and image, or replace them.
    void addModule(int address, const Keys &keys = {});

    QString text() const;
    // The adapter index serving a line, -1 when none does.
    int adapterOfLine(int line) const;
    QList<int> moduleAddresses() const;
    // Whether a module or adapter key makes frames go missing or come late.
    bool injectsLossOrDelay() const;

    static QString traceName(int adapterIndex);
    static QString imageName(int address);
    // tarvModuleSim's --module value for the same module, its image in folder.
    static QString moduleOption(int address, const Keys &keys, const QString &folder);

private:
    struct Section
    {
        QString header;
        Keys keys;
    };
    static Keys moduleKeys(int address, const Keys &keys);

    QList<Section> sections_;
    QList<int> adapters_;
    QList<int> modules_;
};

} // namespace testkit
