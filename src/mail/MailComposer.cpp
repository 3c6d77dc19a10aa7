#include "mail/MailComposer.h"

#include "mail/HeaderText.h"
#include "mail/MailDate.h"

#include <QCryptographicHash>

#include <algorithm>
#include <array>
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

// The body in UTF-8 with LF line ends (CR LF and a lone CR become LF), built
// straight into the byte array a GMime memory stream then takes over, so a
// large body is held once as text and once as bytes. It is converted in pieces
// because QString::toUtf8 holds three bytes per character while it works.
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
        const char* in = utf8.constData();
        const char* const end = in + utf8.size();
        if (afterCr && in < end && *in == '\n')
            ++in;
        afterCr = false;
        // Text up to each CR goes as it is; the CR becomes LF, and an LF
        // right after it goes.
        while (in < end) {
            const auto* cr = static_cast<const char*>(std::memchr(in, '\r', std::size_t(end - in)));
            const char* const stop = cr ? cr : end;
            g_byte_array_append(bytes, reinterpret_cast<const guint8*>(in), guint(stop - in));
            if (!cr)
                break;
            g_byte_array_append(bytes, reinterpret_cast<const guint8*>("\n"), 1);
            in = cr + 1;
            if (in == end)
                afterCr = true;
            else if (*in == '\n')
                ++in;
        }
    }
    return bytes;
}

constexpr bool quotedPrintableSafe(uchar c)
{
    return c == '\t' || (c >= ' ' && c <= '~' && c != '=');
}

constexpr std::array<bool, 256> quotedPrintableSafeTable = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[std::size_t(c)] = quotedPrintableSafe(uchar(c));
    return table;
}();

// Bodies up to this size are encoded here, in memory; larger ones are left to
// GMime's filter, which encodes them piece by piece as they are written.
constexpr qsizetype encodeInMemoryLimit = qsizetype(1) << 20;

// A text part that writes CR LF line ends itself where GMime would pass every
// byte of its content through a newline filter: when the content is held in
// memory, already in its transfer encoding, not empty, and the file is written
// with CR LF. The bytes are those the filter writes; anything else is left to
// GMime.
struct LfTextPart {
    GMimeTextPart parent;
};

struct LfTextPartClass {
    GMimeTextPartClass parent_class;
};

G_DEFINE_TYPE(LfTextPart, lf_text_part, GMIME_TYPE_TEXT_PART)

// Writes bytes with every LF not after a CR written as CR LF, in blocks.
bool writeWithCrLf(GMimeStream* stream, const guint8* bytes, std::size_t size)
{
    char block[1 << 14];
    std::size_t used = 0;
    char previous = '\0';
    for (std::size_t at = 0; at < size;) {
        // Room for a byte and a line end's two whatever comes.
        if (sizeof block - used < 3) {
            if (g_mime_stream_write(stream, block, used) == -1)
                return false;
            used = 0;
        }
        const auto* lf = static_cast<const guint8*>(std::memchr(bytes + at, '\n', size - at));
        const std::size_t lineEnd = lf ? std::size_t(lf - bytes) : size;
        const std::size_t n = std::min(lineEnd - at, sizeof block - 2 - used);
        std::memcpy(block + used, bytes + at, n);
        used += n;
        at += n;
        if (n > 0)
            previous = char(bytes[at - 1]);
        if (at == lineEnd && lf) {
            if (previous != '\r')
                block[used++] = '\r';
            block[used++] = '\n';
            previous = '\n';
            ++at;
        }
    }
    return used == 0 || g_mime_stream_write(stream, block, used) != -1;
}

