#include "peer/MessageFilter.h"

namespace {

bool collect(const MessageDefinitions &definitions, const QStringList &lists, QSet<quint16> &ids, QString &error)
{
    for (const QString &list : lists) {
        for (const QString &pattern : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QList<quint16> selected = definitions.select(pattern);
            if (selected.isEmpty()) {
                error = QStringLiteral("no message is named '%1'").arg(pattern.trimmed());
                return false;
            }
            for (quint16 id : selected)
                ids.insert(id);
        }
    }
    return true;
}

} // namespace

bool MessageFilter::set(const MessageDefinitions &definitions, const QStringList &only, const QStringList &except,
                        QString &error)
{
    _only.clear();
    _except.clear();
    return collect(definitions, only, _only, error) && collect(definitions, except, _except, error);
}

bool MessageFilter::accepts(quint16 id) const
{
    if (!_only.isEmpty() && !_only.contains(id))
        return false;
    return !_except.contains(id);
}
