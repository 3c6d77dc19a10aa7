#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace tarvik::notes {

enum class ValueKind { Text, Number, DateTime };

// One value of a Notes item: a text, a number or a date-time.
class NotesValue {
public:
    NotesValue() = default; // the empty text
    static NotesValue fromText(QString text);
    static NotesValue fromNumber(double number);
    static NotesValue fromDateTime(QDateTime dateTime);

    ValueKind kind() const { return m_kind; }
    // The stored value of the matching kind; the empty text, 0 or an invalid
    // date-time for a value of another kind.
    const QString& text() const { return m_text; }
    double number() const { return m_number; }
    const QDateTime& dateTime() const { return m_dateTime; }

    // The default text conversion: a text as it is; a number in its shortest form
    // that reads back to the same number ("3", "2.5", "-0.125", "1e+21"); a
    // date-time in the form of formatDateText (base/DateText.h).
    QString toText() const;

    bool operator==(const NotesValue& other) const;

private:
    ValueKind m_kind = ValueKind::Text;
    QString m_text;
    double m_number = 0;
    QDateTime m_dateTime;
};

// The value of an item as GetItemValue gives it: an array whose first value is
// element 0 and whose upper bound is its size less one.
class NotesValueArray {
public:
    NotesValueArray() = default;
    explicit NotesValueArray(QList<NotesValue> values) : m_values(std::move(values)) {}

    qsizetype size() const { return m_values.size(); }
    qsizetype upperBound() const { return m_values.size() - 1; }
    // Element i; throws OperationError when i is out of range (so reading element 0
    // of an empty array fails).
    const NotesValue& at(qsizetype i) const;
    QString textAt(qsizetype i) const { return at(i).toText(); }
    const QList<NotesValue>& values() const { return m_values; }

private:
    QList<NotesValue> m_values;
};

} // namespace tarvik::notes
