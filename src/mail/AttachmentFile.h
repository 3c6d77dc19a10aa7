#pragma once

#include "mail/GMimeHandles.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace tarvik::mail {

// An attached file, held open from the moment it is added so that it can be
// deleted at once and still be read (as often as the message is saved).
class AttachmentFile {
public:
    // Throws OperationError when path is not a readable regular file.
    // displayName is the name the message gives the file; without one, the
    // last part of its path.
    static std::shared_ptr<AttachmentFile> open(const QString& path,
                                                const QString& displayName = {});

    // The name the message gives the file.
    const QString& fileName() const { return m_fileName; }
    // "application/pdf" and the like, guessed from the name's extension.
    QByteArray contentType() const;
    // A new stream over the whole content, independent of earlier ones.
    gmime::Ref<GMimeStream> content() const;

private:
    AttachmentFile(QString fileName, gmime::Ref<GMimeStream> stream);

    QString m_fileName;
    gmime::Ref<GMimeStream> m_stream;
};

// The media type for a file name, from a fixed table of common extensions;
// "application/octet-stream" for anything else.
QByteArray contentTypeForFileName(const QString& fileName);

} // namespace tarvik::mail
