#include "notes/capi/MimeStream.h"

#include "base/OperationError.h"
#include "nsf/FormatError.h"
#include "nsf/MimePart.h"
#include "nsf/TextCodec.h"

#include <QHash>
#include <QRegularExpression>

#include <cctype>
#include <memory>
#include <string>
#include <string_view>

namespace tarvik::notes::capi {

namespace {

constexpr std::size_t chunkSize = 64 * 1024;
// A line longer than this (binary data without line breaks) comes in pieces; no boundary
// is ever that long.
constexpr std::size_t maxSegment = 64 * 1024;
constexpr std::size_t maxHeaderBytes = 1024 * 1024;
// The text kept of a text part; more is cut (a text part this large is data, not a mail).
constexpr std::size_t maxTextBytes = 64 * 1024 * 1024;
constexpr int maxDepth = 64;

std::string_view view(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

QString fromUtf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// A piece of a line: a whole line with its ending, or, for a line longer than maxSegment,
// one piece of it (only the first piece starts a line).
struct Segment {
    QByteArray bytes;  // without the line ending
    QByteArray ending; // "\r\n", "\n", or empty for a piece followed by more of its line
    bool startsLine = true;
};

class LineReader {
public:
    explicit LineReader(const ChunkReader& read) : m_read(read) {}

    bool next(Segment& out)
    {
        out.startsLine = m_atLineStart;
        out.bytes.clear();
        out.ending.clear();
        for (;;) {
            const qsizetype lf = m_buffer.indexOf('\n', m_pos);
            if (lf >= 0 && std::size_t(lf - m_pos) <= maxSegment) {
                qsizetype end = lf;
                if (end > m_pos && m_buffer[end - 1] == '\r')
                    --end;
                out.bytes = m_buffer.mid(m_pos, end - m_pos);
                out.ending = m_buffer.mid(end, lf + 1 - end);
                m_pos = lf + 1;
                m_atLineStart = true;
                compact();
                return true;
            }
            if (std::size_t(m_buffer.size() - m_pos) > maxSegment) {
                // Keep a carriage return that may belong to the line end that follows.
                qsizetype take = qsizetype(maxSegment);
                if (m_buffer[m_pos + take - 1] == '\r')
                    --take;
                out.bytes = m_buffer.mid(m_pos, take);
                m_pos += take;
                m_atLineStart = false;
                compact();
                return true;
            }
            if (m_eof) {
                if (m_pos >= m_buffer.size())
                    return false;
                out.bytes = m_buffer.mid(m_pos);
                m_pos = m_buffer.size();
                m_atLineStart = true;
                return true;
            }
            fill();
        }
    }

private:
    void fill()
    {
        compact();
        const qsizetype old = m_buffer.size();
        m_buffer.resize(old + qsizetype(chunkSize));
        const std::size_t n = m_read(m_buffer.data() + old, chunkSize);
        m_buffer.resize(old + qsizetype(std::min(n, chunkSize)));
        if (n == 0)
            m_eof = true;
    }
    void compact()
    {
        if (m_pos > qsizetype(chunkSize)) {
            m_buffer.remove(0, m_pos);
            m_pos = 0;
        }
    }

    const ChunkReader& m_read;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
    bool m_atLineStart = true;
};

// What the walk tells about each leaf part.
class PartVisitor {
public:
    virtual ~PartVisitor() = default;
    virtual void partStarted(int part, const QByteArray& headers) = 0;
    // One piece of the part's body; `before` is the line ending that precedes it inside the
    // body (empty for the first piece and for the rest of a long line).
    virtual void bodyPiece(const QByteArray& bytes, const QByteArray& before) = 0;
    virtual void partEnded() = 0;
    // True once nothing more is wanted from the message.
    virtual bool done() const { return false; }
};

class MimeWalker {
public:
    MimeWalker(const ChunkReader& read, PartVisitor& visitor) : m_lines(read), m_visitor(visitor) {}

    void walk()
    {
        Segment first;
        if (!m_lines.next(first))
            return;
        m_pending = first;
        m_hasPending = true;
        entity({}, 0);
    }

private:
    bool nextSegment(Segment& s)
    {
        if (m_hasPending) {
            s = m_pending;
            m_hasPending = false;
            return true;
        }
        return m_lines.next(s);
    }

    // Which of the boundaries the segment is a delimiter line of ("--b", or "--b--" when
    // closing), innermost first; -1 for none.
    static qsizetype delimiter(const Segment& s, const QList<QByteArray>& boundaries, bool* closing)
    {
        if (!s.startsLine || !s.bytes.startsWith("--"))
            return -1;
        QByteArray line = s.bytes;
        while (line.endsWith(' ') || line.endsWith('\t'))
            line.chop(1);
        for (qsizetype i = boundaries.size() - 1; i >= 0; --i) {
            const QByteArray open = "--" + boundaries[i];
            if (line == open || line == open + "--") {
                *closing = line.size() != open.size();
                return i;
            }
        }
        return -1;
    }

    // Reads the headers of an entity, up to and with its blank line.
    QByteArray headers()
    {
        QByteArray block;
        Segment s;
        while (nextSegment(s)) {
            if (s.startsLine && s.bytes.isEmpty() && !s.ending.isEmpty())
                return block;
            block += s.bytes + s.ending;
            if (std::size_t(block.size()) > maxHeaderBytes)
                throw OperationError(
                    QStringLiteral("The MIME message is damaged: a part's headers never end"));
        }
        return block; // the message ended inside the headers: a part without a body
    }

    // One entity whose headers begin at the next segment. Ends at a delimiter of one of
    // `boundaries` (left to be read again) or at the end of the message.
    void entity(QList<QByteArray> boundaries, int depth)
    {
        const QByteArray head = headers();
        const nsf::MimeHeaderValue type = nsf::parseMimeHeaderValue(
            nsf::mimeHeader(view(head), "Content-Type").value_or("text/plain"));
        const std::optional<std::string> boundary = type.parameter("boundary");
        if (type.value.rfind("multipart/", 0) == 0 && boundary && !boundary->empty() &&
            depth < maxDepth) {
            multipart(boundaries, QByteArray::fromStdString(*boundary), depth);
            return;
        }
        leaf(head, boundaries);
    }

    void multipart(QList<QByteArray> boundaries, const QByteArray& boundary, int depth)
    {
        boundaries.append(boundary);
        const qsizetype own = boundaries.size() - 1;
        Segment s;
        bool closing = false;
        bool inside = false;
        // The preamble, up to the first delimiter.
        while (nextSegment(s)) {
            const qsizetype which = delimiter(s, boundaries, &closing);
            if (which == own) {
                inside = !closing;
                break;
            }
            if (which >= 0) { // an outer one: this multipart ends before it began
                unread(s);
                return;
            }
        }
        while (inside && !m_visitor.done()) {
            entity(boundaries, depth + 1);
            if (!nextSegment(s))
                return;
            if (delimiter(s, boundaries, &closing) != own) {
                // An outer multipart's delimiter: this one was never closed.
                unread(s);
                return;
            }
            inside = !closing;
        }
        // The epilogue, up to an outer delimiter.
        boundaries.removeLast();
        while (nextSegment(s)) {
            if (delimiter(s, boundaries, &closing) >= 0) {
                unread(s);
                return;
            }
        }
    }

    void unread(const Segment& s)
    {
        m_pending = s;
        m_hasPending = true;
    }

    void leaf(const QByteArray& head, const QList<QByteArray>& boundaries)
    {
        m_visitor.partStarted(m_part++, head);
        Segment s;
        bool first = true;
        QByteArray before;
        bool closing = false;
        while (nextSegment(s)) {
            if (delimiter(s, boundaries, &closing) >= 0) {
                unread(s);
                break;
            }
            // The line ending before a delimiter belongs to the delimiter, so each ending
            // is given with the piece after it.
            m_visitor.bodyPiece(s.bytes, first ? QByteArray() : before);
            first = false;
            before = s.ending;
            if (m_visitor.done())
                break;
        }
        m_visitor.partEnded();
    }

    LineReader m_lines;
    PartVisitor& m_visitor;
    Segment m_pending;
    bool m_hasPending = false;
    int m_part = 0;
};

// Undoes a transfer encoding piece by piece.
class StreamDecoder {
public:
    explicit StreamDecoder(const QByteArray& encoding) : m_encoding(encoding.trimmed().toLower())
    {
        if (!m_encoding.isEmpty() && m_encoding != "7bit" && m_encoding != "8bit" &&
            m_encoding != "binary" && m_encoding != "base64" && m_encoding != "quoted-printable")
            throw OperationError(QStringLiteral("The transfer encoding \"%1\" is not known")
                                     .arg(QString::fromLatin1(m_encoding.left(40))));
    }

    void piece(const QByteArray& bytes, const QByteArray& before, const ByteSink& sink)
    {
        if (m_encoding == "base64") {
            base64(bytes, sink);
        } else if (m_encoding == "quoted-printable") {
            quotedPrintable(bytes, before, sink);
        } else {
            if (!before.isEmpty())
                sink(before.constData(), std::size_t(before.size()));
            if (!bytes.isEmpty())
                sink(bytes.constData(), std::size_t(bytes.size()));
        }
    }

private:
    void base64(const QByteArray& bytes, const ByteSink& sink)
    {
        QByteArray out;
        out.reserve(bytes.size() / 4 * 3 + 3);
        for (char c : bytes) {
            int v;
            if (c >= 'A' && c <= 'Z')
                v = c - 'A';
            else if (c >= 'a' && c <= 'z')
                v = c - 'a' + 26;
            else if (c >= '0' && c <= '9')
                v = c - '0' + 52;
            else if (c == '+')
                v = 62;
            else if (c == '/')
                v = 63;
            else if (c == '=') {
                m_acc = 0;
                m_bits = 0;
                continue;
            } else
                continue;
            m_acc = (m_acc << 6) | quint32(v);
            m_bits += 6;
            if (m_bits >= 8) {
                m_bits -= 8;
                out.append(char((m_acc >> m_bits) & 0xFF));
            }
        }
        if (!out.isEmpty())
            sink(out.constData(), std::size_t(out.size()));
    }

    void quotedPrintable(QByteArray bytes, const QByteArray& before, const ByteSink& sink)
    {
        QByteArray out;
        // A hard line break between two lines is one of the text; a soft one ("=" at the
        // end of the line) is none.
        if (!before.isEmpty() && !m_softBreak)
            out.append("\r\n");
        m_softBreak = false;
        while (bytes.endsWith(' ') || bytes.endsWith('\t'))
            bytes.chop(1);
        if (bytes.endsWith('=')) {
            bytes.chop(1);
            m_softBreak = true;
        }
        auto hex = [](char c) {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            return -1;
        };
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c == '=' && i + 2 < bytes.size() && hex(bytes[i + 1]) >= 0 &&
                hex(bytes[i + 2]) >= 0) {
                out.append(char(hex(bytes[i + 1]) * 16 + hex(bytes[i + 2])));
                i += 2;
            } else {
                out.append(c);
            }
        }
        if (!out.isEmpty())
            sink(out.constData(), std::size_t(out.size()));
    }

