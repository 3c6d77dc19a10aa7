#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace tarvik::mail {

// One entry of an address header: a display name (may be empty) and an
// Internet address. Entries that were not addresses carry a placeholder
// address in the reserved "notes.invalid" domain.
struct Mailbox {
    QString name;
    QString address;
    bool placeholder = false;

    friend bool operator==(const Mailbox&, const Mailbox&) = default;
};

// The domain of placeholder addresses.
inline const QString placeholderDomain = QStringLiteral("notes.invalid");

// Replaces every run of control characters (C0, DEL, C1, and the Unicode line
// and paragraph separators) by one blank, so a text can never break a header
// line or start a new header.
QString cleanHeaderText(const QString& text);

// Splits a recipient text at ";" (not inside quotes or angle brackets) and
// turns each entry into one mailbox; entries that hold nothing ("", ".",
// blanks) are left out.
QList<Mailbox> mailboxesFromText(const QString& text);

// One entry: "bob@example.com", "Bob Field <bob@example.com>",
// "\"Field, Bob\" <bob@example.com>" stay addresses; a Notes name or any other
// text becomes a display name with a placeholder address. Nothing for an
// empty entry.
std::optional<Mailbox> mailboxFromEntry(const QString& entry);

// "CN=Ann Example/OU=Sales/O=Acme" -> "Ann Example/Sales/Acme". Texts that do
// not start with a "CN=" component are returned unchanged.
QString abbreviateNotesName(const QString& name);

// A stable, syntactically valid address in the placeholder domain made from a
// display name: "Ann Example/Sales/Acme" -> "ann.example@notes.invalid".
QString placeholderAddress(const QString& displayName);

// Whether text is a plain Internet address (local-part@domain) this writer keeps as
// is: a dot-atom local part and a domain of at least two labels.
bool isInternetAddress(const QString& text);

} // namespace tarvik::mail
