#include "notes/builder/JsonStream.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>

namespace tarvik::notes {

namespace {

constexpr qint64 chunkSize = 1 << 20;

bool isSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isScalarByte(int c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+' ||
           c == '-' || c == '.';
}

// Moves a position over bytes; columns count characters, not UTF-8 bytes.
void step(JsonStream::Position& p, char c)
{
    if (c == '\n') {
        ++p.line;
        p.column = 1;
    } else if ((static_cast<unsigned char>(c) & 0xc0) != 0x80) {
        ++p.column;
    }
}

} // namespace

bool JsonStream::fill()
{
    while (m_pos >= m_buffer.size()) {
        m_buffer = m_input.read(chunkSize);
        m_pos = 0;
        if (m_buffer.isEmpty())
            return false;
        // A byte order mark, as some editors write at the start of UTF-8 files, is
        // passed over.
        if (m_atStart && m_buffer.startsWith("\xEF\xBB\xBF"))
            m_pos = 3;
        m_atStart = false;
    }
    return true;
}

int JsonStream::peekByte()
{
    if (!fill())
        return -1;
    return static_cast<unsigned char>(m_buffer[m_pos]);
}

int JsonStream::peek()
{
    for (;;) {
        const int c = peekByte();
        if (!isSpace(c))
            return c;
        advance();
    }
}

void JsonStream::advance()
{
    if (!fill())
        return;
    Position p{m_line, m_column};
    step(p, m_buffer[m_pos++]);
    m_line = p.line;
    m_column = p.column;
}

void JsonStream::failAt(Position at, const QString& message)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("line %1, column %2: %3").arg(at.line).arg(at.column).arg(message);
}

// The bytes of one value, found by following strings and brackets. Whether the
// brackets match and the rest is well formed is left to the parser.
std::optional<QByteArray> JsonStream::scanValue()
{
    QByteArray out;
    const int first = peek();
    if (first < 0) {
        fail(QStringLiteral("unexpected end of the text"));
        return std::nullopt;
    }
    const bool container = first == '{' || first == '[';
    const bool string = first == '"';
    if (!container && !string && !isScalarByte(first)) {
        fail(QStringLiteral("illegal value"));
        return std::nullopt;
    }
    qint64 depth = 0;
    bool inString = false;
    bool escaped = false;
    bool started = false;
    Position p{m_line, m_column};
    for (;;) {
        if (!fill()) {
            m_line = p.line;
            m_column = p.column;
            if (container || inString) {
                fail(inString ? QStringLiteral("unterminated string")
                              : QStringLiteral("unterminated object or array"));
                return std::nullopt;
            }
            return out;
        }
        const char* data = m_buffer.constData();
        const qsizetype size = m_buffer.size();
        const qsizetype runStart = m_pos;
        bool done = false;
        while (m_pos < size && !done) {
            const char c = data[m_pos];
            if (!container && !string) {
                if (!isScalarByte(static_cast<unsigned char>(c))) {
                    done = true;
                    break;
                }
            } else if (inString) {
                if (static_cast<unsigned char>(c) < 0x20) {
                    // JSON has escapes for these; a raw one is no JSON text.
                    m_line = p.line;
                    m_column = p.column;
                    fail(QStringLiteral("control character in a string"));
                    return std::nullopt;
                }
                if (escaped)
                    escaped = false;
                else if (c == '\\')
                    escaped = true;
                else if (c == '"')
                    inString = false;
                done = string && !inString && started;
            } else if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                done = --depth == 0;
            }
            started = true;
            step(p, c);
            ++m_pos;
        }
        out.append(data + runStart, m_pos - runStart);
        if (done) {
            m_line = p.line;
            m_column = p.column;
            return out;
        }
    }
}

std::optional<QJsonValue> JsonStream::readValue()
{
    peek();
    const Position start = position();
    const auto text = scanValue();
    if (!text)
        return std::nullopt;
    // QJsonDocument reads objects and arrays; a lone value is read as [value].
    const bool container = text->startsWith('{') || text->startsWith('[');
    const int shift = container ? 0 : 1;
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(container ? *text : QByteArray('[' + *text + ']'), &error);
    if (error.error != QJsonParseError::NoError) {
        const qsizetype offset = std::clamp<qsizetype>(error.offset - shift, 0, text->size());
        Position at = start;
        for (qsizetype i = 0; i < offset; ++i)
            step(at, (*text)[i]);
        failAt(at, error.errorString());
        return std::nullopt;
    }
    if (doc.isObject())
        return QJsonValue(doc.object());
    if (container)
        return QJsonValue(doc.array());
    return doc.array().at(0);
}

} // namespace tarvik::notes
