#include "peer/ScenarioParser.h"

#include <QRegularExpression>

#include <algorithm>
#include <iterator>

#include "peer/ScenarioBindings.h"

namespace {

struct Line {
    int number = 0;
    bool indented = false;
    QString text; // without the comment, trimmed
};

struct Verb {
    const char *name;
    ScenarioAction::Kind kind;
};

constexpr Verb kVerbs[] = {
    {"send", ScenarioAction::Send}, {"await", ScenarioAction::Await}, {"wait", ScenarioAction::Wait},
    {"demo", ScenarioAction::Demo}, {"show", ScenarioAction::Show},
};
const char kVerbList[] = "step, send, reply, await, wait, demo, show";

// The logical lines: continuations joined, comments and blank lines gone.
QList<Line> logicalLines(const QString &text)
{
    static const QRegularExpression comment(QStringLiteral("(^|\\s)#.*$"));
    QList<Line> lines;
    const QStringList physical = text.split(QLatin1Char('\n'));
    bool continuing = false;
    for (int i = 0; i < physical.size(); ++i) {
        QString raw = physical.at(i);
        raw.remove(comment);
        const bool indented = !raw.isEmpty() && raw.at(0).isSpace();
        QString words = raw.trimmed();
        const bool continues = words.endsWith(QLatin1Char('\\'));
        if (continues)
            words = words.chopped(1).trimmed();
        if (continuing)
            lines.last().text += QLatin1Char(' ') + words;
        else if (!words.isEmpty() || continues)
            lines.append({i + 1, indented, words});
        continuing = continues;
    }
    return lines;
}

bool isName(const QString &text)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return name.match(text).hasMatch();
}

bool isNumberOrReference(const QString &text)
{
    QList<ScenarioBindings::Reference> references;
    if (!ScenarioBindings::references(text, references))
        return false;
    double value = 0;
    return !references.isEmpty() || ScenarioCheck::number(text, value);
}

// Reads one action line into action; the problem, if any, in why.
class ActionReader
{
public:
    ActionReader(const QStringList &words, ScenarioAction &action)
        : _words(words)
        , _action(action)
    {
    }

    QString read()
    {
        const bool hasMessage = _words.size() >= 2;
        const QString noMessage = QStringLiteral("%1 needs a message name or identifier").arg(_words.first());
        const bool namesMessage = _action.kind == ScenarioAction::Send || _action.kind == ScenarioAction::Await ||
                                  _action.kind == ScenarioAction::Show;
        if (hasMessage && namesMessage)
            _action.message = _words.at(1);
        switch (_action.kind) {
        case ScenarioAction::Send:
            return hasMessage ? takeValues() : noMessage;
        case ScenarioAction::Await:
            return hasMessage ? takeChecks(true) : noMessage;
        case ScenarioAction::Wait:
            return takeWait();
        case ScenarioAction::Demo:
            return takeWords(1, 1, QStringLiteral("demo takes one command name"));
        case ScenarioAction::Show:
            return hasMessage ? takeWords(2, -1, QStringLiteral("show needs the fields to note")) : noMessage;
        }
        return QString();
    }

    // The checks of a reply (or an await) and its "as NAME", "within TIME".
    QString takeChecks(bool isAwait)
    {
        for (int i = isAwait ? 2 : 1; i < _words.size(); ++i) {
            const QString &word = _words.at(i);
            if (word == QLatin1String("as") || (isAwait && word == QLatin1String("within"))) {
                if (i + 1 >= _words.size())
                    return QStringLiteral("'%1' needs a %2 after it")
                        .arg(word, word == QLatin1String("as") ? QStringLiteral("name") : QStringLiteral("time"));
                const QString &next = _words.at(++i);
                if (word == QLatin1String("as")) {
                    if (!isName(next))
                        return QStringLiteral("'%1' is no name to keep an answer under").arg(next);
                    _action.bindAs = next;
                } else {
                    _action.timeMs = ScenarioParser::timeMs(next);
                    if (_action.timeMs <= 0)
                        return QStringLiteral("'%1' is no time (500ms, 5s, 2min)").arg(next);
                }
                continue;
            }
            ScenarioCheck check;
            if (!ScenarioCheck::parse(word, check))
                return QStringLiteral("'%1' is no condition (field=value, field>=value, ...)").arg(word);
            if (!isNumberOrReference(check.value))
                return QStringLiteral("'%1' in '%2' is not a number").arg(check.value, word);
            _action.checks << check;
        }
        return QString();
    }

private:
    QString takeValues()
    {
        _action.values = _words.mid(2);
        for (const QString &value : _action.values) {
            QList<ScenarioBindings::Reference> references;
            if (!ScenarioBindings::references(value, references))
                return QStringLiteral("'%1' holds a malformed reference (${name.field} or ${name.field:.2})")
                    .arg(value);
        }
        return QString();
    }

