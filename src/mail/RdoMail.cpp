#include "mail/RdoSession.h"

#include "base/OperationError.h"
#include "mail/AttachmentFile.h"
#include "mail/EmlFile.h"
#include "mail/MailComposer.h"
#include "mail/MailDate.h"
#include "mail/SessionState.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace tarvik::mail {

namespace {

// A header section larger than this is not what Import is for.
constexpr qint64 maxHeaderBytes = 1 << 20;

void requireRfc822(int format)
{
    if (format != olRfc822) {
        throw OperationError(
            QStringLiteral("Format %1 is not supported; only RFC 822 (1024) is.").arg(format));
    }
}

QList<std::pair<QString, QString>> headerLines(const QByteArray& all, const QString& path);

// Reads the header lines of an RFC 822 text file (up to the first empty line),
// unfolds them and returns name/value pairs in file order.
QList<std::pair<QString, QString>> readHeaderLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw OperationError(QStringLiteral("Cannot read the file \"%1\": %2")
                                 .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    // Read at once: the file holds a few header lines. Reading it line by
    // line made every call reserve a buffer of the longest line allowed.
    const QByteArray all =
        file.read(std::min<qint64>(maxHeaderBytes + 1, std::max<qint64>(file.size(), 4096)));
    if (all.isEmpty() && file.error() != QFileDevice::NoError) {
        throw OperationError(QStringLiteral("Cannot read the file \"%1\": %2")
                                 .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    return headerLines(all, path);
}

// The header lines of an RFC 822 text, path naming where it came from.
QList<std::pair<QString, QString>> headerLines(const QByteArray& all, const QString& path)
{
    // The header section ends at the first empty line, or with the file.
    QByteArray bytes;
    qsizetype start = 0;
    while (start < all.size()) {
        const qsizetype newline = all.indexOf('\n', start);
        const qsizetype end = newline < 0 ? all.size() : newline + 1;
        const QByteArrayView line(all.constData() + start, end - start);
        if (line == "\n" || line == "\r\n")
            break;
        bytes += line;
        start = end;
    }
    if (bytes.size() > maxHeaderBytes) {
        throw OperationError(path.isEmpty()
                                 ? QStringLiteral("The text has no RFC 822 header section.")
                                 : QStringLiteral("The file \"%1\" has no RFC 822 header section.")
                                       .arg(QDir::toNativeSeparators(path)));
    }
    // The file is 8-bit text in the system's code page.
    QStringDecoder decode(QStringDecoder::System);
    const QString text = decode(bytes);

    QList<std::pair<QString, QString>> fields;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.isEmpty())
            continue;
        if ((line.startsWith(QLatin1Char(' ')) || line.startsWith(QLatin1Char('\t'))) &&
            !fields.isEmpty()) {
            fields.last().second += line;
            continue;
        }
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        fields.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return fields;
}

QDateTime requireDate(const QString& text)
{
    const auto date = parseMailDate(text);
    if (!date) {
        throw OperationError(
            QStringLiteral("\"%1\" is not a date and time the mail writer can read.").arg(text));
    }
    return *date;
}

} // namespace

RdoRecipient::RdoRecipient(std::shared_ptr<SessionState> state, quint64 logon, QString text)
    : m_state(std::move(state)), m_logon(logon), m_text(std::move(text))
{}

QString RdoRecipient::Name() const
{
    m_state->requireLogon(m_logon);
    return m_text;
}

bool RdoRecipient::Resolve()
{
    m_state->requireLogon(m_logon);
    const QList<Mailbox> mailboxes = mailboxesFromText(m_text);
    m_resolved =
        !mailboxes.isEmpty() && std::none_of(mailboxes.cbegin(), mailboxes.cend(),
                                             [](const Mailbox& m) { return m.placeholder; });
    return m_resolved;
}

std::shared_ptr<RdoRecipient> RdoRecipients::Add(const QString& text)
{
    m_mail.checkAlive();
    auto recipient = std::make_shared<RdoRecipient>(m_mail.m_state, m_mail.m_logon, text);
    m_items.push_back(recipient);
    return recipient;
}

int RdoRecipients::Count() const
{
    m_mail.checkAlive();
    return int(m_items.size());
}

void RdoAttachments::Add(const QString& path, const QString& displayName)
{
    m_mail.checkAlive();
    m_files.push_back(AttachmentFile::open(path, displayName));
}

int RdoAttachments::Count() const
{
    m_mail.checkAlive();
    return int(m_files.size());
}

RdoMail::RdoMail(std::shared_ptr<SessionState> state, quint64 logon)
    : m_state(std::move(state)), m_logon(logon)
{}

RdoMail::~RdoMail() = default;

void RdoMail::checkAlive() const
{
    m_state->requireLogon(m_logon);
}

void RdoMail::Import(const QString& path, int format)
{
    checkAlive();
    requireRfc822(format);
    importHeaders(readHeaderLines(path));
}

void RdoMail::importText(const QByteArray& text, int format)
{
    checkAlive();
    requireRfc822(format);
    importHeaders(headerLines(text, QString()));
}

void RdoMail::importHeaders(const QList<std::pair<QString, QString>>& fields)
{
    for (const auto& [name, value] : fields) {
        if (name.compare(u"From", Qt::CaseInsensitive) == 0)
            m_from = value;
        else if (name.compare(u"To", Qt::CaseInsensitive) == 0)
            m_importedTo = value;
        else if (name.compare(u"Cc", Qt::CaseInsensitive) == 0)
            m_cc = value;
        else if (name.compare(u"Bcc", Qt::CaseInsensitive) == 0)
            m_bcc = value;
        else if (name.compare(u"Subject", Qt::CaseInsensitive) == 0)
            m_subject = value;
    }
}

void RdoMail::setSent(bool sent)
{
    checkAlive();
    m_sent = sent;
}

void RdoMail::setSubject(const QString& subject)
{
    checkAlive();
    m_subject = subject;
}

void RdoMail::setBody(const QString& body)
{
    checkAlive();
    m_body = body;
}

void RdoMail::setCC(const QString& cc)
{
    checkAlive();
    m_cc = cc;
}

void RdoMail::setBCC(const QString& bcc)
{
    checkAlive();
    m_bcc = bcc;
}

RdoRecipients& RdoMail::Recipients()
{
    checkAlive();
    return m_recipients;
}

void RdoMail::setSentOn(const QString& dateText)
{
    checkAlive();
    m_sentOn = requireDate(dateText);
}

void RdoMail::setReceivedTime(const QString& dateText)
{
    checkAlive();
    m_receivedTime = requireDate(dateText);
}

RdoAttachments& RdoMail::Attachments()
{
    checkAlive();
    return m_attachments;
}

void RdoMail::SaveAs(const QString& path, int format)
{
    checkAlive();
    requireRfc822(format);

    if (m_messageId.isEmpty())
        m_messageId = m_state->newMessageId();
    if (!m_sentOn && !m_receivedTime && !m_fallbackDate.isValid())
        m_fallbackDate = m_state->now();

    MailContent content;
    content.from = mailboxesFromText(m_from);
    content.to = mailboxesFromText(m_importedTo);
    for (const auto& recipient : m_recipients.m_items)
        content.to += mailboxesFromText(recipient->m_text);
    content.cc = mailboxesFromText(m_cc);
    content.bcc = mailboxesFromText(m_bcc);
    content.subject = m_subject;
    content.body = m_body;
    content.date = m_sentOn ? *m_sentOn : m_receivedTime ? *m_receivedTime : m_fallbackDate;
    content.messageId = m_messageId;
    content.sent = m_sent;
    content.attachments = m_attachments.m_files;

    const auto message = composeMessage(content);
    writeMessageFile(GMIME_OBJECT(message.get()), path);
}

} // namespace tarvik::mail
