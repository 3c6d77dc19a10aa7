#include "export/MessageFields.h"

#include "export/FileNames.h"
#include "notes/NotesObjects.h"
#include "shell/AppState.h"
#include "shell/Global.h"
#include "shell/OperationError.h"
#include "shell/Platform.h"

#include <QDir>

namespace tarvik {

using notes::NotesDocument;
using notes::NotesValueArray;

namespace {

const QString dot = QStringLiteral(".");

// An item with three values or more counts as a list; with one or two, only
// its first value is used.
bool isMultiValued(const NotesValueArray& values)
{
    return values.upperBound() > 1;
}

QString joinAll(const NotesValueArray& values)
{
    QStringList entries;
    for (qsizetype i = 0; i <= values.upperBound(); ++i)
        entries.append(values.textAt(i));
    return entries.join(QLatin1Char(';'));
}

} // namespace

MessageFieldReader::MessageFieldReader(AppState& state, TempFolder& temp)
    : m_state(state), m_temp(temp)
{}

QString MessageFieldReader::firstValue(NotesDocument& doc, const QString& item,
                                       MessageFields& fields)
{
    try {
        return doc.hasitem(item) ? doc.GetItemValue(item).textAt(0) : QString();
    } catch (const OperationError& e) {
        fields.unreadable.append(item + QStringLiteral(": ") + e.message());
        return QString();
    }
}

QString MessageFieldReader::readSubject(NotesDocument& doc, MessageFields& fields)
{
    fields.subject = firstValue(doc, QStringLiteral("Subject"), fields);
    return fields.subject;
}

QString MessageFieldReader::copyList(NotesDocument& doc, const QString& internetItem,
                                     const QString& notesItem, MessageFields& fields)
{
    try {
        if (!doc.hasitem(internetItem))
            return QString();
        const NotesValueArray internet = doc.GetItemValue(internetItem);
        // Where the Internet item has no address (".") the Notes name of the
        // same place stands in; a Notes list shorter than the Internet one
        // gives the empty text there.
        const bool hasNotes = doc.hasitem(notesItem);
        const NotesValueArray names = hasNotes ? doc.GetItemValue(notesItem) : NotesValueArray();
        auto entry = [&](qsizetype i) {
            const QString e = internet.textAt(i);
            if (e != dot)
                return e;
            return hasNotes && i <= names.upperBound() ? names.textAt(i) : QString();
        };
        if (!isMultiValued(internet))
            return entry(0);
        QStringList entries;
        for (qsizetype i = 0; i <= internet.upperBound(); ++i)
            entries.append(entry(i));
        return entries.join(QLatin1Char(';'));
    } catch (const OperationError& e) {
        fields.unreadable.append(internetItem + QStringLiteral(": ") + e.message());
        return QString();
    }
}

QString MessageFieldReader::recipients(NotesDocument& doc, MessageFields& fields)
{
    QString to;
    try {
        if (doc.hasitem(QStringLiteral("SendTo"))) {
            const NotesValueArray sendTo = doc.GetItemValue(QStringLiteral("SendTo"));
            to = isMultiValued(sendTo) ? joinAll(sendTo) : sendTo.textAt(0);
        }
    } catch (const OperationError& e) {
        fields.unreadable.append(QStringLiteral("SendTo: ") + e.message());
        to.clear();
    }
    try {
        if (doc.hasitem(QStringLiteral("InetSendTo"))) {
            const NotesValueArray internet = doc.GetItemValue(QStringLiteral("InetSendTo"));
            if (internet.textAt(0) != dot)
                to = isMultiValued(internet) ? joinAll(internet) : internet.textAt(0);
        }
    } catch (const OperationError& e) {
        fields.unreadable.append(QStringLiteral("InetSendTo: ") + e.message());
    }
    return to;
}

void MessageFieldReader::readRest(NotesDocument& doc, MessageFields& fields)
{
    m_state.gCC = copyList(doc, QStringLiteral("InetCopyTo"), QStringLiteral("CopyTo"), fields);
    m_state.gBCC =
        copyList(doc, QStringLiteral("InetBlindCopyTo"), QStringLiteral("BlindCopyTo"), fields);
    fields.from = firstValue(doc, QStringLiteral("From"), fields);
    fields.to = recipients(doc, fields);
    fields.date = firstValue(doc, QStringLiteral("PostedDate"), fields);
    fields.body = firstValue(doc, QStringLiteral("Body"), fields);
    try {
        if (doc.hasitem(QStringLiteral("INetFrom"))) {
            const QString internet = doc.GetItemValue(QStringLiteral("INetFrom")).textAt(0);
            if (internet != dot)
                fields.from = internet;
        }
    } catch (const OperationError& e) {
        fields.unreadable.append(QStringLiteral("INetFrom: ") + e.message());
    }

    m_state.gAttachList.clear();
    try {
        fields.hasEmbedded = doc.HasEmbedded();
    } catch (const OperationError& e) {
        fields.hasEmbedded = false;
        fields.lostAttachments.append(QStringLiteral("attachments: ") + e.message());
    }
    if (fields.hasEmbedded)
        extractAttachments(doc, fields);
}

void MessageFieldReader::extractAttachments(NotesDocument& doc, MessageFields& fields)
{
    m_state.gBodyItem.reset();
    // Only the Body item's objects are exported. A document that has embedded
    // objects when its Body holds none keeps them elsewhere: say so rather than
    // lose them without a word.
    const QString outsideBody =
        QStringLiteral("attachments: the document's embedded objects are not in its Body item");
    std::optional<notes::NotesEmbeddedObjectList> objects;
    try {
        m_state.gBodyItem = doc.GetFirstItem(QStringLiteral("Body"));
        if (!m_state.gBodyItem || m_state.gBodyItem->Type() != notes::itemtype::richText) {
            fields.lostAttachments.append(outsideBody);
            return;
        }
        objects = m_state.gBodyItem->EmbeddedObjects();
    } catch (const OperationError& e) {
        fields.lostAttachments.append(QStringLiteral("Body: ") + e.message());
        return;
    }
    if (!objects) {
        fields.lostAttachments.append(outsideBody);
        return;
    }

    for (const std::shared_ptr<notes::NotesEmbeddedObject>& object : std::as_const(*objects)) {
        QString name;
        try {
            if (!object || object->Type() != notes::objecttype::attachment)
                continue;
            name = object->Name();
        } catch (const OperationError& e) {
            fields.lostAttachments.append(QStringLiteral("attachment: ") + e.message());
            continue;
        }
        ExtractedAttachment attachment;
        attachment.displayName = name;
        try {
            // Each attachment gets a folder of its own, so two attachments of
            // one name never share a file, and a safe file name, so a stored
            // name can never point outside the temporary folder.
            const QString folder = GetTempFolder(m_temp) + QString::number(++m_extracted);
            if (!platform::createFolderPath(folder))
                throw OperationError(QStringLiteral("Cannot create the folder %1").arg(folder));
            attachment.path = folder + platform::separator() + names::attachmentFileName(name);
            object->ExtractFile(attachment.path);
        } catch (const OperationError& e) {
            attachment.failure = e.message();
        }
        if (!attachment.path.isEmpty())
            m_state.gAttachList += QLatin1Char('|') + attachment.path;
        else
            fields.lostAttachments.append(name + QStringLiteral(": ") + attachment.failure);
        if (!attachment.path.isEmpty())
            fields.attachments.append(attachment);
    }
}

} // namespace tarvik