    QByteArray m_encoding;
    quint32 m_acc = 0;
    int m_bits = 0;
    bool m_softBreak = false;
};

struct PartFacts {
    QString type;        // lower case, "text/plain" when none is given
    QString disposition; // lower case
    QString fileName;
    bool isText() const { return type.startsWith(QLatin1String("text/")); }
};

QByteArray headerBytes(const QByteArray& head, std::string_view name)
{
    const std::optional<std::string> value = nsf::mimeHeader(view(head), name);
    return value ? QByteArray::fromStdString(*value) : QByteArray();
}

// A parameter, with RFC 2231's forms: name*=charset'language'percent-encoded, and names
// split into name*0, name*1, ... (each with or without its own star).
std::optional<QString> parameterValue(const nsf::MimeHeaderValue& header, const std::string& name)
{
    auto percentDecoded = [](const std::string& text) {
        QByteArray out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '%' && i + 2 < text.size() &&
                std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
                out.append(char(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
                i += 2;
            } else {
                out.append(text[i]);
            }
        }
        return out;
    };
    auto extended = [&](const std::string& value, std::string* charset) {
        const std::size_t first = value.find('\'');
        const std::size_t second = first == std::string::npos ? first : value.find('\'', first + 1);
        if (second == std::string::npos)
            return percentDecoded(value);
        *charset = value.substr(0, first);
        return percentDecoded(value.substr(second + 1));
    };
    auto toText = [](const QByteArray& bytes, const std::string& charset) {
        if (charset.empty())
            return QString::fromUtf8(bytes);
        try {
            return fromUtf8(nsf::charsetToUtf8(
                nsf::Bytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                           std::size_t(bytes.size())),
                charset));
        } catch (const nsf::FormatError&) {
            return QString::fromLatin1(bytes);
        }
    };

