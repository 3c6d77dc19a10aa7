// Messages from any field values, built and saved as the export does (through
// the message builder and the mail-item writer): every file parses with
// GMime, carries only the headers the writer writes, each once, and gives
// back the subject, body, recipients and attachments it was given. No field
// text can add a header or an address.

#include "FuzzSupport.h"
#include "app/MessageBuilder.h"
#include "base/OperationError.h"
#include "base/Platform.h"
#include "base/RandomGenerator.h"
#include "base/TempFolder.h"
#include "mail/GMimeHandles.h"
#include "mail/MailAddress.h"
#include "mail/RdoSession.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>

#include <fcntl.h>

using namespace tarvik;
using namespace tarvik::fuzz;
using namespace tarvik::mail;

namespace {

constexpr int kMaxAttachments = 4;

// The writer's whole equipment, made once per process.
struct Writer {
    std::shared_ptr<RdoSession> session;
    TempFolder temp;
    RandomGenerator random;
    QString root;
    std::unique_ptr<MessageBuilder> builder;
};

Writer& writer()
{
    static Writer w;
    if (!w.session) {
        RdoSessionOptions options;
        options.clock = [] {
            return QDateTime(QDate(2011, 7, 1), QTime(9, 15), Qt::UTC);
        };
        w.session = std::make_shared<RdoSession>(options);
        w.session->Logon();
        w.root = Scratch::instance().path() + QStringLiteral("/root/");
        w.builder = std::make_unique<MessageBuilder>(w.temp, w.random);
    }
    return w;
}

// Text as it reads back from UTF-8. A lone surrogate has no UTF-8 form: it
// may come back as U+FFFD or "?", and counts as U+FFFD here.
QString asWritten(const QString& text)
{
    const QList<uint> chars = text.toUcs4();
    QString out =
        QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()), chars.size());
    out.replace(u'?', QChar::ReplacementCharacter);
    return out;
}

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029;
}

bool hasControl(const QString& text)
{
    const QList<uint> chars = text.toUcs4();
    return std::any_of(chars.begin(), chars.end(), [](uint c) { return isControl(c); });
}

// Blanks as one, none at the ends: folding may change how many there are.
QString collapseBlanks(const QString& text)
{
    QString out;
    for (QChar c : text) {
        if (c == u' ' && (out.isEmpty() || out.endsWith(u' ')))
            continue;
        out += c;
    }
    if (out.endsWith(u' '))
        out.chop(1);
    return out;
}

// The text a header field must carry for a field value: each control
// character a blank.
QString headerText(const QString& text)
{
    QString out;
    for (const char32_t c : asWritten(text).toUcs4())
        out += isControl(c) ? QString(u' ') : QString::fromUcs4(&c, 1);
    return collapseBlanks(out);
}