ssize_t lfTextPartWrite(GMimeObject* object, GMimeFormatOptions* options, gboolean contentOnly,
                        GMimeStream* stream)
{
    GMimePart* part = GMIME_PART(object);
    GMimeStream* content = part->content ? g_mime_data_wrapper_get_stream(part->content) : nullptr;
    const GByteArray* bytes = content && GMIME_IS_STREAM_MEM(content)
                                  ? g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(content))
                                  : nullptr;
    if (!bytes || bytes->len == 0 || !options ||
        g_mime_format_options_get_newline_format(options) != GMIME_NEWLINE_FORMAT_DOS ||
        part->encoding == GMIME_CONTENT_ENCODING_BINARY ||
        part->encoding != g_mime_data_wrapper_get_encoding(part->content)) {
        return GMIME_OBJECT_CLASS(lf_text_part_parent_class)
            ->write_to_stream(object, options, contentOnly, stream);
    }
    ssize_t total = 0;
    if (!contentOnly) {
        const ssize_t n = g_mime_header_list_write_to_stream(object->headers, options, stream);
        if (n == -1 || g_mime_stream_write(stream, "\r\n", 2) == -1)
            return -1;
        total += n + 2;
    }
    const std::size_t size = bytes->len;
    if (!writeWithCrLf(stream, bytes->data, size))
        return -1;
    total += ssize_t(size);
    // As the filter ends a part that must end with a line end.
    const char last = char(bytes->data[size - 1]);
    if (object->ensure_newline && last != '\n') {
        const char* end = last == '\r' ? "\n" : "\r\n";
        if (g_mime_stream_write_string(stream, end) == -1)
            return -1;
    }
    return total;
}

void lf_text_part_class_init(LfTextPartClass* klass)
{
    GMIME_OBJECT_CLASS(klass)->write_to_stream = lfTextPartWrite;
}

void lf_text_part_init(LfTextPart*)
{}

gmime::Ref<GMimeObject> textPart(const QString& body, const QByteArray& boundaryLine)
{
    // LF inside GMime; CR LF in the file.
    GByteArray* bytes = normalisedBody(body);
    const QByteArray view =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
    const GMimeContentEncoding encoding = bodyEncoding(view, boundaryLine);
    auto contentEncoding = encoding;
    if (encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE) {
        if (view.size() <= encodeInMemoryLimit) {
            const QByteArray encoded = quotedPrintable(view);
            g_byte_array_set_size(bytes, guint(encoded.size()));
            std::memcpy(bytes->data, encoded.constData(), std::size_t(encoded.size()));
        } else {
            contentEncoding = GMIME_CONTENT_ENCODING_DEFAULT; // encoded by GMime as it is written
        }
    }
    auto stream = gmime::take(g_mime_stream_mem_new_with_byte_array(bytes));
    auto part =
        gmime::take(static_cast<GMimeTextPart*>(g_object_new(lf_text_part_get_type(), nullptr)));
    auto type = gmime::take(g_mime_content_type_new("text", "plain"));
    g_mime_object_set_content_type(GMIME_OBJECT(part.get()), type.get());
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

QByteArray bodyBytes(const QString& body)
{
    GByteArray* bytes = normalisedBody(body);
    QByteArray out(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
    g_byte_array_free(bytes, TRUE);
    return out;
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
    const auto* in = reinterpret_cast<const uchar*>(body.data());
    const qsizetype size = body.size();
    for (qsizetype at = 0; at < size;) {
        // A run of characters written as they are, with a soft break after
        // every 75 of a line.
        // Blanks inside the run are written as they come: only one that ends
        // a line needs an escape, and the run's trailing blanks are left to
        // the steps below, which hold each back until what follows is known.
        qsizetype end = at;
        if (held == -1) {
            while (end < size && quotedPrintableSafeTable[in[end]])
                ++end;
            while (end > at && (in[end - 1] == ' ' || in[end - 1] == '\t'))
                --end;
        }
        if (end > at) {
            while (at < end) {
                if (column > 74) {
                    *o++ = '=';
                    *o++ = '\n';
                    column = 0;
                }
                const qsizetype n = std::min(end - at, 75 - column);
                std::memcpy(o, in + at, std::size_t(n));
                o += n;
                at += n;
                column += n;
            }
            continue;
        }
        const uchar c = in[at++];
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
