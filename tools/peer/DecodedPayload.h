#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include "peer/MessageDefinition.h"

// A payload read field by field along its definition. Fields the payload is
// too short for are invalid values; bytes beyond the definition are kept.
struct DecodedPayload {
    const MessageDefinition *definition = nullptr;
    QList<QVariant> values;
    QByteArray extra;
    bool isShort = false;

    bool has(const QString &field) const
    {
        const int i = definition ? definition->fieldIndex(field) : -1;
        return i >= 0 && values.at(i).isValid();
    }
    QVariant value(const QString &field) const
    {
        const int i = definition ? definition->fieldIndex(field) : -1;
        return i >= 0 ? values.at(i) : QVariant();
    }
    double number(const QString &field) const { return value(field).toDouble(); }
};
