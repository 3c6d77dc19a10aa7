#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace tarvik {

struct AppState;
class TempFolder;

namespace notes {
class NotesDocument;
class NotesEmbeddedObject;
using NotesEmbeddedObjectList = QList<std::shared_ptr<NotesEmbeddedObject>>;
} // namespace notes

// One attachment extracted into the temporary folder for the message builder.
struct ExtractedAttachment {
    QString path;        // where the file was extracted
    QString displayName; // the name the database gives it, for the message
    QString failure;     // why it could not be extracted; empty when it was
};

// The values of one mail document that become its message.
struct MessageFields {
    QString subject;
    QString from;
    QString to;
    QString date;
    QString body;
    bool hasEmbedded = false;
    QList<ExtractedAttachment> attachments;
    // Items that could not be read, each "Item: reason"; their fields are empty.
    QStringList unreadable;
    // Attachments that could not be reached at all, each "what: reason".
    QStringList lostAttachments;
    // Attachments extracted with fewer bytes than the database records for them (all the
    // bytes it holds), each "name: kept of recorded bytes".
    QStringList incompleteAttachments;
};

// Reads the message fields of a Notes mail document. The Internet form of an
// address is preferred and the Notes form is the fallback, each field by its
// own rule; CC and BCC go into gCC and gBCC, the extracted attachments' paths
// into gAttachList. A value that cannot be read is the empty text for this
// document, never what the previous document had.
class MessageFieldReader {
public:
    MessageFieldReader(AppState& state, TempFolder& temp);

    // The subject, read first so the window can show it.
    QString readSubject(notes::NotesDocument& doc, MessageFields& fields);
    // Everything after the subject, attachments extracted.
    void readRest(notes::NotesDocument& doc, MessageFields& fields);

    // The first value of an item, or the empty text when the document lacks
    // it or it cannot be read.
    QString firstValue(notes::NotesDocument& doc, const QString& item, MessageFields& fields);

private:
    QString copyList(notes::NotesDocument& doc, const QString& internetItem,
                     const QString& notesItem, MessageFields& fields);
    QString recipients(notes::NotesDocument& doc, MessageFields& fields);
    void extractAttachments(notes::NotesDocument& doc, MessageFields& fields);
    void extractObjects(const std::optional<notes::NotesEmbeddedObjectList>& objects,
                        MessageFields& fields);

    AppState& m_state;
    TempFolder& m_temp;
    int m_extracted = 0;
};

} // namespace tarvik
