#include "mail/MailAddress.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace tarvik::mail {

namespace {

bool isControl(char32_t c)
{
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

bool isAtext(QChar c)
{
    if (c.unicode() > 0x7E)
        return false;
    const char a = char(c.unicode());
    return (a >= 'a' && a <= 'z') || (a >= 'A' && a <= 'Z') || (a >= '0' && a <= '9') ||
           QByteArrayView("!#$%&'*+-/=?^_`{|}~").contains(a);
}

bool isDotAtom(QStringView s)
{
    if (s.isEmpty() || s.startsWith(u'.') || s.endsWith(u'.') || s.contains(u".."))
        return false;
    for (const QChar c : s) {
        if (c != u'.' && !isAtext(c))
            return false;
    }
    return true;
}

bool isHostLabel(QStringView label)
{
    if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
        return false;
    for (const QChar c : label) {
        const char16_t u = c.unicode();
        const bool ok =
            (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-';
        if (!ok)
            return false;
    }
    return true;
}

// The address as it goes into the header (an international domain in its
// ASCII form), or nothing when text is not an address this writer keeps.
std::optional<QString> normalisedAddress(const QString& text)
{
    const qsizetype at = text.lastIndexOf(u'@');
    if (at <= 0)
        return std::nullopt;
    const QString local = text.left(at);
    QString domain = text.mid(at + 1);
    // A Notes name written with its Notes domain ("CN=Ann/O=Acme@Acme") is not
    // an Internet address, even when its parts happen to be valid atoms.
    // Longer local parts than 64 characters are no address (RFC 5321), and
    // would make a header line no reader need accept.
    if (!isDotAtom(local) || local.size() > 64 || local.startsWith(u"CN=", Qt::CaseInsensitive))
        return std::nullopt;
    for (const QChar c : domain) {
        if (c.unicode() > 0x7F) {
            domain = QString::fromLatin1(QUrl::toAce(domain));
            break;
        }
    }
    if (domain.size() > 253)
        return std::nullopt;
    const QStringList labels = domain.split(u'.');
    if (labels.size() < 2)
        return std::nullopt;
    for (const QString& label : labels) {
        if (!isHostLabel(label))
            return std::nullopt;
    }
    return local + u'@' + domain;
}

QStringList splitEntries(const QString& text)
{
    QStringList entries;
    QString current;
    bool quoted = false;
    bool escaped = false;
    int angle = 0;
    for (const QChar c : text) {
        if (escaped) {
            escaped = false;
        } else if (quoted && c == u'\\') {
            escaped = true;
        } else if (c == u'"') {
            quoted = !quoted;
        } else if (!quoted && c == u'<') {
            ++angle;
        } else if (!quoted && c == u'>' && angle > 0) {
            --angle;
        } else if (!quoted && angle == 0 && c == u';') {
            entries.append(current);
            current.clear();
            continue;
        }
        current.append(c);
    }
    entries.append(current);
    return entries;
}

// "\"Field, Bob\"" -> "Field, Bob"; other names unchanged.
QString unquoted(const QString& name)
{
    if (name.size() < 2 || !name.startsWith(u'"') || !name.endsWith(u'"'))
        return name;
    QString out;
    bool escaped = false;
    for (const QChar c : QStringView(name).mid(1, name.size() - 2)) {
        if (!escaped && c == u'\\') {
            escaped = true;
            continue;
        }
        escaped = false;
        out.append(c);
    }
    return out;
}

std::optional<Mailbox> nameWithPlaceholder(const QString& text)
{
    const QString name = abbreviateNotesName(text).trimmed();
    if (name.isEmpty() || name == u".")
        return std::nullopt;
    return Mailbox{name, placeholderAddress(name), true};
}

QString asciiFold(QChar c)
{
    switch (c.unicode()) {
    case u'ß':
        return QStringLiteral("ss");
    case u'æ':
        return QStringLiteral("ae");
    case u'œ':
        return QStringLiteral("oe");
    case u'ø':
        return QStringLiteral("o");
    case u'ł':
        return QStringLiteral("l");
    case u'đ':
        return QStringLiteral("d");
    case u'þ':
        return QStringLiteral("th");
    case u'ı':
        return QStringLiteral("i");
    default:
        return QString(c);
    }
}

} // namespace

QString cleanHeaderText(const QString& text)
{
    // Every control character is in the Basic Multilingual Plane, so the
    // text is read by UTF-16 units; surrogate pairs pass through untouched.
    QString out;
    out.reserve(text.size());
    bool inRun = false;
    for (const QChar c : text) {
        if (isControl(c.unicode())) {
            if (!inRun)
                out.append(u' ');
            inRun = true;
            continue;
        }
        inRun = false;
        out.append(c);
    }
    return out;
}

QList<Mailbox> mailboxesFromText(const QString& text)
{
    QList<Mailbox> result;
    for (const QString& entry : splitEntries(cleanHeaderText(text))) {
        if (auto mailbox = mailboxFromEntry(entry))
            result.append(*mailbox);
    }
    return result;
}

std::optional<Mailbox> mailboxFromEntry(const QString& entry)
{
    const QString e = cleanHeaderText(entry).trimmed();
    if (e.isEmpty() || e == u".")
        return std::nullopt;

    if (e.endsWith(u'>')) {
        const qsizetype open = e.lastIndexOf(u'<');
        if (open >= 0) {
            const QString addr = e.mid(open + 1, e.size() - open - 2).trimmed();
            const QString name = unquoted(e.left(open).trimmed()).trimmed();
            if (addr.isEmpty())
                return name.isEmpty() ? std::nullopt : nameWithPlaceholder(name);
            if (const auto a = normalisedAddress(addr))
                return Mailbox{abbreviateNotesName(name).trimmed(), *a, false};
        }
    }
    if (const auto a = normalisedAddress(e))
        return Mailbox{QString(), *a, false};
    return nameWithPlaceholder(e);
}

QString abbreviateNotesName(const QString& name)
{
    static const QRegularExpression labelled(
        QStringLiteral(R"(^\s*(CN|OU|O|C|G|S|I|Q|A|P)\s*=\s*(.*)$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    QStringList parts = name.split(u'/');
    if (!parts.first().trimmed().startsWith(u"CN=", Qt::CaseInsensitive))
        return name;
    for (QString& part : parts) {
        const auto m = labelled.match(part);
        part = (m.hasMatch() ? m.captured(2) : part).trimmed();
    }
    return parts.join(u'/');
}

QString placeholderAddress(const QString& displayName)
{
    const QString commonName = displayName.section(u'/', 0, 0);
    QString local;
    bool pendingDot = false;
    for (const QChar c : commonName.normalized(QString::NormalizationForm_KD)) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        for (const QChar f : asciiFold(c.toLower())) {
            const char16_t u = f.unicode();
            if ((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')) {
                if (pendingDot)
                    local.append(u'.');
                pendingDot = false;
                local.append(f);
            } else {
                pendingDot = !local.isEmpty();
            }
        }
    }
    // Short enough that " <local@notes.invalid>" fits one header line.
    local.truncate(40);
    while (local.endsWith(u'.'))
        local.chop(1);
    if (local.isEmpty()) {
        // Nothing readable in ASCII (a Chinese name, say): a hash keeps
        // different names apart and the same name on the same address.
        const QByteArray hash =
            QCryptographicHash::hash(displayName.toUtf8(), QCryptographicHash::Sha1).toHex();
        local = QStringLiteral("user-") + QString::fromLatin1(hash.left(10));
    }
    return local + u'@' + placeholderDomain;
}

bool isInternetAddress(const QString& text)
{
    return normalisedAddress(text.trimmed()).has_value();
}

} // namespace tarvik::mail
