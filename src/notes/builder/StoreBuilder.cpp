#include "notes/builder/StoreBuilder.h"

#include "base/OperationError.h"
#include "base/Platform.h"
#include "notes/NotesObjects.h"
#include "notes/StoreFormat.h"
#include "notes/builder/JsonStream.h"
#include "notes/builder/StoreWriter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <system_error>

namespace tarvik::notes {

namespace {

constexpr double maxWholeNumber = 9007199254740992.0; // 2^53: larger doubles are not exact
constexpr qint64 maxObjectBytes = qint64(1) << 50;
constexpr int maxOffsetSeconds = 14 * 3600;

// Where in the description a value stands, rendered only when a fault needs it.
struct Place {
    const Place* parent = nullptr;
    const char* key = nullptr; // member name, or nullptr for an array element
    qsizetype index = -1;

    Place child(const char* k) const { return {this, k, -1}; }
    Place at(qsizetype i) const { return {this, nullptr, i}; }

    QString render() const
    {
        if (!parent)
            return {};
        QString text = parent->render();
        if (key)
            return text.isEmpty() ? QString::fromLatin1(key)
                                  : text + QLatin1Char('.') + QLatin1String(key);
        return text + QStringLiteral("[%1]").arg(index);
    }
};

class FaultList {
public:
    void add(const Place& place, const QString& problem)
    {
        if (m_faults.size() >= StoreBuilder::maxFaults) {
            ++m_more;
            return;
        }
        QString where = place.render();
        if (where.isEmpty())
            where = QStringLiteral("top level");
        m_faults.append(where + QStringLiteral(": ") + problem);
    }
    // A fault that ends the reading (bad JSON) is always shown: at the limit
    // it takes the place of the last counted one.
    void addRaw(const QString& fault)
    {
        if (m_faults.size() >= StoreBuilder::maxFaults) {
            m_faults.removeLast();
            ++m_more;
        }
        m_faults.append(fault);
    }
    bool isEmpty() const { return m_faults.isEmpty(); }
    QStringList take()
    {
        if (m_more)
            m_faults.append(QStringLiteral("... and %1 more faults").arg(m_more));
        return std::move(m_faults);
    }

private:
    QStringList m_faults;
    qint64 m_more = 0;
};

std::optional<int> itemTypeNumber(const QString& name)
{
    static const QHash<QString, int> types = {
        {QStringLiteral("text"), itemtype::text},
        {QStringLiteral("names"), itemtype::names},
        {QStringLiteral("number"), itemtype::number},
        {QStringLiteral("datetime"), itemtype::dateTime},
        {QStringLiteral("richtext"), itemtype::richText},
    };
    const auto it = types.constFind(name);
    if (it == types.cend())
        return std::nullopt;
    return *it;
}

// Reads a date-time of the form 2008-03-14T10:32:05+01:00 (or ...05Z).
std::optional<QDateTime> parseIsoDateTime(const QString& text)
{
    auto digits = [&](qsizetype pos, int n) {
        int v = 0;
        for (int i = 0; i < n; ++i) {
            const char16_t c = text[pos + i].unicode();
            if (c < u'0' || c > u'9')
                return -1;
            v = v * 10 + (c - u'0');
        }
        return v;
    };
    const bool zulu = text.size() == 20 && text[19] == u'Z';
    if (!zulu && text.size() != 25)
        return std::nullopt;
    if (text[4] != u'-' || text[7] != u'-' || text[10] != u'T' || text[13] != u':' ||
        text[16] != u':')
        return std::nullopt;
    int offset = 0;
    if (!zulu) {
        const char16_t sign = text[19].unicode();
        const int h = digits(20, 2), m = digits(23, 2);
        if ((sign != u'+' && sign != u'-') || text[22] != u':' || h < 0 || m < 0 || m > 59)
            return std::nullopt;
        offset = (h * 60 + m) * 60 * (sign == u'-' ? -1 : 1);
        if (std::abs(offset) > maxOffsetSeconds)
            return std::nullopt;
    }
    const int year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
    const int hour = digits(11, 2), minute = digits(14, 2), second = digits(17, 2);
    if (year < 1 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::OffsetFromUTC, offset);
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Walks a parsed description, reports its faults and, while it has none, hands each
// document and view to the writer.
class DescriptionReader {
public:
    DescriptionReader(FaultList& faults, StoreWriter* writer) : m_faults(faults), m_writer(writer)
    {}

    // Reads the top-level object member by member. Each document is read, checked and
    // written on its own; views that come before the documents wait for them, because
    // they name documents by id.
    void read(JsonStream& in)
    {
        const Place root;
        if (!readTop(in, root))
            return;
        if (!in.error().isEmpty()) {
            m_faults.addRaw(in.error());
            return;
        }
        for (const char* key : {"format", "title", "views", "documents"}) {
            if (!m_seen.contains(QLatin1String(key)))
                m_faults.add(
                    root,
                    QStringLiteral("missing required key %1").arg(quoted(QLatin1String(key))));
        }
        const Place views = root.child("views");
        for (qsizetype i = 0; i < m_pendingViews.size(); ++i)
            readView(m_pendingViews[i], views.at(i), i);
        m_pendingViews.clear();
        if (writing())
            m_writer->finish(m_title);
    }

private:
    bool writing() const { return m_writer && m_faults.isEmpty(); }

    // False when the text is sound JSON but not an object.
    bool readTop(JsonStream& in, const Place& root)
    {
        const int first = in.peek();
        if (first != '{') {
            // A sound value of another kind, or a text that is not JSON at all.
            if (first < 0) {
                in.fail(QStringLiteral("the description is empty"));
            } else if (in.readValue() && in.peek() < 0) {
                m_faults.add(root, QStringLiteral("expected an object"));
                return false;
            } else {
                in.fail(QStringLiteral("garbage at the end of the document"));
            }
            return true;
        }
        in.advance();
        if (in.peek() == '}') {
            in.advance();
        } else {
            for (;;) {
                const JsonStream::Position keyAt = (in.peek(), in.position());
                const auto key = in.readValue();
                if (!key)
                    return true;
                if (!key->isString()) {
                    in.failAt(keyAt, QStringLiteral("expected a member name"));
                    return true;
                }
                if (in.peek() != ':') {
                    in.fail(QStringLiteral("missing name separator"));
                    return true;
                }
                in.advance();
                if (!readMember(in, root, key->toString()))
                    return true;
                const int c = in.peek();
                in.advance();
                if (c == '}')
                    break;
                if (c != ',') {
                    in.fail(c < 0 ? QStringLiteral("unterminated object")
                                  : QStringLiteral("missing value separator"));
                    return true;
                }
            }
        }
        if (in.peek() >= 0)
            in.fail(QStringLiteral("garbage at the end of the document"));
        return true;
    }

    // Reads the value of one top-level member; false on a syntax error.
    bool readMember(JsonStream& in, const Place& root, const QString& key)
    {
        if (m_seen.contains(key)) {
            m_faults.add(root, QStringLiteral("duplicate key %1").arg(quoted(key)));
            return in.readValue().has_value();
        }
        m_seen.insert(key);
        if (key == u"documents") {
            const Place place = root.child("documents");
            const bool ok = readArray(in, place, [&](const QJsonValue& v, qsizetype i) {
                readDocument(v, place.at(i), i);
            });
            m_documentsRead = true;
            return ok;
        }
        if (key == u"views") {
            const Place place = root.child("views");
            return readArray(in, place, [&](const QJsonValue& v, qsizetype i) {
                if (m_documentsRead)
                    readView(v, place.at(i), i);
                else
                    m_pendingViews.append(v);
            });
        }
        const auto value = in.readValue();
        if (!value)
            return false;
        if (key == u"format") {
            const QJsonObject top{{key, *value}};
            if (const auto format = wholeNumber(top, "format", root, true); format && *format != 1)
                m_faults.add(root.child("format"),
                             QStringLiteral("this version reads format 1, not %1").arg(*format));
        } else if (key == u"title") {
            m_title = stringValue(*value, root.child("title")).value_or(QString());
        } else {
            m_faults.add(root, QStringLiteral("unknown key %1").arg(quoted(key)));
        }
        return true;
    }

    // Reads an array element by element; false on a syntax error.
    bool readArray(JsonStream& in, const Place& place,
                   const std::function<void(const QJsonValue&, qsizetype)>& element)
    {
        if (in.peek() != '[') {
            if (!in.readValue())
                return false;
            m_faults.add(place, QStringLiteral("expected an array"));
            return true;
        }
        in.advance();
        if (in.peek() == ']') {
            in.advance();
            return true;
        }
        for (qsizetype i = 0;; ++i) {
            const auto value = in.readValue();
            if (!value)
                return false;
            element(*value, i);
            const int c = in.peek();
            in.advance();
            if (c == ']')
                return true;
            if (c != ',') {
                in.fail(c < 0 ? QStringLiteral("unterminated array")
                              : QStringLiteral("missing value separator"));
                return false;
            }
        }
    }

    void readDocument(const QJsonValue& value, const Place& place, qsizetype index)
    {
        const auto doc = object(value, place);
        if (!doc)
            return;
        checkKeys(*doc, place, {"id", "items", "attachments", "size"});
        if (const auto id = string(*doc, "id", place, true)) {
            const auto known = m_ids.constFind(*id);
            if (known != m_ids.cend())
                m_faults.add(place.child("id"),
                             QStringLiteral("the id %1 is used by documents[%2] as well")
                                 .arg(quoted(*id))
                                 .arg(*known - 1));
            else
                m_ids.insert(*id, index + 1);
        }
        DocumentRecord record;
        if (const auto items = array(*doc, "items", place, true)) {
            const Place itemsPlace = place.child("items");
            for (qsizetype i = 0; i < items->size(); ++i)
                readItem(items->at(i), itemsPlace.at(i), int(i), record);
        }
        if (const auto attachments = array(*doc, "attachments", place, false)) {
            const Place objectsPlace = place.child("attachments");
            for (qsizetype i = 0; i < attachments->size(); ++i)
                readObject(attachments->at(i), objectsPlace.at(i), -1, int(i), record);
        }
        if (const auto size = wholeNumber(*doc, "size", place, false)) {
            if (*size < 0)
                m_faults.add(place.child("size"), QStringLiteral("expected a size of 0 or more"));
            record.size = *size;
        }
        if (writing())
            m_writer->addDocument(index + 1, record);
    }

    void readItem(const QJsonValue& value, const Place& place, int seq, DocumentRecord& record)
    {
        const auto item = object(value, place);
        if (!item)
            return;
        checkKeys(*item, place, {"name", "type", "values", "embedded", "unreadable"});
        ItemRecord rec;
        rec.name = string(*item, "name", place, true).value_or(QString());
        std::optional<int> type;
        if (const auto typeName = string(*item, "type", place, true)) {
            type = itemTypeNumber(*typeName);
            if (!type)
                m_faults.add(place.child("type"),
                             QStringLiteral("unknown type %1").arg(quoted(*typeName)));
        }
        rec.type = type.value_or(0);
        rec.unreadable = boolean(*item, "unreadable", place, false).value_or(false);
        const auto values = array(*item, "values", place, true);
        if (values && type) {
            const Place valuesPlace = place.child("values");
            for (qsizetype i = 0; i < values->size(); ++i)
                readValue(values->at(i), valuesPlace.at(i), *type, rec.values);
        }
        if (const auto embedded = array(*item, "embedded", place, false)) {
            const Place objectsPlace = place.child("embedded");
            if (type && *type != itemtype::richText)
                m_faults.add(objectsPlace,
                             QStringLiteral("only richtext items have embedded objects"));
            for (qsizetype i = 0; i < embedded->size(); ++i)
                readObject(embedded->at(i), objectsPlace.at(i), seq, int(i), record);
        }
        record.items.append(std::move(rec));
    }

    void readValue(const QJsonValue& value, const Place& place, int type,
                   store::ValuePacker& values)
    {
        if (type == itemtype::number) {
            if (!value.isDouble() || !std::isfinite(value.toDouble()))
                m_faults.add(place, QStringLiteral("expected a number"));
            else
                values.addNumber(value.toDouble());
            return;
        }
        const auto text = stringValue(value, place);
        if (!text)
            return;
        if (type != itemtype::dateTime) {
            values.addText(*text);
            return;
        }
        const auto dt = parseIsoDateTime(*text);
        if (!dt)
            m_faults.add(place, QStringLiteral("%1 is not a date-time with seconds and a UTC "
                                               "offset, such as 2008-03-14T10:32:05+01:00")
                                    .arg(quoted(*text)));
        else if (dt->toSecsSinceEpoch() < store::minDateTimeSeconds ||
                 dt->toSecsSinceEpoch() > store::maxDateTimeSeconds)
            m_faults.add(
                place, QStringLiteral("%1 is outside 0001-01-02 to 9999-12-30").arg(quoted(*text)));
        else
            values.addDateTime(dt->toSecsSinceEpoch(), dt->offsetFromUtc());
    }

    void readObject(const QJsonValue& value, const Place& place, int itemSeq, int seq,
                    DocumentRecord& record)
    {
        const auto obj = object(value, place);
        if (!obj)
            return;
        checkKeys(*obj, place,
                  {"name", "type", "content_base64", "content_text", "repeat", "unreadable"});
        ObjectRecord rec;
        rec.itemSeq = itemSeq;
        rec.seq = seq;
        rec.name = string(*obj, "name", place, true).value_or(QString());
        if (const auto type = wholeNumber(*obj, "type", place, false)) {
            if (*type < 0 || *type > 0x7fffffff)
                m_faults.add(place.child("type"), QStringLiteral("expected a type number"));
            rec.type = int(*type);
        }
        rec.unreadable = boolean(*obj, "unreadable", place, false).value_or(false);
        const auto base64 = string(*obj, "content_base64", place, false);
        const auto text = string(*obj, "content_text", place, false);
        if (base64 && text) {
            m_faults.add(place, QStringLiteral("has both \"content_base64\" and \"content_text\""));
        } else if (base64) {
            auto decoded = QByteArray::fromBase64Encoding(base64->toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
            bool ascii = true;
            for (const QChar c : *base64)
                ascii = ascii && c.unicode() < 128;
            if (!decoded || !ascii)
                m_faults.add(place.child("content_base64"), QStringLiteral("not valid base64"));
            else
                rec.content = std::move(*decoded);
        } else if (text) {
            rec.content = text->toUtf8();
        } else if (obj->contains(QLatin1String("content_base64")) ||
                   obj->contains(QLatin1String("content_text"))) {
            // A content key of the wrong type has been reported already.
        } else {
            m_faults.add(place, QStringLiteral("missing required key \"content_base64\" or "
                                               "\"content_text\""));
        }
        if (const auto repeat = wholeNumber(*obj, "repeat", place, false)) {
            if (*repeat < 1)
                m_faults.add(place.child("repeat"),
                             QStringLiteral("expected a count of 1 or more"));
            else if (!rec.content.isEmpty() && *repeat > maxObjectBytes / rec.content.size())
                m_faults.add(place.child("repeat"), QStringLiteral("the object would be larger "
                                                                   "than 1 PiB"));
            rec.repeat = *repeat;
        }
        record.objects.append(std::move(rec));
    }

    void readView(const QJsonValue& value, const Place& place, qsizetype index)
    {
        const auto view = object(value, place);
        if (!view)
            return;
        checkKeys(*view, place, {"name", "folder", "documents"});
        const auto name = string(*view, "name", place, true);
        const auto folder = boolean(*view, "folder", place, true);
        QList<qint64> ids;
        if (const auto documents = array(*view, "documents", place, true)) {
            const Place docsPlace = place.child("documents");
            ids.reserve(documents->size());
            for (qsizetype i = 0; i < documents->size(); ++i) {
                const auto id = stringValue(documents->at(i), docsPlace.at(i));
                if (!id)
                    continue;
                const auto known = m_ids.constFind(*id);
                if (known == m_ids.cend())
                    m_faults.add(docsPlace.at(i),
                                 QStringLiteral("no document has the id %1").arg(quoted(*id)));
                else
                    ids.append(*known);
            }
        }
        if (writing())
            m_writer->addView(index + 1, name.value_or(QString()), folder.value_or(false), ids);
    }

    // Typed access; each reports its fault and gives nothing on a missing or wrong value.

    std::optional<QJsonObject> object(const QJsonValue& value, const Place& place)
    {
        if (!value.isObject()) {
            m_faults.add(place, QStringLiteral("expected an object"));
            return std::nullopt;
        }
        return value.toObject();
    }

    void checkKeys(const QJsonObject& obj, const Place& place,
                   std::initializer_list<const char*> allowed)
    {
        for (auto it = obj.begin(); it != obj.end(); ++it) {
            const QString key = it.key();
            bool known = false;
            for (const char* a : allowed)
                known = known || key == QLatin1String(a);
            if (!known)
                m_faults.add(place, QStringLiteral("unknown key %1").arg(quoted(key)));
        }
    }

    std::optional<QJsonValue> member(const QJsonObject& obj, const char* key, const Place& place,
                                     bool required)
    {
        const auto it = obj.constFind(QLatin1String(key));
        if (it == obj.constEnd()) {
            if (required)
                m_faults.add(
                    place,
                    QStringLiteral("missing required key %1").arg(quoted(QLatin1String(key))));
            return std::nullopt;
        }
        return it.value();
    }

    std::optional<QString> stringValue(const QJsonValue& value, const Place& place)
    {
        if (!value.isString()) {
            m_faults.add(place, QStringLiteral("expected a string"));
            return std::nullopt;
        }
        QString text = value.toString();
        if (!QStringView(text).isValidUtf16()) {
            m_faults.add(place, QStringLiteral("the string holds an unpaired surrogate"));
            return std::nullopt;
        }
        return text;
    }

    std::optional<QString> string(const QJsonObject& obj, const char* key, const Place& place,
                                  bool required)
    {
        const auto v = member(obj, key, place, required);
        if (!v)
            return std::nullopt;
        return stringValue(*v, place.child(key));
    }

    std::optional<bool> boolean(const QJsonObject& obj, const char* key, const Place& place,
                                bool required)
    {
        const auto v = member(obj, key, place, required);
        if (!v)
            return std::nullopt;
        if (!v->isBool()) {
            m_faults.add(place.child(key), QStringLiteral("expected true or false"));
            return std::nullopt;
        }
        return v->toBool();
    }

    std::optional<qint64> wholeNumber(const QJsonObject& obj, const char* key, const Place& place,
                                      bool required)
    {
        const auto v = member(obj, key, place, required);
        if (!v)
            return std::nullopt;
        const double d = v->toDouble();
        if (!v->isDouble() || !std::isfinite(d) || std::floor(d) != d ||
            std::fabs(d) > maxWholeNumber) {
            m_faults.add(place.child(key), QStringLiteral("expected a whole number"));
            return std::nullopt;
        }
        return qint64(d);
    }

    std::optional<QJsonArray> array(const QJsonObject& obj, const char* key, const Place& place,
                                    bool required)
    {
        const auto v = member(obj, key, place, required);
        if (!v)
            return std::nullopt;
        if (!v->isArray()) {
            m_faults.add(place.child(key), QStringLiteral("expected an array"));
            return std::nullopt;
        }
        return v->toArray();
    }

    FaultList& m_faults;
    StoreWriter* m_writer;
    QHash<QString, qint64> m_ids; // document id -> row id (index + 1)
    QSet<QString> m_seen;         // top-level keys read so far
    QString m_title;
    bool m_documentsRead = false;
    QList<QJsonValue> m_pendingViews;
};

QStringList buildFrom(QIODevice& input, const QString& outputPath, StoreBuilder::Existing existing)
{
    const QFileInfo output(outputPath);
    const QString folder = output.absolutePath();
    if (!QFileInfo(folder).isDir())
        throw OperationError(QStringLiteral("The folder \"%1\" does not exist").arg(folder));

    QString tempPath;
    std::optional<platform::RemoveOnInterrupt> interruptGuard;
    {
        // An interrupt between making the file and arming the guard waits.
        const platform::InterruptsHeld hold;
        QTemporaryFile temp(folder + QStringLiteral("/.") + output.fileName() +
                            QStringLiteral(".XXXXXX"));
        temp.setAutoRemove(false);
        if (!temp.open())
            throw OperationError(
                QStringLiteral("Cannot write \"%1\": %2").arg(outputPath, temp.errorString()));
        tempPath = temp.fileName();
        interruptGuard.emplace(tempPath);
    }
    auto removeTemp = qScopeGuard([&] { QFile::remove(tempPath); });

    FaultList faults;
    {
        StoreWriter writer(tempPath, outputPath);
        JsonStream in(input);
        DescriptionReader(faults, &writer).read(in);
    }
    if (!faults.isEmpty())
        return faults.take();

    QFile::setPermissions(tempPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
    QString why;
    if (existing == StoreBuilder::Existing::Refuse) {
        if (!platform::moveNoReplace(tempPath, outputPath, &why))
            throw OperationError(QStringLiteral("Cannot write \"%1\": %2").arg(outputPath, why));
    } else {
        std::error_code ec;
        std::filesystem::rename(QFile::encodeName(tempPath).toStdString(),
                                QFile::encodeName(outputPath).toStdString(), ec);
        if (ec)
            throw OperationError(QStringLiteral("Cannot write \"%1\": %2")
                                     .arg(outputPath, QString::fromLocal8Bit(ec.message())));
    }
    removeTemp.dismiss();
    return {};
}

void refuseExisting(const QString& outputPath, StoreBuilder::Existing existing)
{
    if (outputPath.isEmpty())
        throw OperationError(QStringLiteral("No output file was given"));
    const QFileInfo output(outputPath);
    if (existing == StoreBuilder::Existing::Refuse && (output.exists() || output.isSymLink()))
        throw OperationError(QStringLiteral("\"%1\" already exists").arg(outputPath));
    if (output.isDir())
        throw OperationError(QStringLiteral("\"%1\" is a folder").arg(outputPath));
}

} // namespace

QStringList StoreBuilder::check(const QByteArray& description)
{
    QBuffer buffer;
    buffer.setData(description);
    buffer.open(QIODevice::ReadOnly);
    FaultList faults;
    JsonStream in(buffer);
    DescriptionReader(faults, nullptr).read(in);
    return faults.take();
}

StoreBuildResult StoreBuilder::build(const QByteArray& description, const QString& outputPath,
                                     Existing existing)
{
    refuseExisting(outputPath, existing);
    QBuffer buffer;
    buffer.setData(description);
    buffer.open(QIODevice::ReadOnly);
    return {buildFrom(buffer, outputPath, existing)};
}

StoreBuildResult StoreBuilder::buildFile(const QString& descriptionPath, const QString& outputPath,
                                         Existing existing)
{
    refuseExisting(outputPath, existing);
    const QFileInfo input(descriptionPath);
    if (input.isDir())
        throw OperationError(QStringLiteral("\"%1\" is a folder").arg(descriptionPath));
    const QString canonicalOutput = QFileInfo(outputPath).canonicalFilePath();
    if (!canonicalOutput.isEmpty() && canonicalOutput == input.canonicalFilePath())
        throw OperationError(QStringLiteral("\"%1\" is the description itself").arg(outputPath));
    QFile file(descriptionPath);
    if (!file.open(QIODevice::ReadOnly))
        throw OperationError(
            QStringLiteral("Cannot read \"%1\": %2").arg(descriptionPath, file.errorString()));
    auto faults = buildFrom(file, outputPath, existing);
    if (file.error() != QFileDevice::NoError)
        throw OperationError(
            QStringLiteral("Cannot read \"%1\": %2").arg(descriptionPath, file.errorString()));
    return {faults};
}

} // namespace tarvik::notes