    std::string charset;
    if (const auto star = header.parameter(name + "*"))
        return toText(extended(*star, &charset), charset);
    if (const auto plain = header.parameter(name))
        return decodeEncodedWords(QByteArray::fromStdString(*plain));
    QByteArray joined;
    bool any = false;
    for (int i = 0; i < 100; ++i) {
        const std::string key = name + "*" + std::to_string(i);
        if (const auto star = header.parameter(key + "*")) {
            joined += i == 0 ? extended(*star, &charset) : percentDecoded(*star);
        } else if (const auto plain = header.parameter(key)) {
            joined += QByteArray::fromStdString(*plain);
        } else {
            break;
        }
        any = true;
    }
    if (!any)
        return std::nullopt;
    return toText(joined, charset);
}

PartFacts partFacts(const QByteArray& head)
{
    PartFacts facts;
    const nsf::MimeHeaderValue type = nsf::parseMimeHeaderValue(
        nsf::mimeHeader(view(head), "Content-Type").value_or("text/plain"));
    facts.type = QString::fromStdString(type.value);
    if (facts.type.isEmpty())
        facts.type = QStringLiteral("text/plain");
    const nsf::MimeHeaderValue disposition =
        nsf::parseMimeHeaderValue(nsf::mimeHeader(view(head), "Content-Disposition").value_or(""));
    facts.disposition = QString::fromStdString(disposition.value);
    std::optional<QString> name = parameterValue(disposition, "filename");
    if (!name || name->trimmed().isEmpty())
        name = parameterValue(type, "name");
    if (name)
        facts.fileName = name->trimmed();
    return facts;
}

