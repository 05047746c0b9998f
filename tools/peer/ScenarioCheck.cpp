#include "peer/ScenarioCheck.h"

#include <QRegularExpression>

namespace {

struct OpText {
    ScenarioCheck::Op op;
    const char *text;
};

// Two-character operators first, so that "<=" is not read as "<".
constexpr OpText kOps[] = {
    {ScenarioCheck::NotEqual, "!="}, {ScenarioCheck::LessOrEqual, "<="}, {ScenarioCheck::GreaterOrEqual, ">="},
    {ScenarioCheck::Equal, "="},     {ScenarioCheck::Less, "<"},         {ScenarioCheck::Greater, ">"},
};

} // namespace

bool ScenarioCheck::parse(const QString &text, ScenarioCheck &check)
{
    static const QRegularExpression form(QStringLiteral("^([A-Za-z_][A-Za-z0-9_]*|\\*)(!=|<=|>=|=|<|>)(.+)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    for (const OpText &op : kOps) {
        if (match.captured(2) == QLatin1String(op.text)) {
            check.field = match.captured(1);
            check.op = op.op;
            check.value = match.captured(3);
            return true;
        }
    }
    return false;
}

QString ScenarioCheck::opText(Op op)
{
    for (const OpText &o : kOps)
        if (o.op == op)
            return QLatin1String(o.text);
    return QString();
}

bool ScenarioCheck::number(const QString &text, double &value)
{
    bool ok = false;
    value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? double(text.mid(2).toLongLong(&ok, 16))
                                                                      : text.toDouble(&ok);
    return ok;
}

bool ScenarioCheck::holds(Op op, double actual, double expected)
{
    switch (op) {
    case Equal:
        return actual == expected;
    case NotEqual:
        return actual != expected;
    case Less:
        return actual < expected;
    case LessOrEqual:
        return actual <= expected;
    case Greater:
        return actual > expected;
    case GreaterOrEqual:
        return actual >= expected;
    }
    return false;
}
