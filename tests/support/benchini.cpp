#include "benchini.h"

#include <QDir>

#include <algorithm>

namespace testkit {

namespace {

Keys merged(Keys defaults, const Keys &keys)
{
    for (const auto &[key, value] : keys) {
        const auto same =
            std::find_if(defaults.begin(), defaults.end(), [&](const auto &d) { return d.first == key; });
        if (same == defaults.end())
            defaults.append({key, value});
        else
            same->second = value;
    }
    return defaults;
}

Keys adapterKeys(int index, const QString &backend)
{
    return {{"index", QString::number(index)},
            {"driver", "pcan_usb"},
            {"backend", backend},
            {"trace", BenchIni::traceName(index)}};
}

} // namespace

void BenchIni::addAdapter(int index, const Keys &keys)
{
    sections_.append({QStringLiteral("adapter.a%1").arg(index), merged(adapterKeys(index, "sim"), keys)});
    adapters_.append(index);
}

void BenchIni::addQtAdapter(int index, const QString &plugin, const QString &interface, const Keys &keys)
{
    const Keys qt{{"plugin", plugin}, {"interface", interface}};
    sections_.append(
        {QStringLiteral("adapter.q%1").arg(index), merged(merged(adapterKeys(index, "qt"), qt), keys)});
    adapters_.append(index);
}

void BenchIni::addModule(int address, const Keys &keys)
{
    sections_.append({QStringLiteral("module.m%1").arg(address), moduleKeys(address, keys)});
    modules_.append(address);
}

Keys BenchIni::moduleKeys(int address, const Keys &keys)
{
    return merged({{"adapter", "0"},
                   {"address", QString::number(address)},
                   {"name", "K3B7"},
                   {"image", imageName(address)}},
                  keys);
}

QString BenchIni::text() const
{
    QStringList lines;
    for (const Section &section : sections_) {
        lines << u'[' + section.header + u']';
        // Quoted, so that a blank or a semicolon in a path stays part of it.
        for (const auto &[key, value] : section.keys)
            lines << key + QStringLiteral(" = \"") + value + u'"';
        lines << QString();
    }
    return lines.join(u'\n');
}

int BenchIni::adapterOfLine(int line) const
{
    QList<int> indexes = adapters_;
    std::sort(indexes.begin(), indexes.end());
    return line >= 0 && line < indexes.size() ? indexes[line] : -1;
}

QList<int> BenchIni::moduleAddresses() const
{
    return modules_;
}

bool BenchIni::injectsLossOrDelay() const
{
    static const QStringList lossOrDelay{"lose_ack_frames",  "lose_ack_prob",         "lose_answer_lines",
                                         "lose_answer_prob", "late_ack_frames",       "late_answer_lines",
                                         "rx_loss_prob",     "tx_loss_prob",          "answer_delay_us",
                                         "die_at_line",      "missed_logon_requests", "bus_off_after_frames"};
    for (const Section &section : sections_) {
        for (const auto &[key, value] : section.keys) {
            if (lossOrDelay.contains(key))
                return true;
        }
    }
    return false;
}

QString BenchIni::traceName(int adapterIndex)
{
    return QStringLiteral("trace%1.log").arg(adapterIndex);
}

QString BenchIni::imageName(int address)
{
    return QStringLiteral("module-%1.s3").arg(address);
}

QString BenchIni::moduleOption(int address, const Keys &keys, const QString &folder)
{
    QStringList pairs;
    for (const auto &[key, value] : moduleKeys(address, keys)) {
        if (key != QLatin1String("adapter"))
            pairs << key + u'=' + (key == QLatin1String("image") ? QDir(folder).filePath(value) : value);
    }
    return pairs.join(u',');
}

} // namespace testkit