// A name for a part that gives none: its number, and its subtype where that looks like
// a file extension ("part3.gif").
QString madeUpName(int part, const QString& type)
{
    if (type == QLatin1String("message/rfc822"))
        return QStringLiteral("message%1.eml").arg(part + 1);
    QString name = QStringLiteral("part%1").arg(part + 1);
    const QString subtype = type.section(QLatin1Char('/'), 1);
    static const QRegularExpression extension(QStringLiteral("^[a-z0-9]{1,5}$"));
    if (extension.match(subtype).hasMatch())
        name += QLatin1Char('.') + subtype;
    return name;
}

class ContentCollector : public PartVisitor {
public:
    void partStarted(int part, const QByteArray& headers) override
    {
        m_part = part;
        m_headers = headers;
        m_facts = partFacts(headers);
        m_body.clear();
        // A text part without a file name that is not marked as an attachment is the
        // message's text or one of its alternatives.
        m_textCandidate = m_facts.isText() && m_facts.fileName.isEmpty() &&
                          m_facts.disposition != QLatin1String("attachment") &&
                          ((m_facts.type == QLatin1String("text/plain") && !m_plain) ||
                           (m_facts.type == QLatin1String("text/html") && !m_html));
    }

    void bodyPiece(const QByteArray& bytes, const QByteArray& before) override
    {
        if (!m_textCandidate)
            return;
        if (std::size_t(m_body.size() + before.size() + bytes.size()) > maxTextBytes) {
            m_cut = true;
            return;
        }
        m_body += before;
        m_body += bytes;
    }

