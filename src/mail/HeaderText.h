#pragma once

#include "mail/MailAddress.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace tarvik::mail {

// Raw header values as GMime writes them after "Name:": a leading blank, lines
// folded with LF plus a blank, a final LF. Lines stay within 78 characters
// wherever the text can be folded (a long ASCII display name or address
// cannot, but stays far below 998); non-ASCII text becomes RFC 2047 encoded
// words in UTF-8, each ending between characters.
// Texts must already be free of control characters.
constexpr int maxHeaderLine = 78;

// An unstructured header such as Subject.
QByteArray rawUnstructured(const QByteArray& headerName, const QString& text);

// From, To, Cc or Bcc: "Name <address>" or a bare address per mailbox.
QByteArray rawAddressList(const QByteArray& headerName, const QList<Mailbox>& mailboxes);

// A media type or disposition with one file-name parameter on its own lines:
// "application/pdf;\n name=\"a.pdf\"". A printable ASCII name that fits stays
// a quoted string; others use the RFC 2231 extended form in UTF-8, continued
// over several lines when long, each line ending between characters.
QByteArray rawValueWithFileName(const QByteArray& value, const QByteArray& parameter,
                                const QString& fileName);

} // namespace tarvik::mail
