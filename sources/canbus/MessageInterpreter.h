#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVector>

#include "canbus/FieldType.h"
#include "MessageGlobals.h"

namespace Can {

// Decides what becomes of a complete received message: the other
// controllers' traffic is dropped, everything else is logged in readable form
// from its configured definition and handed on as an action list, or reported
// when it has no definition. Lives inside the dispatcher, on its thread.
class MessageInterpreter : public QObject
{
    Q_OBJECT

public:
    explicit MessageInterpreter(QObject *parent = nullptr);

    // Always returns false: nothing is handled here, everything that is
    // handed on goes out through didUnhandledMsgReady.
    bool interpretMessage(const Can::Message &message, QVariantList &actions);

    Can_Source identifySource(Can_Id channel, QString *text = nullptr) const;
    Can_Id identifyDestination(Can_Id channel, QString *text = nullptr) const;

    // (Re)reads the message definitions from the settings model.
    void updateUnhandledMessages();

signals:
    void didUnhandledMsgReady(const QVariantList &actions);

private:
    // One configured message. The texts are kept as read; the rest is derived
    // from them once at load time so that interpreting a message does not
    // parse text.
    struct Definition {
        QStringList texts; // name first, then one type tag per field
        QString idText;    // the identifier as the line starts with it, e.g. "1000,"
        QString name;      // the first text, or empty when there is none
        bool hasName = false;
        QVector<FieldType> fields; // one per type tag, in payload order; an unknown tag reads nothing
    };

    static Definition makeDefinition(quint16 id, const QStringList &texts);

    void reportUnhandled(const Can::Message &message, QVariantList &actions);
    bool logByDefinition(const Can::Message &message, QVariantList &actions);

    QHash<quint16, Definition> _messageList;
};

} // namespace Can
