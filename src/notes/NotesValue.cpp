#include "notes/NotesValue.h"

#include "base/DateText.h"
#include "base/OperationError.h"

#include <QLocale>

namespace tarvik::notes {

NotesValue NotesValue::fromText(QString text)
{
    NotesValue v;
    v.m_text = std::move(text);
    return v;
}

NotesValue NotesValue::fromNumber(double number)
{
    NotesValue v;
    v.m_kind = ValueKind::Number;
    v.m_number = number;
    return v;
}

NotesValue NotesValue::fromDateTime(QDateTime dateTime)
{
    NotesValue v;
    v.m_kind = ValueKind::DateTime;
    v.m_dateTime = std::move(dateTime);
    return v;
}

QString NotesValue::toText() const
{
    switch (m_kind) {
    case ValueKind::Text:
        return m_text;
    case ValueKind::Number:
        return QString::number(m_number, 'g', QLocale::FloatingPointShortest);
    case ValueKind::DateTime:
        return formatDateText(m_dateTime);
    }
    return {};
}

bool NotesValue::operator==(const NotesValue& other) const
{
    if (m_kind != other.m_kind)
        return false;
    switch (m_kind) {
    case ValueKind::Text:
        return m_text == other.m_text;
    case ValueKind::Number:
        return m_number == other.m_number;
    case ValueKind::DateTime:
        return m_dateTime == other.m_dateTime &&
               m_dateTime.offsetFromUtc() == other.m_dateTime.offsetFromUtc();
    }
    return false;
}

const NotesValue& NotesValueArray::at(qsizetype i) const
{
    if (i < 0 || i >= m_values.size())
        throw OperationError(QStringLiteral("Subscript out of range: element %1 of a value with "
                                            "%2 elements")
                                 .arg(i)
                                 .arg(m_values.size()));
    return m_values[i];
}

} // namespace tarvik::notes
