#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

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

// Builds one message through the mail-item writer and saves it as an .eml file
// in a sub-folder of the export root.
class MessageBuilder {
public:
    MessageBuilder(std::shared_ptr<mail::RdoSession>& session, TempFolder& temp,
                   RandomGenerator& random, const QString& exportRoot);

    // Writes one message. eSubject becomes the cleaned subject and
    // eAttachFileName loses its first character, as the callers expect. The
    // file is named from the cleaned subject and a random number; a name that
    // is taken is never overwritten: another number is drawn.
    MessageOutcome CreateEmailItem(const QString& FolderName, const QString& eFrom,
                                   QString& eSubject, const QString& eTo, QString& eCC,
                                   QString& eBCC, const QString& eDate, const QString& eBody,
                                   QString& eAttachFileName, const AttachmentNotes& notes = {});

    // The date text used when a message has no date: "MM-DD-YYYY" of today.
    static QString todayText();

private:
    QString freeFileName(const QString& folder, const QString& stem, int attempt);

    std::shared_ptr<mail::RdoSession>& m_session;
    TempFolder& m_temp;
    RandomGenerator& m_random;
    const QString& m_exportRoot;
    // For each folder and name stem, the next number to try once random
    // numbers keep meeting taken names.
    QHash<QString, qint64> m_nextSequential;
};

} // namespace tarvik
