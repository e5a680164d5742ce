#include "inivalue.h"

#include <QRegularExpression>

namespace canapi {

bool parseNumber(const QString &text, qulonglong max, qulonglong *out)
{
    bool ok = false;
    qulonglong value = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = text.mid(2).toULongLong(&ok, 16);
    else
        value = text.toULongLong(&ok, 10);
    if (!ok || value > max)
        return false;
    *out = value;
    return true;
}

bool parseFlag(const QString &text, bool *out)
{
    if (text != QLatin1String("true") && text != QLatin1String("false"))
        return false;
    *out = text == QLatin1String("true");
    return true;
}

bool cleanValue(const QString &raw, QString *value, QString *problem)
{
    QString v = raw.trimmed();
    if (v.startsWith(QLatin1Char('"'))) {
        const qsizetype close = v.indexOf(QLatin1Char('"'), 1);
        if (close < 0) {
            *problem = QStringLiteral("missing closing quote");
            return false;
        }
        const QString rest = v.mid(close + 1).trimmed();
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(';'))) {
            *problem = QStringLiteral("text after the closing quote");
            return false;
        }
        *value = v.mid(1, close - 1);
        return true;
    }
    static const QRegularExpression comment(QStringLiteral("(^|\\s);"));
    const QRegularExpressionMatch m = comment.match(v);
    if (m.hasMatch())
        v.truncate(m.capturedStart());
    *value = v.trimmed();
    return true;
}

} // namespace canapi
