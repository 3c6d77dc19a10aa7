#include "notes/capi/ItemValues.h"

#include "base/OperationError.h"

#include <cstring>

namespace tarvik::notes::capi {

namespace {

// Reads host-form structures out of a value, never past its end.
class HostReader {
public:
    HostReader(const char* data, std::size_t length, const char* what)
        : m_data(data), m_length(length), m_what(what)
    {}

    template <typename T>
    T read()
    {
        T value;
        need(sizeof(T));
        std::memcpy(&value, m_data + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }
    const char* take(std::size_t n)
    {
        need(n);
        const char* p = m_data + m_pos;
        m_pos += n;
        return p;
    }
    void need(std::size_t n) const
    {
        if (n > m_length - m_pos)
            throw OperationError(QStringLiteral("The %1 value is damaged: it needs %2 more bytes "
                                                "at byte %3 of %4")
                                     .arg(QLatin1String(m_what))
                                     .arg(n)
                                     .arg(m_pos)
                                     .arg(m_length));
    }

private:
    const char* m_data;
    std::size_t m_length;
    const char* m_what;
    std::size_t m_pos = 0;
};

QString unidText(const UNIVERSALNOTEID& unid)
{
    auto half = [](const TIMEDATE& td) {
        return QStringLiteral("%1%2")
            .arg(td.Innards[1], 8, 16, QLatin1Char('0'))
            .arg(td.Innards[0], 8, 16, QLatin1Char('0'))
            .toUpper();
    };
    return half(unid.File) + half(unid.Note);
}

} // namespace

bool isHostValueType(WORD type)
{
    switch (type) {
    case TYPE_TEXT:
    case TYPE_TEXT_LIST:
    case TYPE_NUMBER:
    case TYPE_NUMBER_RANGE:
    case TYPE_TIME:
    case TYPE_TIME_RANGE:
    case TYPE_NOTEREF_LIST:
        return true;
    default:
        return false;
    }
}

QList<NotesValue> decodeHostValue(WORD type, const char* data, std::size_t length,
                                  const TextDecoder& text, const TimeDecoder& time)
{
    QList<NotesValue> values;
    switch (type) {
    case TYPE_TEXT:
        values.append(NotesValue::fromText(text(data, length)));
        break;
    case TYPE_TEXT_LIST: {
        HostReader r(data, length, "text list");
        const LIST list = r.read<LIST>();
        QList<WORD> lengths;
        lengths.reserve(list.ListEntries);
        for (WORD i = 0; i < list.ListEntries; ++i)
            lengths.append(r.read<WORD>());
        for (WORD n : std::as_const(lengths))
            values.append(NotesValue::fromText(text(r.take(n), n)));
        break;
    }
    case TYPE_NUMBER: {
        HostReader r(data, length, "number");
        values.append(NotesValue::fromNumber(r.read<NUMBER>()));
        break;
    }
    case TYPE_TIME: {
        HostReader r(data, length, "time");
        values.append(NotesValue::fromDateTime(time(r.read<TIMEDATE>())));
        break;
    }
    case TYPE_NUMBER_RANGE:
    case TYPE_TIME_RANGE: {
        const bool numbers = type == TYPE_NUMBER_RANGE;
        HostReader r(data, length, numbers ? "number list" : "time list");
        const RANGE range = r.read<RANGE>();
        const std::size_t singles = range.ListEntries;
        const std::size_t ends = std::size_t(range.RangeEntries) * 2;
        r.need((singles + ends) * (numbers ? sizeof(NUMBER) : sizeof(TIMEDATE)));
        for (std::size_t i = 0; i < singles + ends; ++i) {
            if (numbers)
                values.append(NotesValue::fromNumber(r.read<NUMBER>()));
            else
                values.append(NotesValue::fromDateTime(time(r.read<TIMEDATE>())));
        }
        break;
    }
    case TYPE_NOTEREF_LIST: {
        HostReader r(data, length, "note reference list");
        const LIST list = r.read<LIST>();
        for (WORD i = 0; i < list.ListEntries; ++i)
            values.append(NotesValue::fromText(unidText(r.read<UNIVERSALNOTEID>())));
        break;
    }
    default:
        throw OperationError(QStringLiteral("Values of type %1 are not read").arg(type));
    }
    return values;
}

QDateTime dateTimeFromExpansions(const TIMEDATE& value, const TIME& utc, const TIME& writer)
{
    const bool hasTime = value.Innards[0] != ALLDAY;
    const bool hasDate = value.Innards[1] != ANYDAY;
    if (!hasTime && !hasDate)
        return {};
    if (!hasTime) {
        const QDate date(writer.year, writer.month, writer.day);
        return QDateTime(date, QTime(0, 0), Qt::LocalTime);
    }
    const QTime writerTime(writer.hour, writer.minute, writer.second, writer.hundredth * 10);
    if (!hasDate)
        return QDateTime(QDate(1899, 12, 30), writerTime, Qt::LocalTime);
    const QDateTime instant(QDate(utc.year, utc.month, utc.day),
                            QTime(utc.hour, utc.minute, utc.second, utc.hundredth * 10), Qt::UTC);
    if (!instant.isValid())
        return instant;
    const QDateTime writerClock(QDate(writer.year, writer.month, writer.day), writerTime, Qt::UTC);
    const qint64 offset = writerClock.isValid() ? instant.secsTo(writerClock) : 0;
    // Offsets beyond 14 hours are no zone's: the instant alone is kept.
    if (offset < -14 * 3600 || offset > 14 * 3600)
        return instant;
    return instant.toOffsetFromUtc(int(offset));
}

std::optional<QList<SummaryItem>> parseSummaryBuffer(const char* data, std::size_t length,
                                                     std::size_t* used)
{
    if (length < sizeof(ITEM_TABLE))
        return std::nullopt;
    ITEM_TABLE table;
    std::memcpy(&table, data, sizeof table);
    if (table.Length < sizeof(ITEM_TABLE) || table.Length > length)
        return std::nullopt;
    const std::size_t end = table.Length;
    std::size_t pos = sizeof(ITEM_TABLE);
    if (std::size_t(table.Items) * sizeof(ITEM) > end - pos)
        return std::nullopt;
    QList<ITEM> heads;
    heads.reserve(table.Items);
    for (WORD i = 0; i < table.Items; ++i) {
        ITEM item;
        std::memcpy(&item, data + pos, sizeof item);
        heads.append(item);
        pos += sizeof item;
    }
    QList<SummaryItem> items;
    items.reserve(heads.size());
    for (const ITEM& head : std::as_const(heads)) {
        if (std::size_t(head.NameLength) + head.ValueLength > end - pos)
            return std::nullopt;
        SummaryItem item;
        item.name = QByteArray(data + pos, head.NameLength);
        pos += head.NameLength;
        if (head.ValueLength >= sizeof(WORD)) {
            std::memcpy(&item.type, data + pos, sizeof(WORD));
            item.value = QByteArray(data + pos + sizeof(WORD), head.ValueLength - sizeof(WORD));
        }
        pos += head.ValueLength;
        items.append(item);
    }
    if (used)
        *used = end;
    return items;
}

ViewTitle splitViewTitle(const QStringList& parts)
{
    ViewTitle title;
    title.whole = parts.join(QLatin1Char('|'));
    const QStringList pieces = title.whole.split(QLatin1Char('|'));
    title.name = pieces.value(0).trimmed();
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QString alias = pieces[i].trimmed();
        if (!alias.isEmpty())
            title.aliases.append(alias);
    }
    return title;
}

} // namespace tarvik::notes::capi
