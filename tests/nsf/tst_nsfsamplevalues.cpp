// The value decoders on the real sample databases, read through the container. What the C API
// sample programs' readme files print for these databases is the evidence: rsimple (simple.nsf),
// summary (summary.nsf), rrich (richtext.nsf) and parseMMMsg (MIMEMsg.nsf).

#include "NsfTestBytes.h"

#include "nsf/Database.h"
#include "nsf/MimePart.h"
#include "nsf/ObjectItem.h"
#include "nsf/RichText.h"
#include "nsf/Values.h"

#include <QDir>
#include <QTest>

#include <map>
#include <set>

using namespace tarvik::nsf;
using namespace tarvik::nsf::test;

namespace {

std::string samplePath(const char* name)
{
    return QDir(QStringLiteral(TARVIK_NSF_SAMPLES))
        .filePath(QString::fromLatin1(name))
        .toStdString();
}

const Item& itemOf(const Note& note, std::string_view name)
{
    const Item* item = note.find(name);
    if (!item)
        throw std::runtime_error("note " + std::to_string(note.id) + " has no item " +
                                 std::string(name));
    if (!item->ok())
        throw std::runtime_error(item->error->what());
    return *item;
}

std::string textOf(const Note& note, std::string_view name)
{
    return decodeText(itemOf(note, name).value);
}

// The time as its writer's clock showed it: "HH:MM:SS" on the writer's day, as the sample
// programs print it.
std::string writerClock(const TimeDate& t)
{
    const std::int64_t local = *utcHundredths(t) / 100 + std::int64_t(t.zoneMinutesEast()) * 60 +
                               (t.daylightSaving() ? 3600 : 0);
    const std::int64_t secondOfDay = ((local % 86400) + 86400) % 86400;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", int(secondOfDay / 3600),
                  int(secondOfDay / 60 % 60), int(secondOfDay % 60));
    return buf;
}

// Decodes an item by its type the way the dump will; throws FormatError when it cannot.
void decodeByType(const Item& item)
{
    switch (item.type) {
    case kTypeText:
        decodeText(item.value);
        break;
    case kTypeTextList:
        decodeTextList(item.value);
        break;
    case kTypeNumber:
        decodeNumber(item.value);
        break;
    case kTypeNumberRange:
        decodeNumberRange(item.value);
        break;
    case kTypeTime:
        decodeTime(item.value);
        break;
    case kTypeTimeRange:
        decodeTimeRange(item.value);
        break;
    case kTypeNoteRefList:
        decodeNoteRefList(item.value);
        break;
    case kTypeObject:
        if (item.name == "$FILE")
            decodeFileObject(item.value);
        else if (!item.value.empty())
            decodeObjectRef(item.value);
        break;
    case kTypeMimePart:
        decodeMimePart(item.value);
        break;
    default:
        break;
    }
}

} // namespace

