#pragma once

#include <QList>
#include <QString>

#include "canbus/FieldType.h"

// One message as the definitions file describes it: identifier, name, the
// payload fields in wire order and, for a request, the identifier of the
// response the service answers it with.
struct MessageDefinition {
    struct Field {
        QString name;
        FieldType type;
    };

    quint16 id = 0;
    QString name;
    QList<Field> fields;
    bool hasResponse = false;
    quint16 responseId = 0;

    int payloadSize() const
    {
        int size = 0;
        for (const Field &field : fields)
            size += field.type.size();
        return size;
    }
    int fieldIndex(const QString &fieldName) const
    {
        for (int i = 0; i < fields.size(); ++i)
            if (fields.at(i).name.compare(fieldName, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    }
};
