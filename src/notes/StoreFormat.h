#pragma once

#include "notes/NotesValue.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// The layout of a local store file, shared by the store builder that writes it and
// the back-end that reads it (docs/local-store.md describes it).
namespace tarvik::notes::store {

inline constexpr int schemaVersion = 1;
inline constexpr char formatMarker[] = "tarvik-mail-store";

// The tables, created before any row is written.
extern const char* const tablesSql;
// The indexes, created after the rows (faster than keeping them up to date row by row).
extern const char* const indexesSql;
// The tables a store must have for the back-end to read it.
inline constexpr const char* requiredTables[] = {"meta",      "views", "view_entries",
                                                 "documents", "items", "embedded_objects"};

// Date-times a store holds: from 0001-01-02 to 9999-12-30 (UTC), so that the instant
// falls within the years 0001 to 9999 in every time zone.
inline constexpr qint64 minDateTimeSeconds = -62135510400; // 0001-01-02T00:00:00Z
inline constexpr qint64 maxDateTimeSeconds = 253402214399; // 9999-12-30T23:59:59Z

// Packs the values of one item into the compact form of the items table: for text,
// names and rich text a length (LEB128) and the UTF-8 bytes of each value; for
// numbers 8 bytes each (IEEE 754, little-endian); for date-times 8 bytes of seconds
// since the epoch and 4 bytes of offset from UTC in seconds (little-endian).
class ValuePacker {
public:
    void addText(const QString& text);
    void addNumber(double number);
    void addDateTime(qint64 secondsSinceEpoch, qint32 offsetSeconds);

    const QByteArray& data() const { return m_data; }
    qint64 count() const { return m_count; }

private:
    QByteArray m_data;
    qint64 m_count = 0;
};

// The values of an item of type itemType packed by ValuePacker. Nothing when the
// bytes do not hold count values of that type (a damaged store).
std::optional<QList<NotesValue>> unpackValues(int itemType, qint64 count, QByteArrayView data);

// Whether itemType is one the store knows.
bool isKnownItemType(int itemType);

} // namespace tarvik::notes::store
