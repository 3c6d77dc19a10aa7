#pragma once

#include "nsf/MimePart.h"

#include <QString>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// How the .nsf back-end reads a message kept as MIME parts: which parts make up the text a
// mail reader shows, and which are files. Also the two text forms it needs on the way: an HTML
// part as plain text, and a MIME header parameter with its encodings undone.
namespace tarvik::notes {

// One body part of a MIME message (a part that is no multipart).
struct MimeLeaf {
    std::size_t part = 0;    // index into the parts given to analyseMime
    std::string contentType; // lower case, "text/plain" where the part names none
    // A file of the message rather than its text: named as an attachment, or of a type that
    // is not shown as text (images, documents, other messages, ...).
    bool isFile = false;
    // For a file: the name the message gives it, else one made from its type ("image1.gif").
    QString fileName;
    bool namedByMessage = false;
};

struct MimeMessage {
    std::vector<MimeLeaf> leaves; // in the order of the message
    // The leaves (indexes into `leaves`) whose text, one after the other, is the message's
    // text: of each multipart/alternative the plain text where there is one, else the HTML.
    std::vector<std::size_t> textLeaves;
};

// The structure of a message from its parts in stored order. The parts' boundary lines tie
// each part to its multipart; a part whose boundary names no open multipart (damage) is taken
// as one of the message's own parts, so that nothing is lost.
MimeMessage analyseMime(const std::vector<nsf::MimePart>& parts);

// The text an HTML document shows, as plain text: tags dropped (line breaks where blocks,
// rows and line-break tags are; a tab between table cells), script, style and head left out,
// character references decoded, white space collapsed as a browser does (but inside <pre>).
QString htmlToText(QStringView html);

// The value of a parameter of a structured MIME header value ("attachment; filename=...") with
// RFC 2231 continuations and character sets and RFC 2047 encoded words decoded; empty when the
// header lacks it.
QString mimeParameter(std::string_view headerValue, std::string_view name);

// RFC 2047 encoded words ("=?utf-8?B?...?=") in a header text decoded; other bytes read as
// UTF-8 where they are, else as Windows-1252.
QString decodeEncodedWords(std::string_view text);

} // namespace tarvik::notes