    void partEnded() override
    {
        const bool alternativeText = m_facts.isText() && m_facts.fileName.isEmpty() &&
                                     m_facts.disposition != QLatin1String("attachment");
        if (m_textCandidate) {
            Text text;
            try {
                const std::optional<std::string> decoded =
                    nsf::mimeText(view(m_headers), view(m_body));
                text.text = decoded ? fromUtf8(*decoded) : QString();
            } catch (const nsf::FormatError& e) {
                text.failure = QString::fromStdString(e.detail());
            }
            if (m_cut)
                text.failure = QStringLiteral("its text is longer than %1 MiB")
                                   .arg(maxTextBytes / (1024 * 1024));
            if (m_facts.type == QLatin1String("text/plain"))
                m_plain = text;
            else
                m_html = text;
        }
        if (!alternativeText) {
            MimeAttachment a;
            a.part = m_part;
            a.type = m_facts.type;
            a.name =
                m_facts.fileName.isEmpty() ? madeUpName(m_part, m_facts.type) : m_facts.fileName;
            content.attachments.append(a);
        }
        m_cut = false;
    }

    void finish()
    {
        if (m_plain) {
            content.text = m_plain->text;
            content.textFailure = m_plain->failure;
        } else if (m_html) {
            content.text = htmlToText(m_html->text);
            content.textFailure = m_html->failure;
        }
        if (!content.textFailure.isEmpty())
            content.text.reset();
    }

    MimeContent content;

private:
    struct Text {
        QString text;
        QString failure;
    };
    int m_part = 0;
    QByteArray m_headers;
    PartFacts m_facts;
    QByteArray m_body;
    bool m_textCandidate = false;
    bool m_cut = false;
    std::optional<Text> m_plain;
    std::optional<Text> m_html;
};

class PartExtractor : public PartVisitor {
public:
    PartExtractor(int wanted, const ByteSink& sink) : m_wanted(wanted), m_sink(sink) {}

    void partStarted(int part, const QByteArray& headers) override
    {
        m_inside = part == m_wanted;
        if (m_inside) {
            m_found = true;
            m_decoder =
                std::make_unique<StreamDecoder>(headerBytes(headers, "Content-Transfer-Encoding"));
        }
    }
    void bodyPiece(const QByteArray& bytes, const QByteArray& before) override
    {
        if (m_inside)
            m_decoder->piece(bytes, before, m_sink);
    }
    void partEnded() override
    {
        if (m_inside)
            m_finished = true;
        m_inside = false;
    }
    bool done() const override { return m_finished; }
    bool found() const { return m_found; }

private:
    int m_wanted;
    const ByteSink& m_sink;
    std::unique_ptr<StreamDecoder> m_decoder;
    bool m_inside = false;
    bool m_found = false;
    bool m_finished = false;
};

} // namespace

MimeContent readMimeContent(const ChunkReader& read)
{
    ContentCollector collector;
    MimeWalker(read, collector).walk();
    collector.finish();
    return collector.content;
}

void extractMimePart(const ChunkReader& read, int part, const ByteSink& sink)
{
    PartExtractor extractor(part, sink);
    MimeWalker(read, extractor).walk();
    if (!extractor.found())
        throw OperationError(QStringLiteral("The MIME message has no part %1").arg(part + 1));
}

