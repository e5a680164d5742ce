#include "moduleoption.h"

#include <QStringList>

#include <utility>
#include <vector>

namespace modsim {

bool parseModuleOption(const QString &text, const QString &baseDir, ModuleConfig *config, QString *error)
{
    std::vector<std::pair<QString, QString>> pairs;
    for (const QString &piece : text.split(QLatin1Char(','))) {
        const qsizetype eq = piece.indexOf(QLatin1Char('='));
        if (eq < 0) {
            if (pairs.empty()) {
                *error = QStringLiteral("module option \"%1\": expected key=value").arg(text);
                return false;
            }
            pairs.back().second += QLatin1Char(',') + piece;
            continue;
        }
        pairs.emplace_back(piece.left(eq).trimmed(), piece.mid(eq + 1));
    }
    ModuleConfig result;
    for (const auto &[key, value] : pairs) {
        std::string why;
        if (!applyModuleKey(result, key.toStdString(), value.toStdString(), baseDir.toStdString(), &why)) {
            *error = QStringLiteral("module option \"%1\": %2").arg(text, QString::fromStdString(why));
            return false;
        }
    }
    std::string why;
    if (!validateModule(result, &why)) {
        *error = QStringLiteral("module option \"%1\": %2").arg(text, QString::fromStdString(why));
        return false;
    }
    *config = std::move(result);
    return true;
}

} // namespace modsim

namespace modsim {

bool checkModuleSet(const std::vector<ModuleConfig> &modules, QString *error)
{
    if (modules.empty()) {
        *error = QStringLiteral("no module to simulate");
        return false;
    }
    for (size_t i = 0; i < modules.size(); ++i) {
        for (size_t j = i + 1; j < modules.size(); ++j) {
            if (modules[i].address == modules[j].address) {
                *error = QStringLiteral("two modules with the address %1").arg(modules[i].address);
                return false;
            }
        }
    }
    return true;
}

} // namespace modsim