QByteArray partContent(GMimePart* part)
{
    auto out = gmime::take(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), out.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

QString withoutTrailingLineEnds(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    while (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

// The raw header section: only the writer's headers, each at most once, and
// no line beyond the 998-character limit.
void checkRawHeaders(const QByteArray& raw)
{
    static const QSet<QByteArray> allowed = {
        "From", "To",         "Cc",           "Bcc",          "Subject",
        "Date", "Message-ID", "MIME-Version", "Content-Type", "Content-Transfer-Encoding"};
    const qsizetype end = raw.indexOf("\r\n\r\n");
    FUZZ_CHECK(end > 0, QStringLiteral("no end of the header section"));
    QSet<QByteArray> seen;
    for (const QByteArray& line : raw.left(end).split('\n')) {
        const QByteArray l = line.endsWith('\r') ? line.chopped(1) : line;
        FUZZ_CHECK(l.size() <= 998, QStringLiteral("a header line of %1 bytes").arg(l.size()));
        if (l.startsWith(' ') || l.startsWith('\t'))
            continue;
        const QByteArray name = l.left(l.indexOf(':'));
        FUZZ_CHECK(allowed.contains(name),
                   QStringLiteral("header ") + QString::fromUtf8(l.left(80)));
        FUZZ_CHECK(!seen.contains(name),
                   QStringLiteral("header twice: ") + QString::fromUtf8(name));
        seen.insert(name);
    }
    // Line ends are CR LF throughout.
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\n')
            FUZZ_CHECK(i > 0 && raw[i - 1] == '\r', QStringLiteral("a bare LF at %1").arg(i));
        if (raw[i] == '\r')
            FUZZ_CHECK(i + 1 < raw.size() && raw[i + 1] == '\n',
                       QStringLiteral("a bare CR at %1").arg(i));
    }
}

void checkAddresses(GMimeMessage* message, GMimeAddressType type, const QList<Mailbox>& expected,
                    const char* what)
{
    InternetAddressList* list = g_mime_message_get_addresses(message, type);
    const int n = list ? internet_address_list_length(list) : 0;
    FUZZ_CHECK(n == expected.size(), QStringLiteral("%1: %2 addresses written, %3 expected")
                                         .arg(QLatin1String(what))
                                         .arg(n)
                                         .arg(expected.size()));
    for (int i = 0; i < n; ++i) {
        InternetAddress* a = internet_address_list_get_address(list, i);
        FUZZ_CHECK(INTERNET_ADDRESS_IS_MAILBOX(a),
                   QStringLiteral("a group in ") + QLatin1String(what));
        const QString address =
            QString::fromUtf8(internet_address_mailbox_get_idn_addr(INTERNET_ADDRESS_MAILBOX(a)));
        const QString want = expected.at(i).address;
        // GMime reads an IDNA label ("xn--") back through its own decoding,
        // which does not give back what was written when the label is not
        // valid Punycode: those are compared by count only.
        bool ascii = !want.contains(QLatin1String("xn--"), Qt::CaseInsensitive);
        for (QChar c : want)
            ascii = ascii && c.unicode() < 0x80;
        if (ascii)
            FUZZ_CHECK(
                address.compare(want, Qt::CaseInsensitive) == 0,
                QStringLiteral("%1: %2 written for %3").arg(QLatin1String(what), address, want));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    limitFileSize(16 << 20);
    gmime::ensureInitialised();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Fields fields(data, size);
    const bool utf16 = fields.flags() & 1;
    Writer& w = writer();
    Scratch::instance().reset();
    QDir().mkpath(w.root + QStringLiteral("Inbox"));
    const QString attachmentFolder = Scratch::instance().path() + QStringLiteral("/attach");
    QDir().mkpath(attachmentFolder);

    const QString from = fields.text(0, utf16);
    const QString originalSubject = fields.text(1, utf16);
    const QString to = fields.text(2, utf16);
    const QString cc = fields.text(3, utf16);
    const QString bcc = fields.text(4, utf16);
    const QString body = fields.text(6, utf16);
    EmailItem email{QStringLiteral("Inbox"), from, originalSubject, to, cc, bcc,
                    fields.text(5, utf16),   body, QString(),       {}};

    QList<std::pair<QString, QByteArray>> attachments;
    for (std::size_t i = 7; i + 1 < fields.count() && attachments.size() < kMaxAttachments;
         i += 2) {
        const QString path = attachmentFolder + QStringLiteral("/%1").arg(attachments.size());
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly), path);
        f.write(fields.bytes(i + 1));
        f.close();
        email.attachFileName += u'|' + path;
        email.attachments.insert(path, {fields.text(i, utf16), QString()});
        attachments.append({fields.text(i, utf16), fields.bytes(i + 1)});
    }

    const MessageOutcome outcome = w.builder->CreateEmailItem(w.session.get(), w.root, email);
    FUZZ_CHECK(outcome.saved, QStringLiteral("not saved: ") + outcome.failure);
    FUZZ_CHECK(outcome.attached == attachments.size() && outcome.droppedAttachments.isEmpty(),
               outcome.droppedAttachments.join(u'\n'));
    const QStringList inbox =
        QDir(w.root + QStringLiteral("Inbox")).entryList(QDir::Files | QDir::Hidden | QDir::System);
    FUZZ_CHECK(inbox.size() == 1, QStringLiteral("the folder holds ") + inbox.join(u' '));

    QFile file(outcome.path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly), outcome.path);
    const QByteArray raw = file.readAll();
    file.close();
    checkRawHeaders(raw);

    auto stream = gmime::take(g_mime_stream_mem_new_with_buffer(raw.constData(), raw.size()));
    auto parser = gmime::take(g_mime_parser_new_with_stream(stream.get()));
    auto message = gmime::take(g_mime_parser_construct_message(parser.get(), nullptr));
    FUZZ_CHECK(message != nullptr, QStringLiteral("GMime cannot read the message"));

    const QString writtenSubject =
        asWritten(QString::fromUtf8(g_mime_message_get_subject(message.get())));
    // A subject of nothing but white space is no subject.
    QString wantedSubject = headerText(originalSubject);
    if (wantedSubject.trimmed().isEmpty())
        wantedSubject.clear();
    FUZZ_CHECK(!hasControl(writtenSubject) && collapseBlanks(writtenSubject) == wantedSubject,
               QStringLiteral("subject \"%1\" written for \"%2\"")
                   .arg(QString::fromLatin1(writtenSubject.toUtf8().toHex(' ')),
                        QString::fromLatin1(wantedSubject.toUtf8().toHex(' '))));

    QString fromLine = from;
    for (QChar& c : fromLine) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u' ';
    }
    // The sender travels through the header file in the system's 8-bit code
    // page, where text that is not valid UTF-16 does not come back as it was.
    fromLine = QString::fromLocal8Bit(fromLine.toLocal8Bit());
    checkAddresses(message.get(), GMIME_ADDRESS_TYPE_FROM, mailboxesFromText(fromLine.trimmed()),
                   "From");
    checkAddresses(message.get(), GMIME_ADDRESS_TYPE_TO, mailboxesFromText(to), "To");
    checkAddresses(message.get(), GMIME_ADDRESS_TYPE_CC, mailboxesFromText(cc), "Cc");
    checkAddresses(message.get(), GMIME_ADDRESS_TYPE_BCC, mailboxesFromText(bcc), "Bcc");

    // The body and the attachments, in order.
    QString writtenBody;
    QList<std::pair<QString, QByteArray>> written;
    GMimePartIter* iter = g_mime_part_iter_new(g_mime_message_get_mime_part(message.get()));
    do {
        GMimeObject* object = g_mime_part_iter_get_current(iter);
        if (!object || !GMIME_IS_PART(object))
            continue;
        GMimeHeaderList* headers = g_mime_object_get_header_list(object);
        for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
            const QByteArray name(
                g_mime_header_get_name(g_mime_header_list_get_header_at(headers, i)));
            FUZZ_CHECK(name == "Content-Type" || name == "Content-Transfer-Encoding" ||
                           name == "Content-Disposition",
                       QStringLiteral("part header ") + QString::fromUtf8(name));
        }
        GMimePart* part = GMIME_PART(object);
        if (const char* name = g_mime_part_get_filename(part))
            written.append({QString::fromUtf8(name), partContent(part)});
        else
            writtenBody = QString::fromUtf8(partContent(part));
    } while (g_mime_part_iter_next(iter));
    g_mime_part_iter_free(iter);

    FUZZ_CHECK(withoutTrailingLineEnds(asWritten(writtenBody)) ==
                   withoutTrailingLineEnds(asWritten(body)),
               QStringLiteral("body changed"));
    FUZZ_CHECK(written.size() == attachments.size(),
               QStringLiteral("%1 attachments written, %2 added")
                   .arg(written.size())
                   .arg(attachments.size()));
    for (qsizetype i = 0; i < written.size(); ++i) {
        FUZZ_CHECK(written[i].second == attachments[i].second,
                   QStringLiteral("attachment %1 changed").arg(i));
        const QString name = headerText(attachments[i].first);
        const QString writtenName = asWritten(written[i].first);
        // A name of nothing but white space is no name: the file's own is used.
        FUZZ_CHECK(!hasControl(writtenName) &&
                       (name.trimmed().isEmpty() || collapseBlanks(writtenName) == name),
                   QStringLiteral("attachment name \"%1\" written for \"%2\"")
                       .arg(written[i].first,
                            QString::fromLatin1(attachments[i].first.toUtf8().toHex(' '))));
    }
    return 0;
}
