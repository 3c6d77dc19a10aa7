#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>

// A MIME message as Notes serialises a field kept as MIME (MIMEStreamRead): read line by
// line, never whole, so that a message with large attachments takes little memory. One pass
// finds the message's text and its attachments; another writes one attachment's bytes.
namespace tarvik::notes::capi {

// Gives up to capacity bytes of the message; 0 at its end. May throw OperationError.
using ChunkReader = std::function<std::size_t(char* buffer, std::size_t capacity)>;
// Takes decoded bytes. May throw OperationError.
using ByteSink = std::function<void(const char* data, std::size_t length)>;

struct MimeAttachment {
    int part = 0; // the leaf part's number in message order, from 0
    QString name; // the file name the part gives, or one made from its number and type
    QString type; // its Content-Type, lower case ("application/pdf")
};

struct MimeContent {
    // The message's text: its first plain-text part that is no attachment, else its first
    // HTML part as text; nothing when it has neither.
    std::optional<QString> text;
    // Why the text part could not be read (an unknown character set or transfer encoding);
    // empty when it could.
    QString textFailure;
    // The leaf parts that are not the message's text or its alternatives: those with a file
    // name, marked as attachments, or of a kind that is not text.
    QList<MimeAttachment> attachments;
};

// Reads the whole message once. Throws OperationError when it cannot be read (the reader
// fails) or a part's headers never end.
MimeContent readMimeContent(const ChunkReader& read);

// Writes the bytes of leaf part `part`, its transfer encoding undone, to sink. Throws
// OperationError when the message has no such part or its encoding is not known.
void extractMimePart(const ChunkReader& read, int part, const ByteSink& sink);

// HTML as plain text: tags dropped, line breaks for breaks, paragraphs, rows and list
// items, character references resolved, script and style content left out.
QString htmlToText(const QString& html);

// A header value with its RFC 2047 encoded words ("=?utf-8?B?...?=") decoded.
QString decodeEncodedWords(const QByteArray& value);

} // namespace tarvik::notes::capi
