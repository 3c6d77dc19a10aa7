#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace tarvik::notes {

// Reads a JSON text from a device one value at a time, so that the store builder
// holds one document of a description in memory, never the whole description. It
// only finds where each value begins and ends (and keeps line and column for
// messages); the values themselves are checked and parsed by Qt's JSON parser.
class JsonStream {
public:
    struct Position {
        qint64 line = 1;
        qint64 column = 1;
    };

    explicit JsonStream(QIODevice& input) : m_input(input) {}

    // Skips white space; the next byte, or -1 at the end of the input.
    int peek();
    // Consumes the byte that peek() gave.
    void advance();
    // The place of the next unread byte.
    Position position() const { return {m_line, m_column}; }

    // Reads and parses one complete value (object, array, string, number, literal).
    // Nothing when the text is malformed; error() then says what and where.
    std::optional<QJsonValue> readValue();

    // Records a syntax error (the first one counts) at the current or a given place.
    void fail(const QString& message) { failAt(position(), message); }
    void failAt(Position at, const QString& message);
    const QString& error() const { return m_error; }

private:
    int peekByte();
    bool fill();
    std::optional<QByteArray> scanValue();

    QIODevice& m_input;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_atStart = true;
    qint64 m_line = 1;
    qint64 m_column = 1;
    QString m_error;
};

} // namespace tarvik::notes
