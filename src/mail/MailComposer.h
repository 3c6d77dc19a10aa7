#pragma once

#include "mail/AttachmentFile.h"
#include "mail/GMimeHandles.h"
#include "mail/MailAddress.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

namespace tarvik::mail {

// Everything one message file says, in final form.
struct MailContent {
    QList<Mailbox> from;
    QList<Mailbox> to;
    QList<Mailbox> cc;
    QList<Mailbox> bcc;
    QString subject;
    QString body;
    QDateTime date;
    QString messageId; // without angle brackets
    bool sent = true;
    std::vector<std::shared_ptr<AttachmentFile>> attachments;
};

// Builds the MIME message: a text/plain part in UTF-8, or multipart/mixed with
// the text first and each attachment in base64. Header texts are cleaned of
// control characters. Building the same content twice gives the same bytes.
gmime::Ref<GMimeMessage> composeMessage(const MailContent& content);

// The Content-Transfer-Encoding chosen for a body already in UTF-8 with LF line
// ends: 7bit or 8bit when every line is at most 78 bytes and holds no control
// character other than tab (and does not contain forbidden, the multipart
// boundary line), quoted-printable otherwise.
GMimeContentEncoding bodyEncoding(const QByteArray& body, const QByteArray& forbidden = {});

// The body as a message carries it before any transfer encoding: UTF-8 with
// LF line ends (CR LF and a lone CR become LF).
QByteArray bodyBytes(const QString& body);

// The body in quoted-printable with LF line ends, byte for byte as GMime's own
// encoder writes it (the same soft line breaks after 73 to 76 characters, the
// same escapes, a trailing blank escaped and followed by a soft break), so the
// composer can hand GMime a body that is already encoded.
QByteArray quotedPrintable(QByteArrayView body);

// Format options for writing: CR LF at every line end.
gmime::FormatOptions crlfFormat();

} // namespace tarvik::mail
