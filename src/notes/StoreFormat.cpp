#include "notes/StoreFormat.h"

#include "notes/NotesObjects.h"

#include <cstring>

namespace tarvik::notes::store {

const char* const tablesSql = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY NOT NULL, value NOT NULL) WITHOUT ROWID;
CREATE TABLE views(
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    is_folder INTEGER NOT NULL,
    entry_count INTEGER NOT NULL);
CREATE TABLE view_entries(
    view_id INTEGER NOT NULL,
    position INTEGER NOT NULL,
    document_id INTEGER NOT NULL,
    PRIMARY KEY(view_id, position)) WITHOUT ROWID;
CREATE TABLE documents(
    id INTEGER PRIMARY KEY,
    size INTEGER NOT NULL,
    has_embedded INTEGER NOT NULL,
    first_item INTEGER NOT NULL,
    item_count INTEGER NOT NULL);
CREATE TABLE items(
    id INTEGER PRIMARY KEY,
    document_id INTEGER NOT NULL,
    seq INTEGER NOT NULL,
    name TEXT NOT NULL,
    folded_name TEXT NOT NULL,
    type INTEGER NOT NULL,
    unreadable INTEGER NOT NULL,
    value_count INTEGER NOT NULL,
    value_data BLOB NOT NULL);
CREATE TABLE embedded_objects(
    id INTEGER PRIMARY KEY,
    document_id INTEGER NOT NULL,
    item_seq INTEGER,
    seq INTEGER NOT NULL,
    name TEXT NOT NULL,
    type INTEGER NOT NULL,
    unreadable INTEGER NOT NULL,
    repeat_count INTEGER NOT NULL,
    content BLOB NOT NULL);
)sql";

const char* const indexesSql = R"sql(
CREATE INDEX views_by_name ON views(name, id);
CREATE INDEX objects_by_item ON embedded_objects(document_id, item_seq, seq);
)sql";

namespace {

constexpr qsizetype numberBytes = 8;
constexpr qsizetype dateTimeBytes = 12;
constexpr qint64 maxOffsetSeconds = 14 * 3600;

void appendLittleEndian(QByteArray& out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

quint64 readLittleEndian(const char* p, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= quint64(static_cast<unsigned char>(p[i])) << (8 * i);
    return value;
}

} // namespace

void ValuePacker::addText(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    quint64 n = quint64(utf8.size());
    do {
        const auto low = char(n & 0x7f);
        n >>= 7;
        m_data.append(n ? char(low | 0x80) : low);
    } while (n);
    m_data.append(utf8);
    ++m_count;
}

void ValuePacker::addNumber(double number)
{
    quint64 bits;
    std::memcpy(&bits, &number, sizeof bits);
    appendLittleEndian(m_data, bits, 8);
    ++m_count;
}

void ValuePacker::addDateTime(qint64 secondsSinceEpoch, qint32 offsetSeconds)
{
    appendLittleEndian(m_data, quint64(secondsSinceEpoch), 8);
    appendLittleEndian(m_data, quint32(offsetSeconds), 4);
    ++m_count;
}

bool isKnownItemType(int itemType)
{
    return itemType == itemtype::text || itemType == itemtype::names ||
           itemType == itemtype::richText || itemType == itemtype::number ||
           itemType == itemtype::dateTime;
}

std::optional<QList<NotesValue>> unpackValues(int itemType, qint64 count, QByteArrayView data)
{
    // Every value takes at least one byte, which bounds what a damaged count can ask for.
    if (count < 0 || count > data.size() + 1)
        return std::nullopt;
    QList<NotesValue> values;
    values.reserve(count);
    const char* p = data.constData();
    const qsizetype size = data.size();
    qsizetype pos = 0;
    if (itemType == itemtype::number) {
        if (size != count * numberBytes)
            return std::nullopt;
        for (qint64 i = 0; i < count; ++i, pos += numberBytes) {
            const quint64 bits = readLittleEndian(p + pos, 8);
            double d;
            std::memcpy(&d, &bits, sizeof d);
            values.append(NotesValue::fromNumber(d));
        }
        return values;
    }
    if (itemType == itemtype::dateTime) {
        if (size != count * dateTimeBytes)
            return std::nullopt;
        for (qint64 i = 0; i < count; ++i, pos += dateTimeBytes) {
            const auto secs = qint64(readLittleEndian(p + pos, 8));
            const auto offset = qint32(quint32(readLittleEndian(p + pos + 8, 4)));
            if (offset < -maxOffsetSeconds || offset > maxOffsetSeconds)
                return std::nullopt;
            if (secs < minDateTimeSeconds || secs > maxDateTimeSeconds)
                return std::nullopt;
            QDateTime dt = QDateTime::fromSecsSinceEpoch(secs, Qt::OffsetFromUTC, offset);
            if (!dt.isValid())
                return std::nullopt;
            values.append(NotesValue::fromDateTime(std::move(dt)));
        }
        return values;
    }
    if (!isKnownItemType(itemType))
        return std::nullopt;
    for (qint64 i = 0; i < count; ++i) {
        quint64 length = 0;
        int shift = 0;
        for (;;) {
            if (pos >= size || shift > 56)
                return std::nullopt;
            const auto byte = static_cast<unsigned char>(p[pos++]);
            length |= quint64(byte & 0x7f) << shift;
            shift += 7;
            if (!(byte & 0x80))
                break;
        }
        if (length > quint64(size - pos))
            return std::nullopt;
        values.append(NotesValue::fromText(QString::fromUtf8(p + pos, qsizetype(length))));
        pos += qsizetype(length);
    }
    if (pos != size)
        return std::nullopt;
    return values;
}

} // namespace tarvik::notes::store
