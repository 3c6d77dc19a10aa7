#include "app/MessageFields.h"

#include "app/AppState.h"
#include "app/FileNames.h"
#include "app/UtilityProcedures.h"
#include "base/FailureStyles.h"
#include "base/OperationError.h"
#include "base/Platform.h"
#include "notes/NotesObjects.h"

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
    return recordFailure(fields.unreadable, item, [&] {
        return doc.hasitem(item) ? doc.GetItemValue(item).textAt(0) : QString();
    });
}

QString MessageFieldReader::readSubject(NotesDocument& doc, MessageFields& fields)
{
    fields.subject = firstValue(doc, QStringLiteral("Subject"), fields);
    return fields.subject;
}

QString MessageFieldReader::copyList(NotesDocument& doc, const QString& internetItem,
                                     const QString& notesItem, MessageFields& fields)
{
    return recordFailure(fields.unreadable, internetItem, [&] {
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
    });
}

QString MessageFieldReader::recipients(NotesDocument& doc, MessageFields& fields)
{
    const QString sendTo = QStringLiteral("SendTo");
    QString to = recordFailure(fields.unreadable, sendTo, [&] {
        if (!doc.hasitem(sendTo))
            return QString();
        const NotesValueArray values = doc.GetItemValue(sendTo);
        return isMultiValued(values) ? joinAll(values) : values.textAt(0);
    });
    const QString inetSendTo = QStringLiteral("InetSendTo");
    recordFailure(fields.unreadable, inetSendTo, [&] {
        if (doc.hasitem(inetSendTo)) {
            const NotesValueArray internet = doc.GetItemValue(inetSendTo);
            if (internet.textAt(0) != dot)
                to = isMultiValued(internet) ? joinAll(internet) : internet.textAt(0);
        }
    });
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
    const QString inetFrom = QStringLiteral("INetFrom");
    recordFailure(fields.unreadable, inetFrom, [&] {
        if (doc.hasitem(inetFrom)) {
            const QString internet = doc.GetItemValue(inetFrom).textAt(0);
            if (internet != dot)
                fields.from = internet;
        }
    });

    m_state.gAttachList.clear();
    fields.hasEmbedded = recordFailure(fields.lostAttachments, QStringLiteral("attachments"),
                                       [&] { return doc.HasEmbedded(); });
    if (fields.hasEmbedded)
        extractAttachments(doc, fields);
}

void MessageFieldReader::extractAttachments(NotesDocument& doc, MessageFields& fields)
{
    // Every file attachment of the document, each once: the Body item's first,
    // in their order, then those of the other rich-text items in item order,
    // then those that belong to no item.
    const QString body = QStringLiteral("Body");
    m_state.gBodyItem.reset();
    recordFailure(fields.lostAttachments, body, [&] {
        m_state.gBodyItem = doc.GetFirstItem(body);
        if (m_state.gBodyItem && m_state.gBodyItem->Type() == notes::itemtype::richText)
            extractObjects(m_state.gBodyItem->EmbeddedObjects(), fields);
    });

    const QList<std::shared_ptr<notes::NotesItem>> items =
        recordFailure(fields.lostAttachments, QStringLiteral("items"), [&] { return doc.Items(); });
    // The items read as fields report their own damage as unreadable items.
    static const QStringList fieldItems = {
        QStringLiteral("Subject"),         QStringLiteral("From"),
        QStringLiteral("INetFrom"),        QStringLiteral("SendTo"),
        QStringLiteral("InetSendTo"),      QStringLiteral("CopyTo"),
        QStringLiteral("InetCopyTo"),      QStringLiteral("BlindCopyTo"),
        QStringLiteral("InetBlindCopyTo"), QStringLiteral("PostedDate")};
    bool bodyPassed = false;
    for (const std::shared_ptr<notes::NotesItem>& item : std::as_const(items)) {
        QString name;
        try {
            name = require(item, "Item")->Name();
            // The first Body item is the one whose attachments came first.
            if (!bodyPassed && name.compare(body, Qt::CaseInsensitive) == 0) {
                bodyPassed = true;
                continue;
            }
            if (item->Type() == notes::itemtype::richText)
                extractObjects(item->EmbeddedObjects(), fields);
        } catch (const OperationError& e) {
            if (!fieldItems.contains(name, Qt::CaseInsensitive))
                fields.lostAttachments.append((name.isEmpty() ? QStringLiteral("item") : name) +
                                              QStringLiteral(": ") + e.message());
        }
    }

    recordFailure(fields.lostAttachments, QStringLiteral("attachments"),
                  [&] { extractObjects(doc.EmbeddedObjects(), fields); });
}

void MessageFieldReader::extractObjects(
    const std::optional<notes::NotesEmbeddedObjectList>& objects, MessageFields& fields)
{
    if (!objects)
        return;
    for (const std::shared_ptr<notes::NotesEmbeddedObject>& object : *objects) {
        bool isAttachment = false;
        QString name;
        const auto readName = [&] {
            isAttachment = object && object->Type() == notes::objecttype::attachment;
            if (isAttachment)
                name = object->Name();
        };
        if (!recordFailure(fields.lostAttachments, QStringLiteral("attachment"), readName) ||
            !isAttachment)
            continue;
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
            if (const auto shortFile = object->ExtractFileChecked(attachment.path))
                fields.incompleteAttachments.append(QStringLiteral("%1: %2 of %3 bytes")
                                                        .arg(name)
                                                        .arg(shortFile->written)
                                                        .arg(shortFile->recorded));
        } catch (const OperationError& e) {
            attachment.failure = e.message();
        }
        if (attachment.path.isEmpty()) {
            fields.lostAttachments.append(name + QStringLiteral(": ") + attachment.failure);
            continue;
        }
        m_state.gAttachList += QLatin1Char('|') + attachment.path;
        fields.attachments.append(attachment);
    }
}

} // namespace tarvik
