#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

namespace tarvik {

class RandomGenerator;
class TempFolder;

namespace mail {
class RdoSession;
}

// What became of one message.
struct MessageOutcome {
    bool saved = false;
    QString path;    // the file written
    QString failure; // why no file was written
    int attached = 0;
    // Attachments that are not in the message, each "name: reason".
    QStringList droppedAttachments;
    // Parts of the message that could not be set, each a reason.
    QStringList problems;
};

// For each extracted attachment's path: the name the message gives it and
// why it could not be extracted (empty when it was).
struct AttachmentNote {
    QString displayName;
    QString extractFailure;
};
using AttachmentNotes = QHash<QString, AttachmentNote>;

// The message CreateEmailItem builds, as the export hands it over.
struct EmailItem {
    QString folderName; // the sub-folder of the export root it goes into
    QString from;
    QString subject; // the cleaned subject once the message is built
    QString to;
    QString cc;
    QString bcc;
    QString date; // today's date when empty
    QString body;
    // The extracted attachments' paths, each after a "|"; the message built,
    // the leading "|" is gone.
    QString attachFileName;
    AttachmentNotes attachments;
};

// Builds one message through the mail-item writer and saves it as an .eml file
// in a sub-folder of the export root.
class MessageBuilder {
public:
    MessageBuilder(TempFolder& temp, RandomGenerator& random);
    // Finishes as finish() does.
    ~MessageBuilder();
    MessageBuilder(const MessageBuilder&) = delete;
    MessageBuilder& operator=(const MessageBuilder&) = delete;

    // Writes message with the writer's session under exportRoot (which ends in
    // the path separator). The file is named from the cleaned subject and a
    // random number; a name that is taken is never overwritten: another number
    // is drawn. Without a session no file is written and the outcome says why.
    MessageOutcome CreateEmailItem(mail::RdoSession* session, const QString& exportRoot,
                                   EmailItem& message);

    // Writes the sender header file ("sqm.pbs" in the temporary folder) with the
    // last message's sender line, when a message was built since the last call.
    // Returns why it could not be written; empty when it was or had not to be.
    QString finish();

    // The date text used when a message has no date: "MM-DD-YYYY" of today.
    static QString todayText();

private:
    QString freeFileName(const QString& folder, const QString& stem, int attempt);

    TempFolder& m_temp;
    RandomGenerator& m_random;
    // For each folder and name stem, the next number to try once random
    // numbers keep meeting taken names.
    QHash<QString, qint64> m_nextSequential;
    QByteArray m_senderLine; // "From:" and the last sender, for the sender header file
    bool m_senderPending = false;
};

} // namespace tarvik
