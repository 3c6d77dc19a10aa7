#include "mail/MailComposer.h"

#include "mail/HeaderText.h"
#include "mail/MailDate.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cstring>

namespace tarvik::mail {

namespace {

// Longer body lines are written quoted-printable.
constexpr int maxBodyLine = 78;

// Sets a header GMime writes exactly as given: the value for GMime's own
// model, the raw value (folded and encoded here) for the file.
void setRawHeader(GMimeObject* object, const char* name, const QByteArray& rawValue)
{
    g_mime_object_set_header(object, name, rawValue.simplified().constData(), nullptr);
    GMimeHeader* header =
        g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
    if (header)
        g_mime_header_set_raw_value(header, rawValue.constData());
}

void setAddressHeader(GMimeObject* object, const char* name, const QList<Mailbox>& mailboxes)
{
    if (mailboxes.isEmpty())
        return;
    QList<Mailbox> cleaned = mailboxes;
    for (Mailbox& m : cleaned) {
        m.name = cleanHeaderText(m.name).trimmed();
        m.address = cleanHeaderText(m.address).trimmed();
    }
    setRawHeader(object, name, rawAddressList(name, cleaned));
}

// The body in UTF-8 with LF line ends, built straight into the byte array a
// GMime memory stream then takes over, so a large body is held once as text
// and once as bytes. It is converted in pieces because QString::toUtf8 holds
// three bytes per character while it works.
GByteArray* normalisedBody(const QString& body)
{
    qsizetype length = 0;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const char16_t c = body.at(i).unicode();
        length += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
    }
    GByteArray* bytes = g_byte_array_sized_new(guint(length));
    constexpr qsizetype piece = 1 << 16;
    bool afterCr = false;
    for (qsizetype at = 0; at < body.size();) {
        qsizetype n = std::min(piece, body.size() - at);
        // A surrogate pair stays in one piece.
        if (at + n < body.size() && body.at(at + n - 1).isHighSurrogate())
            ++n;
        QByteArray utf8 = QStringView(body).mid(at, n).toUtf8();
        at += n;
        char* out = utf8.data();
        for (const char ch : std::as_const(utf8)) {
            if (ch == '\n' && afterCr) {
                afterCr = false;
                continue;
            }
            afterCr = ch == '\r';
            *out++ = afterCr ? '\n' : ch;
        }
        g_byte_array_append(bytes, reinterpret_cast<const guint8*>(utf8.constData()),
                            guint(out - utf8.constData()));
    }
    return bytes;
}

bool quotedPrintableSafe(uchar c)
{
    return c == '\t' || (c >= ' ' && c <= '~' && c != '=');
}

// Bodies up to this size are encoded here, in memory; larger ones are left to
// GMime's filter, which encodes them piece by piece as they are written.
constexpr qsizetype encodeInMemoryLimit = qsizetype(1) << 20;

gmime::Ref<GMimeObject> textPart(const QString& body, const QByteArray& boundaryLine)
{
    // LF inside GMime; the writer turns every line end into CR LF.
    GByteArray* bytes = normalisedBody(body);
    const QByteArray view =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
    const GMimeContentEncoding encoding = bodyEncoding(view, boundaryLine);
    auto contentEncoding = GMIME_CONTENT_ENCODING_DEFAULT;
    if (encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE && view.size() <= encodeInMemoryLimit) {
        // Already encoded content is copied as it is when the file is written.
        const QByteArray encoded = quotedPrintable(view);
        g_byte_array_set_size(bytes, guint(encoded.size()));
        std::memcpy(bytes->data, encoded.constData(), std::size_t(encoded.size()));
        contentEncoding = GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
    }
    auto stream = gmime::take(g_mime_stream_mem_new_with_byte_array(bytes));
    auto part = gmime::take(g_mime_text_part_new_with_subtype("plain"));
    auto wrapper = gmime::take(g_mime_data_wrapper_new_with_stream(stream.get(), contentEncoding));
    g_mime_part_set_content(GMIME_PART(part.get()), wrapper.get());
    g_mime_text_part_set_charset(part.get(), "utf-8");
    g_mime_part_set_content_encoding(GMIME_PART(part.get()), encoding);
    return gmime::take(GMIME_OBJECT(part.release()));
}

void replaceRawValue(GMimeObject* object, const char* name, const QByteArray& rawValue)
{
    GMimeHeader* header =
        g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
    if (header)
        g_mime_header_set_raw_value(header, rawValue.constData());
}

gmime::Ref<GMimeObject> attachmentPart(const AttachmentFile& file)
{
    const QByteArray type = file.contentType();
    const qsizetype slash = type.indexOf('/');
    auto part = gmime::take(
        g_mime_part_new_with_type(type.left(slash).constData(), type.mid(slash + 1).constData()));
    auto stream = file.content();
    auto wrapper = gmime::take(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(part.get(), wrapper.get());
    g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
    g_mime_part_set_filename(part.get(), file.fileName().toUtf8().constData());
    // GMime's own folding of long RFC 2231 names can split a UTF-8 character
    // between two lines, which readers then cannot decode: write both
    // parameters folded between characters instead.
    GMimeObject* object = GMIME_OBJECT(part.get());
    replaceRawValue(object, "Content-Type", rawValueWithFileName(type, "name", file.fileName()));
    replaceRawValue(object, "Content-Disposition",
                    rawValueWithFileName("attachment", "filename", file.fileName()));
    return gmime::take(GMIME_OBJECT(part.release()));
}

} // namespace

GMimeContentEncoding bodyEncoding(const QByteArray& body, const QByteArray& forbidden)
{
    bool ascii = true;
    int lineLength = 0;
    for (const char ch : body) {
        const auto b = uchar(ch);
        if (b == '\n') {
            lineLength = 0;
            continue;
        }
        if (++lineLength > maxBodyLine || (b < 0x20 && b != '\t') || b == 0x7F)
            return GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
        if (b >= 0x80)
            ascii = false;
    }
    if (!forbidden.isEmpty() && body.contains(forbidden))
        return GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
    return ascii ? GMIME_CONTENT_ENCODING_7BIT : GMIME_CONTENT_ENCODING_8BIT;
}

QByteArray quotedPrintable(QByteArrayView body)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    // At most three bytes for each byte, and a soft break for at most every 16 of them.
    QByteArray out(body.size() * 3 + (body.size() / 16 + 2) * 2, Qt::Uninitialized);
    char* o = out.data();
    const auto escape = [&o](uchar c) {
        *o++ = '=';
        *o++ = hex[c >> 4];
        *o++ = hex[c & 0xF];
    };
    // A blank (or a CR) is held back until what follows it shows whether it
    // ends its line, where it must be escaped.
    int held = -1;
    qsizetype column = 0;
    for (const char ch : body) {
        const auto c = uchar(ch);
        if (c == '\r') {
            if (held != -1) {
                escape(uchar(held));
                column += 3;
            }
            held = c;
        } else if (c == '\n') {
            if (held != -1 && held != '\r')
                escape(uchar(held));
            *o++ = '\n';
            column = 0;
            held = -1;
        } else {
            if (held != -1) {
                if (quotedPrintableSafe(uchar(held))) {
                    *o++ = char(held);
                    ++column;
                } else {
                    escape(uchar(held));
                    column += 3;
                }
            }
            if (quotedPrintableSafe(c)) {
                if (column > 74) {
                    *o++ = '=';
                    *o++ = '\n';
                    column = 0;
                }
                if (c == ' ' || c == '\t') {
                    held = c;
                } else {
                    *o++ = char(c);
                    ++column;
                    held = -1;
                }
            } else {
                if (column > 72) {
                    *o++ = '=';
                    *o++ = '\n';
                    column = 3;
                } else {
                    column += 3;
                }
                escape(c);
                held = -1;
            }
        }
    }
    if (held != -1) {
        if (quotedPrintableSafe(uchar(held)) && held != ' ' && held != '\t')
            *o++ = char(held);
        else
            escape(uchar(held));
        *o++ = '=';
        *o++ = '\n';
    }
    out.truncate(o - out.constData());
    return out;
}

