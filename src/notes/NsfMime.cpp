#include "notes/NsfMime.h"

#include "nsf/FormatError.h"
#include "nsf/TextCodec.h"

#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <map>
#include <optional>

namespace tarvik::notes {

namespace {

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = c >= 'A' && c <= 'Z' ? char(c + 32) : c;
    return out;
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

nsf::Bytes bytesOf(std::string_view text)
{
    return nsf::Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Bytes in a named character set as text; bytes of a set that is not known are read as
// Windows-1252, so that a name is never lost to its label.
QString fromCharset(std::string_view bytes, std::string_view charset)
{
    std::string name = lower(trim(charset));
    if (const std::size_t star = name.find('*'); star != std::string::npos)
        name.resize(star); // RFC 2231 language suffix
    if (name.empty() || name == "us-ascii" || name == "ascii")
        name = "windows-1252";
    try {
        return QString::fromStdString(nsf::charsetToUtf8(bytesOf(bytes), name));
    } catch (const nsf::FormatError&) {
        return QString::fromStdString(nsf::charsetToUtf8(bytesOf(bytes), "windows-1252"));
    }
}

// UTF-8 where the bytes are UTF-8, else Windows-1252.
QString fromHeaderBytes(std::string_view bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (!utf8.hasError())
        return text;
    return fromCharset(bytes, "windows-1252");
}

std::string percentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = hex(text[i + 1]), lo = hex(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(char(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

// One encoded word's text, or nothing when it is not one that can be decoded.
std::optional<QString> encodedWord(std::string_view charset, char encoding, std::string_view data)
{
    try {
        std::string bytes;
        if (encoding == 'b' || encoding == 'B') {
            bytes = nsf::decodeTransferEncoding(data, "base64");
        } else if (encoding == 'q' || encoding == 'Q') {
            std::string q(data);
            std::replace(q.begin(), q.end(), '_', ' ');
            bytes = nsf::decodeTransferEncoding(q, "quoted-printable");
        } else {
            return std::nullopt;
        }
        return fromCharset(bytes, charset);
    } catch (const nsf::FormatError&) {
        return std::nullopt;
    }
}

// What a file of a type is called when its message gives it no name.
QString madeName(const std::string& contentType, int number)
{
    static const std::map<std::string, const char*> extensions = {
        {"image/gif", "gif"},       {"image/jpeg", "jpg"},        {"image/jpg", "jpg"},
        {"image/pjpeg", "jpg"},     {"image/png", "png"},         {"image/bmp", "bmp"},
        {"image/tiff", "tif"},      {"image/svg+xml", "svg"},     {"application/pdf", "pdf"},
        {"application/zip", "zip"}, {"message/rfc822", "eml"},    {"text/plain", "txt"},
        {"text/html", "html"},      {"text/calendar", "ics"},     {"text/rtf", "rtf"},
        {"application/rtf", "rtf"}, {"text/enriched", "txt"},     {"text/xml", "xml"},
        {"application/xml", "xml"}, {"application/msword", "doc"}};
    const std::size_t slash = contentType.find('/');
    const std::string main = contentType.substr(0, slash);
    const char* stem = main == "image" ? "image" : main == "message" ? "message" : "attachment";
    const auto it = extensions.find(contentType);
    const char* extension = it != extensions.end() ? it->second : "bin";
    return QStringLiteral("%1%2.%3")
        .arg(QLatin1String(stem))
        .arg(number)
        .arg(QLatin1String(extension));
}

struct Node {
    bool multipart = false;
    std::string subtype;  // of a multipart: "mixed", "alternative", ...
    std::string boundary; // of a multipart
    std::vector<std::size_t> children;
    std::size_t leaf = 0; // of a body part: its index in MimeMessage::leaves
};

// The boundary a part's boundary line names ("--b\r\n" or "--b--\r\n" gives "b"), and whether
// the line closes its multipart.
std::string boundaryOf(std::string_view line, bool* closing)
{
    line = trim(line);
    if (line.size() >= 2 && line.substr(0, 2) == "--")
        line.remove_prefix(2);
    *closing = false;
    if (line.size() >= 2 && line.substr(line.size() - 2) == "--") {
        line.remove_suffix(2);
        *closing = true;
    }
    return std::string(line);
}

bool isShownAsText(const std::string& contentType)
{
    return contentType == "text/plain" || contentType == "text/html";
}

void collectText(const std::vector<Node>& nodes, std::size_t at, const MimeMessage& message,
                 std::vector<std::size_t>& out)
{
    const Node& node = nodes[at];
    if (!node.multipart) {
        if (!message.leaves[node.leaf].isFile)
            out.push_back(node.leaf);
        return;
    }
    if (node.subtype != "alternative") {
        for (std::size_t child : node.children)
            collectText(nodes, child, message, out);
        return;
    }
    // One of the alternatives: the first with plain text, else the first with any text.
    std::optional<std::vector<std::size_t>> anyText;
    for (std::size_t child : node.children) {
        std::vector<std::size_t> texts;
        collectText(nodes, child, message, texts);
        if (texts.empty())
            continue;
        const bool plain = std::any_of(texts.begin(), texts.end(), [&](std::size_t leaf) {
            return message.leaves[leaf].contentType == "text/plain";
        });
        if (plain) {
            out.insert(out.end(), texts.begin(), texts.end());
            return;
        }
        if (!anyText)
            anyText = std::move(texts);
    }
    if (anyText)
        out.insert(out.end(), anyText->begin(), anyText->end());
}

} // namespace

MimeMessage analyseMime(const std::vector<nsf::MimePart>& parts)
{
    MimeMessage message;
    std::vector<Node> nodes;
    std::vector<std::size_t> roots;
    std::vector<std::size_t> open; // multiparts whose closing boundary has not come yet
    int madeNames = 0;

    for (std::size_t i = 0; i < parts.size(); ++i) {
        const nsf::MimePart& part = parts[i];
        bool closing = false;
        const std::string boundary = boundaryOf(part.boundary, &closing);
        std::optional<std::size_t> parent;
        if (!boundary.empty()) {
            const auto it = std::find_if(open.rbegin(), open.rend(), [&](std::size_t n) {
                return nodes[n].boundary == boundary;
            });
            if (it != open.rend()) {
                parent = *it;
                open.erase(it.base(), open.end()); // multiparts left open inside it end here
            }
        } else if (!open.empty()) {
            parent = open.back();
        }
        if (closing || part.partType == nsf::MimePart::kEpilogue) {
            if (parent && !open.empty() && open.back() == *parent)
                open.pop_back();
            continue;
        }

        const nsf::MimeHeaderValue type = nsf::parseMimeHeaderValue(
            nsf::mimeHeader(part.headers, "Content-Type").value_or("text/plain"));
        const std::string contentType = type.value.empty() ? "text/plain" : type.value;
        Node node;
        if (contentType.rfind("multipart/", 0) == 0) {
            node.multipart = true;
            node.subtype = contentType.substr(10);
            node.boundary = type.parameter("boundary").value_or("");
        } else {
            MimeLeaf leaf;
            leaf.part = i;
            leaf.contentType = contentType;
            const std::string disposition =
                nsf::mimeHeader(part.headers, "Content-Disposition").value_or("");
            const std::string dispositionType = nsf::parseMimeHeaderValue(disposition).value;
            leaf.fileName = mimeParameter(disposition, "filename");
            if (leaf.fileName.isEmpty())
                leaf.fileName = mimeParameter(
                    nsf::mimeHeader(part.headers, "Content-Type").value_or(""), "name");
            leaf.namedByMessage = !leaf.fileName.isEmpty();
            leaf.isFile = dispositionType == "attachment" || !isShownAsText(contentType) ||
                          (dispositionType.empty() && !leaf.fileName.isEmpty());
            if (leaf.isFile && leaf.fileName.isEmpty())
                leaf.fileName = madeName(contentType, ++madeNames);
            node.leaf = message.leaves.size();
            message.leaves.push_back(std::move(leaf));
        }
        const std::size_t index = nodes.size();
        const bool multipart = node.multipart;
        nodes.push_back(std::move(node));
        (parent ? nodes[*parent].children : roots).push_back(index);
        if (multipart)
            open.push_back(index);
    }
    for (std::size_t root : roots)
        collectText(nodes, root, message, message.textLeaves);
    return message;
}

QString mimeParameter(std::string_view headerValue, std::string_view name)
{
    const nsf::MimeHeaderValue value = nsf::parseMimeHeaderValue(headerValue);
    const std::string wanted = lower(name);
    std::optional<std::string> plain;
    std::optional<std::string> extended;
    std::map<int, std::pair<std::string, bool>> sections; // number -> (text, encoded)
    for (const auto& [key, text] : value.parameters) {
        if (key == wanted) {
            plain = text;
        } else if (key == wanted + "*") {
            extended = text;
        } else if (key.size() > wanted.size() + 1 && key.compare(0, wanted.size(), wanted) == 0 &&
                   key[wanted.size()] == '*') {
            std::string_view rest = std::string_view(key).substr(wanted.size() + 1);
            const bool encoded = !rest.empty() && rest.back() == '*';
            if (encoded)
                rest.remove_suffix(1);
            if (rest.empty() || rest.size() > 3 ||
                !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
                continue;
            sections.emplace(std::stoi(std::string(rest)), std::make_pair(text, encoded));
        }
    }
    // charset'language'%XX...: the charset and the decoded bytes.
    const auto withCharset = [](std::string_view text, std::string* charset) {
        const std::size_t first = text.find('\'');
        const std::size_t second =
            first == std::string_view::npos ? first : text.find('\'', first + 1);
        if (second == std::string_view::npos)
            return percentDecoded(text);
        *charset = std::string(text.substr(0, first));
        return percentDecoded(text.substr(second + 1));
    };
    if (extended) {
        std::string charset;
        const std::string bytes = withCharset(*extended, &charset);
        return charset.empty() ? fromHeaderBytes(bytes) : fromCharset(bytes, charset);
    }
    if (!sections.empty()) {
        std::string charset;
        std::string bytes;
        for (const auto& [number, section] : sections) {
            if (!section.second)
                bytes += section.first;
            else if (number == sections.begin()->first)
                bytes += withCharset(section.first, &charset);
            else
                bytes += percentDecoded(section.first);
        }
        return charset.empty() ? fromHeaderBytes(bytes) : fromCharset(bytes, charset);
    }
    if (plain)
        return decodeEncodedWords(*plain);
    return {};
}

QString decodeEncodedWords(std::string_view text)
{
    QString out;
    std::size_t pos = 0;
    std::size_t plainFrom = 0;
    bool lastWasWord = false;
    while (pos < text.size()) {
        const std::size_t start = text.find("=?", pos);
        if (start == std::string_view::npos)
            break;
        // =?charset?X?data?=
        const std::size_t q1 = text.find('?', start + 2);
        const std::size_t q2 = q1 == std::string_view::npos ? q1 : text.find('?', q1 + 1);
        const std::size_t end = q2 == std::string_view::npos ? q2 : text.find("?=", q2 + 1);
        if (end == std::string_view::npos || q2 != q1 + 2) {
            pos = start + 2;
            continue;
        }
        const std::optional<QString> word =
            encodedWord(text.substr(start + 2, q1 - start - 2), text[q1 + 1],
                        text.substr(q2 + 1, end - q2 - 1));
        if (!word) {
            pos = start + 2;
            continue;
        }
        const std::string_view between = text.substr(plainFrom, start - plainFrom);
        // White space between two encoded words is not part of the text.
        if (!(lastWasWord && trim(between).empty()))
            out += fromHeaderBytes(between);
        out += *word;
        pos = plainFrom = end + 2;
        lastWasWord = true;
    }
    out += fromHeaderBytes(text.substr(plainFrom));
    return out;
}

namespace {

const QHash<QString, char32_t>& namedEntities()
{
    static const QHash<QString, char32_t> table = {
        {QStringLiteral("amp"), U'&'},         {QStringLiteral("lt"), U'<'},
        {QStringLiteral("gt"), U'>'},          {QStringLiteral("quot"), U'"'},
        {QStringLiteral("apos"), U'\''},       {QStringLiteral("nbsp"), U' '},
        {QStringLiteral("copy"), U'\u00A9'},   {QStringLiteral("reg"), U'\u00AE'},
        {QStringLiteral("trade"), U'\u2122'},  {QStringLiteral("hellip"), U'\u2026'},
        {QStringLiteral("mdash"), U'\u2014'},  {QStringLiteral("ndash"), U'\u2013'},
        {QStringLiteral("lsquo"), U'\u2018'},  {QStringLiteral("rsquo"), U'\u2019'},
        {QStringLiteral("ldquo"), U'\u201C'},  {QStringLiteral("rdquo"), U'\u201D'},
        {QStringLiteral("bull"), U'\u2022'},   {QStringLiteral("middot"), U'\u00B7'},
        {QStringLiteral("euro"), U'\u20AC'},   {QStringLiteral("pound"), U'\u00A3'},
        {QStringLiteral("yen"), U'\u00A5'},    {QStringLiteral("cent"), U'\u00A2'},
        {QStringLiteral("sect"), U'\u00A7'},   {QStringLiteral("deg"), U'\u00B0'},
        {QStringLiteral("plusmn"), U'\u00B1'}, {QStringLiteral("times"), U'\u00D7'},
        {QStringLiteral("divide"), U'\u00F7'}, {QStringLiteral("laquo"), U'\u00AB'},
        {QStringLiteral("raquo"), U'\u00BB'},  {QStringLiteral("iexcl"), U'\u00A1'},
        {QStringLiteral("iquest"), U'\u00BF'}, {QStringLiteral("szlig"), U'\u00DF'},
        {QStringLiteral("auml"), U'\u00E4'},   {QStringLiteral("ouml"), U'\u00F6'},
        {QStringLiteral("uuml"), U'\u00FC'},   {QStringLiteral("Auml"), U'\u00C4'},
        {QStringLiteral("Ouml"), U'\u00D6'},   {QStringLiteral("Uuml"), U'\u00DC'},
        {QStringLiteral("eacute"), U'\u00E9'}, {QStringLiteral("egrave"), U'\u00E8'},
        {QStringLiteral("ecirc"), U'\u00EA'},  {QStringLiteral("aacute"), U'\u00E1'},
        {QStringLiteral("agrave"), U'\u00E0'}, {QStringLiteral("acirc"), U'\u00E2'},
        {QStringLiteral("ccedil"), U'\u00E7'}, {QStringLiteral("ntilde"), U'\u00F1'},
        {QStringLiteral("oslash"), U'\u00F8'}, {QStringLiteral("aring"), U'\u00E5'},
        {QStringLiteral("aelig"), U'\u00E6'},  {QStringLiteral("Eacute"), U'\u00C9'},
        {QStringLiteral("iacute"), U'\u00ED'}, {QStringLiteral("oacute"), U'\u00F3'},
        {QStringLiteral("uacute"), U'\u00FA'}, {QStringLiteral("shy"), U'\u00AD'},
    };
    return table;
}

// Blocks that start on a line of their own, and those set off by an empty line.
bool isBlock(const QString& tag)
{
    static const QStringList blocks = {
        QStringLiteral("div"),     QStringLiteral("tr"),      QStringLiteral("li"),
        QStringLiteral("ul"),      QStringLiteral("ol"),      QStringLiteral("table"),
        QStringLiteral("pre"),     QStringLiteral("hr"),      QStringLiteral("dl"),
        QStringLiteral("dt"),      QStringLiteral("dd"),      QStringLiteral("address"),
        QStringLiteral("center"),  QStringLiteral("form"),    QStringLiteral("section"),
        QStringLiteral("article"), QStringLiteral("header"),  QStringLiteral("footer"),
        QStringLiteral("nav"),     QStringLiteral("caption"), QStringLiteral("tbody"),
        QStringLiteral("thead"),   QStringLiteral("tfoot"),   QStringLiteral("body"),
        QStringLiteral("html")};
    return blocks.contains(tag);
}

bool isParagraph(const QString& tag)
{
    static const QStringList paragraphs = {QStringLiteral("p"),  QStringLiteral("h1"),
                                           QStringLiteral("h2"), QStringLiteral("h3"),
                                           QStringLiteral("h4"), QStringLiteral("h5"),
                                           QStringLiteral("h6"), QStringLiteral("blockquote")};
    return paragraphs.contains(tag);
}

class HtmlText {
public:
    explicit HtmlText(QStringView html) : m_html(html) {}

    QString run()
    {
        while (m_pos < m_html.size()) {
            const QChar c = m_html[m_pos];
            if (c == u'<')
                tag();
            else if (c == u'&')
                entity();
            else
                character(c), ++m_pos;
        }
        // No empty lines at either end, at most one in a row, no blanks before a line break.
        QStringList lines = m_out.split(QLatin1Char('\n'));
        QStringList kept;
        int empty = 0;
        for (QString& line : lines) {
            while (line.endsWith(QLatin1Char(' ')) || line.endsWith(QLatin1Char('\t')))
                line.chop(1);
            if (line.isEmpty()) {
                if (++empty > 1 || kept.isEmpty())
                    continue;
            } else {
                empty = 0;
            }
            kept.append(line);
        }
        while (!kept.isEmpty() && kept.last().isEmpty())
            kept.removeLast();
        return kept.join(QLatin1Char('\n'));
    }

private:
    void append(QChar c)
    {
        if (m_space && !m_out.isEmpty() && !m_out.endsWith(QLatin1Char('\n')) &&
            !m_out.endsWith(QLatin1Char(' ')) && !m_out.endsWith(QLatin1Char('\t')))
            m_out += QLatin1Char(' ');
        m_space = false;
        m_out += c;
    }

    void character(QChar c)
    {
        if (m_pre > 0) {
            if (c == u'\r')
                return;
            m_out += c;
            return;
        }
        if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f')
            m_space = true;
        else
            append(c);
    }

    void lineBreak(int lines = 1)
    {
        m_space = false;
        if (m_out.isEmpty())
            return;
        int have = 0;
        for (qsizetype i = m_out.size() - 1; i >= 0 && m_out[i] == u'\n'; --i)
            ++have;
        for (; have < lines; ++have)
            m_out += QLatin1Char('\n');
    }

    // Skips to the end of an element whose content is not shown.
    void skipTo(const QString& closingTag)
    {
        const qsizetype end = m_html.indexOf(closingTag, m_pos, Qt::CaseInsensitive);
        if (end < 0) {
            m_pos = m_html.size();
            return;
        }
        const qsizetype close = m_html.indexOf(u'>', end);
        m_pos = close < 0 ? m_html.size() : close + 1;
    }

    void tag()
    {
        if (m_html.mid(m_pos, 4) == u"<!--") {
            const qsizetype end = m_html.indexOf(u"-->", m_pos + 4);
            m_pos = end < 0 ? m_html.size() : end + 3;
            return;
        }
        // The tag ends at the first '>' outside quotes.
        qsizetype end = m_pos + 1;
        QChar quote;
        for (; end < m_html.size(); ++end) {
            const QChar c = m_html[end];
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
            } else if (c == u'"' || c == u'\'') {
                quote = c;
            } else if (c == u'>') {
                break;
            }
        }
        const QStringView inside = m_html.mid(m_pos + 1, end - m_pos - 1);
        m_pos = end < m_html.size() ? end + 1 : end;
        qsizetype at = 0;
        const bool closing = inside.startsWith(u'/');
        if (closing)
            ++at;
        qsizetype nameEnd = at;
        while (nameEnd < inside.size() && (inside[nameEnd].isLetterOrNumber()))
            ++nameEnd;
        const QString name = inside.mid(at, nameEnd - at).toString().toLower();
        if (name.isEmpty()) {
            // Not a tag after all ("a < b"): the text stands.
            if (!inside.isEmpty() && !inside.startsWith(u'!') && !inside.startsWith(u'?')) {
                append(QLatin1Char('<'));
                for (QChar c : inside)
                    character(c);
                if (end < m_html.size())
                    append(QLatin1Char('>'));
            }
            return;
        }
        if (!closing &&
            (name == u"script" || name == u"style" || name == u"head" || name == u"title")) {
            skipTo(QStringLiteral("</") + name);
            return;
        }
        if (name == u"br") {
            m_space = false;
            m_out += QLatin1Char('\n');
        } else if (name == u"td" || name == u"th") {
            if (!closing && m_cells++ > 0) {
                m_space = false;
                m_out += QLatin1Char('\t');
            }
        } else if (isParagraph(name)) {
            lineBreak(2);
        } else if (isBlock(name)) {
            lineBreak(1);
            if (name == u"tr")
                m_cells = 0;
            if (name == u"pre")
                m_pre = std::max(0, m_pre + (closing ? -1 : 1));
        }
    }

    void entity()
    {
        // &name; &#NNN; &#xHH; up to 32 characters; anything else is a plain '&'.
        const qsizetype semicolon = m_html.indexOf(u';', m_pos + 1);
        if (semicolon < 0 || semicolon - m_pos > 32) {
            append(QLatin1Char('&'));
            ++m_pos;
            return;
        }
        const QStringView body = m_html.mid(m_pos + 1, semicolon - m_pos - 1);
        char32_t code = 0;
        bool known = false;
        if (body.startsWith(u'#')) {
            const bool hex = body.size() > 1 && (body[1] == u'x' || body[1] == u'X');
            bool ok = false;
            const uint value = body.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
            known = ok;
            code = ok && value > 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)
                       ? char32_t(value)
                       : U'\uFFFD';
        } else {
            const auto it = namedEntities().constFind(body.toString());
            if (it != namedEntities().cend()) {
                known = true;
                code = *it;
            }
        }
        if (!known) {
            append(QLatin1Char('&'));
            ++m_pos;
            return;
        }
        m_pos = semicolon + 1;
        const QString text = QString::fromUcs4(&code, 1);
        for (QChar c : text) {
            if (c == u' ' && m_pre == 0) {
                // A non-breaking space is kept, not collapsed.
                append(QLatin1Char(' '));
                continue;
            }
            append(c);
        }
    }

    QStringView m_html;
    qsizetype m_pos = 0;
    QString m_out;
    bool m_space = false;
    int m_pre = 0;
    int m_cells = 0;
};

} // namespace

QString htmlToText(QStringView html)
{
    return HtmlText(html).run();
}

} // namespace tarvik::notes
