#include "peer/JUnitReport.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamWriter>

namespace {

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 3);
}

void writeCase(QXmlStreamWriter &xml, const QString &suite, const StepResult &step, int number)
{
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("name"),
                       QStringLiteral("%1 %2").arg(number, 2, 10, QLatin1Char('0')).arg(step.title));
    xml.writeAttribute(QStringLiteral("classname"), suite);
    xml.writeAttribute(QStringLiteral("time"), seconds(step.ms));
    if (step.line > 0)
        xml.writeAttribute(QStringLiteral("line"), QString::number(step.line));
    if (step.outcome == StepResult::Failed) {
        xml.writeStartElement(QStringLiteral("failure"));
        xml.writeAttribute(QStringLiteral("message"), step.failure);
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("StepFailed"));
        xml.writeCharacters(QStringLiteral("expected: %1\nreceived: %2\n").arg(step.expected, step.received));
        xml.writeEndElement();
    } else if (step.outcome == StepResult::Skipped) {
        xml.writeEmptyElement(QStringLiteral("skipped"));
        xml.writeAttribute(QStringLiteral("message"), QStringLiteral("not reached after a failed step"));
    }
    if (!step.notes.isEmpty())
        xml.writeTextElement(QStringLiteral("system-out"), step.notes);
    xml.writeEndElement();
}

} // namespace

QByteArray JUnitReport::xml(const QList<ScenarioResult> &results)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    int tests = 0, failures = 0, skipped = 0;
    qint64 ms = 0;
    for (const ScenarioResult &result : results) {
        tests += result.steps.size();
        failures += result.count(StepResult::Failed);
        skipped += result.count(StepResult::Skipped);
        ms += result.ms;
    }
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("rararoz-peer"));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
    xml.writeAttribute(QStringLiteral("time"), seconds(ms));
    for (const ScenarioResult &result : results) {
        const QString suite = QFileInfo(result.name).completeBaseName();
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), suite);
        xml.writeAttribute(QStringLiteral("file"), result.name);
        xml.writeAttribute(QStringLiteral("tests"), QString::number(result.steps.size()));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(result.count(StepResult::Failed)));
        xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("skipped"), QString::number(result.count(StepResult::Skipped)));
        xml.writeAttribute(QStringLiteral("time"), seconds(result.ms));
        xml.writeAttribute(QStringLiteral("timestamp"),
                           QDateTime::fromMSecsSinceEpoch(result.startMs).toString(Qt::ISODate));
        for (int i = 0; i < result.steps.size(); ++i)
            writeCase(xml, suite, result.steps.at(i), i + 1);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}

bool JUnitReport::write(const QString &fileName, const QList<ScenarioResult> &results, QString &error)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(xml(results)) < 0 || !file.commit()) {
        error = QStringLiteral("cannot write the report %1: %2").arg(fileName, file.errorString());
        return false;
    }
    return true;
}
