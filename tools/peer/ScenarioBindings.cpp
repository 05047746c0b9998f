#include "peer/ScenarioBindings.h"

#include <QRegularExpression>

#include <cmath>

namespace {

const QRegularExpression &referenceForm()
{
    static const QRegularExpression form(
        QStringLiteral("\\$\\{([A-Za-z_][A-Za-z0-9_]*)\\.([A-Za-z_][A-Za-z0-9_]*)(?::\\.(\\d))?\\}"));
    return form;
}

QString rounded(double value, int decimals)
{
    // Rounded half away from zero, as the UI shows it, before printing.
    const double scale = std::pow(10.0, decimals);
    return QString::number(std::round(value * scale) / scale, 'f', decimals);
}

} // namespace

bool ScenarioBindings::references(const QString &value, QList<Reference> &found)
{
    found.clear();
    auto it = referenceForm().globalMatch(value);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        Reference reference;
        reference.text = match.captured(0);
        reference.name = match.captured(1);
        reference.field = match.captured(2);
        if (match.capturedLength(3) > 0)
            reference.decimals = match.captured(3).toInt();
        found << reference;
    }
    return value.count(QStringLiteral("${")) == found.size();
}

bool ScenarioBindings::resolve(const QString &value, QString &resolved, QString &error) const
{
    QList<Reference> found;
    if (!references(value, found)) {
        error = QStringLiteral("'%1' holds a malformed reference").arg(value);
        return false;
    }
    resolved = value;
    for (const Reference &reference : found) {
        const auto kept = _kept.constFind(reference.name);
        if (kept == _kept.constEnd() || !kept->has(reference.field)) {
            error = QStringLiteral("%1 has no value: nothing was kept as '%2' with that field")
                        .arg(reference.text, reference.name);
            return false;
        }
        const QVariant field = kept->value(reference.field);
        resolved.replace(reference.text, reference.decimals < 0 ? FieldType::text(field)
                                                                : rounded(field.toDouble(), reference.decimals));
    }
    return true;
}
