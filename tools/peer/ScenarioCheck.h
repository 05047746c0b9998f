#pragma once

#include <QString>

// One condition on a field of a message, as a scenario writes it:
// "mode=4", "primedVolumeML>=1", "*=0" (every field no other condition of
// the line names), or with a kept value, "durationMin=${duration.durationMin}".
struct ScenarioCheck {
    enum Op { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };

    QString field;
    Op op = Equal;
    QString value; // a number or references to kept answers

    // False when the text is no "field<op>value".
    static bool parse(const QString &text, ScenarioCheck &check);
    static QString opText(Op op);
    // A value as a number: decimal, or hexadecimal after 0x.
    static bool number(const QString &text, double &value);
    static bool holds(Op op, double actual, double expected);
    QString text() const { return field + opText(op) + value; }
    bool isEveryOther() const { return field == QLatin1String("*"); }
};
