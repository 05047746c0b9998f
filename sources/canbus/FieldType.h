#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// The type of one payload field, as the configuration's type tags name it
// (U08, S08, U16, S16, U32, S32, F32 and BOOL, which occupies four bytes like
// the service reads it). The service's interpreter, the peer tool and the
// tests all take the tags from here. Reading and writing go through the
// system's own payload value types, so the tool and the service agree byte
// for byte.
class FieldType
{
public:
    enum Kind { Invalid, U08, S08, U16, S16, U32, S32, F32, Bool };

    FieldType() = default;
    explicit FieldType(Kind kind)
        : _kind(kind)
    {
    }

    // The type for a tag; Invalid for anything else. Tags are upper case, as
    // in the service's own definitions.
    static FieldType fromTag(const QString &tag);
    static QString knownTags();

    Kind kind() const { return _kind; }
    bool isValid() const { return _kind != Invalid; }
    QString tag() const;
    int size() const;

    // Reads the field at index and advances index. False when the payload is
    // too short; index is then left where it was.
    bool read(const QByteArray &payload, int &index, QVariant &value) const;
    // How a read value is printed: integers in decimal, floats in the
    // shortest form with six significant digits.
    static QString text(const QVariant &value);

    // Checks text against the type and appends the field's bytes. On a bad
    // value nothing is appended and error says what is accepted.
    bool write(const QString &text, QByteArray &payload, QString &error) const;

private:
    Kind _kind = Invalid;
};