class TestNsfSampleValues : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void simpleDatabase()
    {
        // rsimple's readme: note ID, PLAIN_TEXT, NUMBER, TIME_DATE (the writer's clock), and
        // the last entry of TEXT_LIST.
        const auto db = Database::open(samplePath("simple.nsf"));
        struct Expected {
            NoteId id;
            const char* text;
            double number;
            const char* date;
            const char* clock; // empty: a date without a time
            const char* lastEntry;
        };
        const Expected expected[] = {
            {0x8FE, "The quick brown fox jumped over the lazy dogs.", 125.007, "1993-07-14",
             "15:14:44", "Chuck"},
            {0x8F6, "This is a line of simple text.", 0.000987, "1988-01-15", "", "four"},
            {0x8FA, "This is another line of simple text.", 836, "1953-07-04", "07:12:00", "d"},
        };
        for (const Expected& e : expected) {
            const Note note = db->readNote(e.id);
            QCOMPARE(textOf(note, "PLAIN_TEXT"), std::string(e.text));
            QCOMPARE(decodeNumber(itemOf(note, "NUMBER").value), e.number);
            const TimeDate t = decodeTime(itemOf(note, "TIME_DATE").value);
            if (*e.clock) {
                QCOMPARE(writerClock(t), std::string(e.clock));
                QVERIFY(t.daylightSaving());
                QCOMPARE(t.zoneMinutesEast(), -5 * 60); // the US East coast
            } else {
                QCOMPARE(formatTimeDate(t), std::string(e.date));
            }
            QCOMPARE(formatTimeDate(t).substr(0, 10), std::string(e.date));
            QCOMPARE(decodeTextList(itemOf(note, "TEXT_LIST").value).back(),
                     std::string(e.lastEntry));
        }
    }

    void summaryDatabase()
    {
        // summary's readme: every item of the first two documents.
        const auto db = Database::open(samplePath("summary.nsf"));
        const Note first = db->readNote(0x20FA);
        QCOMPARE(textOf(first, "Form"), std::string("SimpleDataForm"));
        QCOMPARE(textOf(first, "plain_text"), std::string("This is a line of simple text."));
        QCOMPARE(formatNumber(decodeNumber(itemOf(first, "number").value)),
                 std::string("0.000987"));
        QCOMPARE(formatTimeDate(decodeTime(itemOf(first, "time_date").value)),
                 std::string("1988-01-15"));
        QCOMPARE(decodeTextList(itemOf(first, "text_list").value),
                 (std::vector<std::string>{"one", "two", "three", "four"}));
        const Note second = db->readNote(0x20FE);
        QCOMPARE(textOf(second, "plain_text"), std::string("This is a sentence"));
        QCOMPARE(formatNumber(decodeNumber(itemOf(second, "number").value)), std::string("836"));
        QCOMPARE(formatTimeDate(decodeTime(itemOf(second, "time_date").value)),
                 std::string("1986-04-20"));
        QCOMPARE(decodeTextList(itemOf(second, "text_list").value),
                 (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g"}));
    }

    void richTextDatabase()
    {
        // rrich's readme prints the text of note 212A's RICH_TEXT.
        const auto db = Database::open(samplePath("richtext.nsf"));
        const Note note = db->readNote(0x212A);
        std::vector<Bytes> parts;
        for (const Item* item : note.findAll("RICH_TEXT"))
            parts.emplace_back(item->value);
        QCOMPARE(parts.size(), std::size_t(1));
        const std::string text = richTextContent(parts).text;
        QVERIFY2(
            text.rfind("This is some rich text.\nThis is a centered paragraph\nIt will be used  to "
                       "demonstrate  the ",
                       0) == 0,
            text.c_str());
        QVERIFY(
            text.find("\n\nThese lines use font faces that require a font table (a $Fonts item).\n"
                      "1234 asdfjkl;\n(MS Sans Serf, Symbol, and System)") != std::string::npos);
    }

    void mimeMemos()
    {
        // parseMMMsg's readme: the three memos' subjects, senders and MIME structure.
        const auto db = Database::open(samplePath("MIMEMsg.nsf"));
        struct Memo {
            NoteId id;
            const char* subject;
            const char* posted;
            std::vector<std::string> types;       // Content-Type of each part with headers
            std::vector<std::string> attachments; // parts kept in $FILE objects
        };
        const Memo memos[] = {
            {0x8F6,
             "MIME message(plain text)",
             "2006-08-11T08:56:48.29Z",
             {"multipart/alternative", "text/plain", "text/html"},
             {}},
            {0x8FA,
             "MIME message(with txt attachment)",
             "2006-08-11T09:00:40.05Z",
             {"multipart/mixed", "multipart/alternative", "text/plain", "text/html", "text/plain"},
             {"New Text Document.txt"}},
            {0x8FE,
             "MIME message with attachmetn(Txt/BMP/Jpg) and inline images",
             "2006-08-11T09:07:57.18Z",
             {"multipart/mixed", "multipart/related", "multipart/alternative", "text/plain",
              "text/html", "image/gif", "image/gif", "image/gif", "text/plain", "image/jpeg",
              "application/octet-stream", "application/octet-stream"},
             {"Plain.txt", "Sample.jpg", "sampleBMP.bmp", "mswin32.mak"}},
        };
        for (const Memo& memo : memos) {
            const Note note = db->readNote(memo.id);
            QCOMPARE(textOf(note, "Subject"), std::string(memo.subject));
            QCOMPARE(textOf(note, "From"), std::string("CN=admin/O=ibm"));
            QCOMPARE(textOf(note, "SendTo"), std::string("admin@cn.ibm.com"));
            QCOMPARE(textOf(note, "Form"), std::string("Memo"));
            const TimeDate posted = decodeTime(itemOf(note, "PostedDate").value);
            QCOMPARE(formatTimeDate(posted), std::string(memo.posted));
            QCOMPARE(posted.zoneMinutesEast(), 8 * 60);
            // Notes made the message ID from the memo's original UNID ($Orig).
            const std::string orig = decodeNoteRefList(itemOf(note, "$Orig").value).at(0).hex();
            const std::string idPrefix = "<OF" + orig.substr(0, 8) + "." + orig.substr(8, 8) +
                                         "-ON" + orig.substr(16, 8) + "." + orig.substr(24, 8) +
                                         "-";
            QCOMPARE(textOf(note, "$MessageID").substr(0, idPrefix.size()), idPrefix);

            std::set<std::string> files;
            for (const Item* item : note.findAll("$FILE"))
                files.insert(decodeFileObject(item->value).name);
            std::vector<std::string> types;
            std::vector<std::string> inObjects;
            std::string plainText;
            for (const Item* item : note.findAll("Body")) {
                QVERIFY(item->ok());
                QCOMPARE(item->type, std::uint16_t(kTypeMimePart));
                const MimePart part = decodeMimePart(item->value);
                if (const auto type = mimeHeader(part.headers, "Content-Type"))
                    types.push_back(parseMimeHeaderValue(*type).value);
                if (const auto name = part.objectName()) {
                    inObjects.push_back(*name);
                    QVERIFY2(files.count(*name), name->c_str()); // its $FILE is in the note
                }
                if (const auto text = mimePartText(part); text && plainText.empty())
                    plainText = *text;
            }
            QCOMPARE(types, memo.types);
            QCOMPARE(inObjects, memo.attachments);
            QVERIFY(!plainText.empty());
        }
        const Note third = db->readNote(0x8FE);
        const FileObject jpeg = decodeFileObject(third.findAll("$FILE").at(1)->value);
        QCOMPARE(jpeg.name, std::string("Sample.jpg"));
        QCOMPARE(jpeg.size, 9894u);
        QCOMPARE(jpeg.compression, FileObject::kCompressNone);
    }

    void responsesNameTheirParents()
    {
        // A response's $REF holds its parent's UNID, and the note header its parent's ID.
        // history.nsf carries one damaged byte there: note 0x210A's $REF differs from the
        // UNID of its parent 0x20FE in one byte (E1 for EA); the check allows exactly that.
        int checked = 0;
        int damaged = 0;
        for (const char* name : {"response.nsf", "hierarch.nsf", "history.nsf"}) {
            const auto db = Database::open(samplePath(name));
            std::map<NoteId, Unid> unids;
            std::vector<std::pair<Note, std::vector<Unid>>> responses;
            for (NoteId id : db->noteIds()) {
                Note note;
                try {
                    note = db->readNote(id);
                } catch (const FormatError&) {
                    continue;
                }
                unids[note.id] = note.unid;
                const Item* ref = note.find("$REF");
                if (ref && ref->ok() && ref->type == kTypeNoteRefList)
                    responses.emplace_back(note, decodeNoteRefList(ref->value));
            }
            for (const auto& [note, refs] : responses) {
                QCOMPARE(refs.size(), std::size_t(1));
                QVERIFY(unids.count(note.parentId));
                const Unid& parent = unids[note.parentId];
                if (refs[0] == parent) {
                    ++checked;
                    continue;
                }
                int differing = 0;
                for (std::size_t i = 0; i < 16; ++i)
                    differing += refs[0].bytes[i] != parent.bytes[i];
                QCOMPARE(std::string(name) + " " + std::to_string(note.id),
                         std::string("history.nsf ") + std::to_string(0x210A));
                QCOMPARE(differing, 1);
                ++damaged;
            }
        }
        QVERIFY2(checked >= 6, std::to_string(checked).c_str());
        QCOMPARE(damaged, 1);
    }

    void fileHotspotsNameAttachments()
    {
        // A rich-text field shows an attached file as a hotspot naming the file's $FILE item.
        int checked = 0;
        for (const char* name : {"attachment.nsf", "ftsearch.nsf"}) {
            const auto db = Database::open(samplePath(name));
            for (NoteId id : db->noteIds()) {
                Note note;
                try {
                    note = db->readNote(id);
                } catch (const FormatError&) {
                    continue;
                }
                std::set<std::string> files;
                for (const Item* item : note.findAll("$FILE"))
                    if (item->ok())
                        files.insert(decodeFileObject(item->value).name);
                std::map<std::string, std::vector<Bytes>> fields;
                for (const Item& item : note.items)
                    if (item.type == kTypeComposite && item.ok())
                        fields[item.name].emplace_back(item.value);
                for (const auto& [field, parts] : fields) {
                    RichTextContent content;
                    try {
                        content = richTextContent(parts);
                    } catch (const FormatError&) {
                        continue;
                    }
                    for (const RichTextFile& f : content.files) {
                        QVERIFY2(files.count(f.internalName), f.internalName.c_str());
                        ++checked;
                    }
                }
            }
        }
        QVERIFY2(checked >= 2, std::to_string(checked).c_str());
    }

    void everyValueOfTheBasicSamplesDecodes()
    {
        // In these samples every document's values of the types decoded here read without
        // error. (Design notes are left out: several $UpdatedBy lists in them carry a
        // damaged length byte, 52 where the name has 49 bytes, and rightly fail.)
        for (const char* name : {"simple.nsf", "intro.nsf", "numlist.nsf", "summary.nsf",
                                 "richtext.nsf", "MIMEMsg.nsf"}) {
            const auto db = Database::open(samplePath(name));
            for (NoteId id : db->noteIds()) {
                const Note note = db->readNote(id);
                if ((note.noteClass & 0x7FFF) != noteclass::kDocument)
                    continue;
                for (const Item& item : note.items) {
                    if (!item.ok() || item.hasFlag(kItemPlaceholder))
                        continue;
                    try {
                        decodeByType(item);
                    } catch (const FormatError& e) {
                        QFAIL(qPrintable(QStringLiteral("%1 note %2 item %3: %4")
                                             .arg(QString::fromLatin1(name))
                                             .arg(id)
                                             .arg(qs(item.name), QString::fromUtf8(e.what()))));
                    }
                }
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestNsfSampleValues)
#include "tst_nsfsamplevalues.moc"