QString decodeEncodedWords(const QByteArray& value)
{
    static const QRegularExpression word(QStringLiteral("=\\?([^?]+)\\?([bBqQ])\\?([^?]*)\\?="));
    const QString text = QString::fromLatin1(value);
    QString out;
    qsizetype pos = 0;
    qsizetype lastWordEnd = -1;
    QRegularExpressionMatchIterator it = word.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString between = text.mid(pos, m.capturedStart() - pos);
        // White space between two encoded words is not part of the text.
        if (!(lastWordEnd == pos && between.trimmed().isEmpty()))
            out += between;
        QByteArray charset = m.captured(1).toLatin1();
        charset = charset.left(charset.indexOf('*') >= 0 ? charset.indexOf('*') : charset.size());
        QByteArray payload = m.captured(3).toLatin1();
        QByteArray bytes;
        if (m.captured(2).compare(QLatin1String("b"), Qt::CaseInsensitive) == 0) {
            bytes = QByteArray::fromBase64(payload);
        } else {
            payload.replace('_', ' ');
            const std::string decoded =
                nsf::decodeTransferEncoding(view(payload), "quoted-printable");
            bytes = QByteArray::fromStdString(decoded);
        }
        try {
            out += fromUtf8(nsf::charsetToUtf8(
                nsf::Bytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                           std::size_t(bytes.size())),
                charset.toStdString()));
        } catch (const nsf::FormatError&) {
            out += m.captured(0);
        }
        pos = m.capturedEnd();
        lastWordEnd = pos;
    }
    out += text.mid(pos);
    return out;
}

QString htmlToText(const QString& html)
{
    QString s = html;
    static const QRegularExpression hidden(
        QStringLiteral("<(script|style|head)\\b[^>]*>.*?</\\1\\s*>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression comment(QStringLiteral("<!--.*?-->"),
                                            QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression breaks(
        QStringLiteral("<(br|/p|/div|/tr|/h[1-6]|/li|/table|/"
                       "blockquote)\\b[^>]*>|<(p|div|li|tr|h[1-6])\\b[^>]*>"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression cells(QStringLiteral("</t[dh]\\s*>"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    static const QRegularExpression blanks(QStringLiteral("[ \\t\\r\\n\\f]+"));
    s.remove(comment);
    s.remove(hidden);
    // Line breaks of the source are blanks in HTML.
    s.replace(blanks, QStringLiteral(" "));
    s.replace(breaks, QStringLiteral("\n"));
    s.replace(cells, QStringLiteral("\t"));
    s.remove(tags);

    static const QRegularExpression entity(
        QStringLiteral("&(#[0-9]+|#[xX][0-9a-fA-F]+|[a-zA-Z]+);"));
    QString out;
    qsizetype pos = 0;
    QRegularExpressionMatchIterator it = entity.globalMatch(s);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += s.mid(pos, m.capturedStart() - pos);
        const QString name = m.captured(1);
        QString replacement = m.captured(0);
        if (name.startsWith(QLatin1Char('#'))) {
            bool ok = false;
            const uint code = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive)
                                  ? name.mid(2).toUInt(&ok, 16)
                                  : name.mid(1).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF)) {
                const char32_t c = char32_t(code);
                replacement = QString::fromUcs4(&c, 1);
            }
        } else {
            static const QHash<QString, QString> named = {
                {QStringLiteral("amp"), QStringLiteral("&")},
                {QStringLiteral("lt"), QStringLiteral("<")},
                {QStringLiteral("gt"), QStringLiteral(">")},
                {QStringLiteral("quot"), QStringLiteral("\"")},
                {QStringLiteral("apos"), QStringLiteral("'")},
                {QStringLiteral("nbsp"), QString(QChar(0xA0))},
            };
            replacement = named.value(name.toLower(), replacement);
        }
        out += replacement;
        pos = m.capturedEnd();
    }
    out += s.mid(pos);
    // Blanks at the ends of lines are the source's layout, not text.
    QStringList lines = out.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = line.trimmed();
    return lines.join(QLatin1Char('\n')).trimmed();
}

} // namespace tarvik::notes::capi