    // The words from first on as the action's values, at least one and at
    // most most of them (-1: any number).
    QString takeWords(int first, int most, const QString &why)
    {
        const int count = _words.size() - first;
        if (count < 1 || (most >= 0 && count > most))
            return why;
        _action.values = _words.mid(first);
        return QString();
    }

    QString takeWait()
    {
        _action.timeMs = _words.size() == 2 ? ScenarioParser::timeMs(_words.at(1)) : -1;
        return _action.timeMs > 0 ? QString() : QStringLiteral("wait takes one time (500ms, 5s, 2min)");
    }

    const QStringList &_words;
    ScenarioAction &_action;
};

} // namespace

int ScenarioParser::timeMs(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d+(?:\\.\\d+)?)(ms|s|min)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return -1;
    const double scale = match.captured(2) == QLatin1String("ms")  ? 1
                         : match.captured(2) == QLatin1String("s") ? 1000
                                                                   : 60000;
    const double ms = match.captured(1).toDouble() * scale;
    return ms < 1 || ms > 24 * 3600 * 1000.0 ? -1 : int(ms);
}

namespace {

// Puts the lines together into steps: a step line opens a block that takes
// the indented actions after it, a reply goes to the send before it.
class StepBuilder
{
public:
    StepBuilder(const QString &fileName, Scenario &scenario, QStringList &problems)
        : _fileName(fileName)
        , _scenario(scenario)
        , _problems(problems)
    {
    }

    void take(const Line &line)
    {
        const QStringList words = line.text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        const QString verb = words.value(0);
        if (verb == QLatin1String("step"))
            openStep(line);
        else if (verb == QLatin1String("reply"))
            addReply(line, words);
        else
            addAction(line, words);
    }

    void finish()
    {
        closeBlock();
        if (_scenario.steps.isEmpty() && _problems.isEmpty())
            problem(1, QStringLiteral("the scenario has no steps"));
    }

private:
    void problem(int line, const QString &what)
    {
        if (!what.isEmpty())
            _problems << QStringLiteral("%1:%2: %3").arg(_fileName).arg(line).arg(what);
    }

    void closeBlock()
    {
        if (_blockOpen && _scenario.steps.last().actions.isEmpty())
            problem(_blockLine, QStringLiteral("the step has no actions (indent them under its step line)"));
        _blockOpen = false;
    }

    void openStep(const Line &line)
    {
        closeBlock();
        if (line.indented)
            problem(line.number, QStringLiteral("a step line must not be indented"));
        const QString title = line.text.mid(4).trimmed();
        if (title.isEmpty())
            problem(line.number, QStringLiteral("a step needs a title"));
        _scenario.steps.append({title, line.number, {}});
        _blockOpen = true;
        _blockLine = line.number;
    }

    void addReply(const Line &line, const QStringList &words)
    {
        ScenarioAction *send = _scenario.steps.isEmpty() || _scenario.steps.last().actions.isEmpty()
                                   ? nullptr
                                   : &_scenario.steps.last().actions.last();
        if (!send || send->kind != ScenarioAction::Send || send->hasReply) {
            problem(line.number, QStringLiteral("a reply belongs right after its send"));
            return;
        }
        send->hasReply = true;
        send->replyLine = line.number;
        problem(line.number, ActionReader(words, *send).takeChecks(false));
    }

    void addAction(const Line &line, const QStringList &words)
    {
        ScenarioAction action;
        action.line = line.number;
        const auto verb = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                       [&words](const Verb &v) { return words.first() == QLatin1String(v.name); });
        if (verb == std::end(kVerbs)) {
            problem(line.number,
                    QStringLiteral("unknown action '%1' (%2)").arg(words.first(), QLatin1String(kVerbList)));
            return;
        }
        action.kind = verb->kind;
        problem(line.number, ActionReader(words, action).read());
        if (line.indented && !_blockOpen) {
            problem(line.number, QStringLiteral("an indented action belongs under a step line"));
            return;
        }
        if (!line.indented) {
            // A step of its own, titled by what it does.
            closeBlock();
            _scenario.steps.append({words.join(QLatin1Char(' ')), line.number, {}});
        }
        _scenario.steps.last().actions << action;
    }

    const QString &_fileName;
    Scenario &_scenario;
    QStringList &_problems;
    bool _blockOpen = false;
    int _blockLine = 0;
};

} // namespace

bool ScenarioParser::parse(const QString &text, const QString &fileName, Scenario &scenario, QStringList &problems)
{
    scenario.fileName = fileName;
    scenario.steps.clear();
    QStringList found;
    StepBuilder builder(fileName, scenario, found);
    for (const Line &line : logicalLines(text))
        builder.take(line);
    builder.finish();
    problems << found;
    return found.isEmpty();
}
