#include "peer/CandumpReader.h"

#include <QFile>
#include <QRegularExpression>

#include <cstdio>

namespace {

// Standard identifiers have three hexadecimal digits, extended ones eight.
const char kId[] = "([0-9A-Fa-f]{3}|[0-9A-Fa-f]{8})";
// Seconds since the epoch: twelve digits keep microseconds within 64 bits.
const char kTime[] = "\\((\\d{1,12})\\.(\\d{1,9})\\)";

qint64 timeUs(const QString &seconds, const QString &fraction)
{
    // The fraction's digits as microseconds, whatever their number.
    return seconds.toLongLong() * 1000000 + fraction.leftJustified(6, QLatin1Char('0')).left(6).toLongLong();
}

// (time) interface id#data
bool parseLog(const QString &line, QString &interface, RawFrame &frame)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*%1\\s+(\\S+)\\s+%2#((?:[0-9A-Fa-f]{2}){0,8})\\s*$").arg(kTime, kId));
    const QRegularExpressionMatch match = form.match(line);
    if (!match.hasMatch())
        return false;
    interface = match.captured(3);
    frame.timeUs = timeUs(match.captured(1), match.captured(2));
    frame.channel = match.captured(4).toUInt(nullptr, 16);
    frame.data = QByteArray::fromHex(match.captured(5).toLatin1());
    return true;
}

// [(time)] interface id [length] bytes ['text']; with -a candump adds the
// bytes as text in quotes.
bool parseScreen(const QString &line, QString &interface, RawFrame &frame)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*(?:%1\\s+)?(\\S+)\\s+%2\\s+\\[(\\d)\\]((?:\\s+[0-9A-Fa-f]{2}){0,8})(?:\\s+'.*')?\\s*$")
            .arg(kTime, kId));
    const QRegularExpressionMatch match = form.match(line);
    if (!match.hasMatch())
        return false;
    const QByteArray data = QByteArray::fromHex(match.captured(6).toLatin1());
    if (data.size() != match.captured(5).toInt())
        return false;
    interface = match.captured(3);
    frame.timeUs = match.capturedLength(1) > 0 ? timeUs(match.captured(1), match.captured(2)) : -1;
    frame.channel = match.captured(4).toUInt(nullptr, 16);
    frame.data = data;
    return true;
}

} // namespace

bool CandumpReader::parse(const QString &line, QString &interface, RawFrame &frame)
{
    return parseLog(line, interface, frame) || parseScreen(line, interface, frame);
}

void CandumpReader::read(const QStringList &files, const FrameSink &onFrame, const ProblemSink &onProblem)
{
    const QStringList inputs = files.isEmpty() ? QStringList{QStringLiteral("-")} : files;
    for (const QString &name : inputs) {
        const bool isStdin = name == QLatin1String("-");
        QFile file(isStdin ? QString() : name);
        const bool opened = isStdin ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly);
        if (!opened) {
            onProblem(QStringLiteral("%1: cannot read: %2").arg(name, file.errorString()));
            ++_unreadableFiles;
            continue;
        }
        const QString origin = isStdin ? QStringLiteral("<stdin>") : name;
        int number = 0;
        // A pipe may pause: only an empty read is its end.
        for (QByteArray bytes = file.readLine(); !bytes.isEmpty(); bytes = file.readLine()) {
            const QString line = QString::fromUtf8(bytes).trimmed();
            ++number;
            if (line.isEmpty())
                continue;
            QString interface;
            RawFrame frame;
            if (!parse(line, interface, frame)) {
                onProblem(QStringLiteral("%1:%2: cannot read: %3").arg(origin).arg(number).arg(line));
                ++_unreadableLines;
                continue;
            }
            ++_frames;
            onFrame(interface, frame);
        }
    }
}