gmime::FormatOptions crlfFormat()
{
    gmime::FormatOptions options(g_mime_format_options_new());
    g_mime_format_options_set_newline_format(options.get(), GMIME_NEWLINE_FORMAT_DOS);
    return options;
}

gmime::Ref<GMimeMessage> composeMessage(const MailContent& content)
{
    gmime::ensureInitialised();
    auto message = gmime::take(g_mime_message_new(FALSE));
    GMimeObject* object = GMIME_OBJECT(message.get());

    // GMime 3.2 neither splits a long encoded word nor folds within one, so a
    // long Chinese subject or name would give overlong lines: these headers
    // are encoded and folded here.
    setAddressHeader(object, "From", content.from);
    setAddressHeader(object, "To", content.to);
    setAddressHeader(object, "Cc", content.cc);
    setAddressHeader(object, "Bcc", content.bcc);
    const QString subject = cleanHeaderText(content.subject);
    if (!subject.trimmed().isEmpty())
        setRawHeader(object, "Subject", rawUnstructured("Subject", subject));
    g_mime_object_set_header(object, "Date", formatMailDate(content.date).toLatin1().constData(),
                             nullptr);
    QString id = cleanHeaderText(content.messageId).trimmed();
    if (id.startsWith(u'<') && id.endsWith(u'>'))
        id = id.mid(1, id.size() - 2);
    g_mime_object_set_header(object, "Message-ID", ('<' + id.toUtf8() + '>').constData(), nullptr);
    // Outlook's mark of a message that was never sent; after MIME-Version,
    // which GMime adds with the body.
    const auto markUnsent = [&] {
        if (!content.sent)
            g_mime_object_append_header(object, "X-Unsent", "1", nullptr);
    };

    if (content.attachments.empty()) {
        g_mime_message_set_mime_part(message.get(), textPart(content.body, {}).get());
        markUnsent();
        return message;
    }

    // Derived from the Message-ID, so saving the same item again writes the
    // same bytes; "=_" never occurs in base64 or quoted-printable text.
    const QByteArray boundary =
        "=_tarvik_" +
        QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).toHex().left(24);
    auto multipart = gmime::take(g_mime_multipart_new_with_subtype("mixed"));
    g_mime_multipart_set_boundary(multipart.get(), boundary.constData());
    g_mime_multipart_add(multipart.get(), textPart(content.body, "--" + boundary).get());
    for (const auto& file : content.attachments)
        g_mime_multipart_add(multipart.get(), attachmentPart(*file).get());
    g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(multipart.get()));
    markUnsent();
    return message;
}

} // namespace tarvik::mail
