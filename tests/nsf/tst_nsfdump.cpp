// tarvik-nsfdump, run as a program on the real sample databases and on damaged and hostile
// copies of them: every note listed, the documented values, the JSON form, attachments
// extracted whole and only inside the chosen folder, and exit statuses that say what was read.

#include "NsfDumpFiles.h"
#include "ToolRun.h"

#include "nsf/Database.h"
#include "nsf/ObjectItem.h"
#include "nsf/RichText.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <map>
#include <set>

#include <sys/resource.h>

using namespace tarvik;
using namespace tarvik::nsf;
using tarvik::test::ToolRun;

namespace {

QString samplesDir()
{
    return QStringLiteral(TARVIK_NSF_SAMPLES);
}

QString samplePath(const QString& name)
{
    return QDir(samplesDir()).filePath(name);
}

QString samplePath(const char* name)
{
    return samplePath(QString::fromLatin1(name));
}

ToolRun dump(const QStringList& args)
{
    return test::runTool(test::builtTool("tarvik-nsfdump"), args, 60000);
}

struct Sample {
    const char* file;
    int notes;       // every note of the file
    int failedItems; // items the file cannot give whole (damaged bytes in the sample)
};

// The notes of each sample, as an independent walk of the files (header, bucket descriptor
// block, the superblock's live copy of a relocation bucket, relocation buckets; entries that do
// not lead to an object) counted them, and the items whose bytes are damaged in the sample as
// published: text lists whose lengths do not add up, rich text whose record lengths run past
// their item, values that cannot be located in two notes, a time of day beyond a day, a time list
// announcing ranges it does not hold, an attachment whose size differs from its record's.
const Sample kSamples[] = {
    {"MIMEMsg.nsf", 7, 2},     {"acls.nsf", 27, 0},      {"addintst.nsf", 13, 0},
    {"attachment.nsf", 13, 0}, {"big_rich.nsf", 12, 0},  {"billdrv.nsf", 34, 2},
    {"conflict.nsf", 9, 0},    {"dbdriver.nsf", 14, 1},  {"dbdrtest.nsf", 12, 1},
    {"dbpolicy.nsf", 6, 0},    {"des_coll.nsf", 19, 1},  {"discuss.nsf", 16, 0},
    {"doclink1.nsf", 15, 1},   {"embedole.nsf", 8, 0},   {"encrypt.nsf", 13, 1},
    {"export.nsf", 17, 1},     {"faxsrc.nsf", 9, 1},     {"formula.nsf", 14, 1},
    {"ftsearch.nsf", 39, 2},   {"hierarch.nsf", 29, 2},  {"history.nsf", 30, 2},
    {"id.nsf", 10, 0},         {"idstore.nsf", 13, 0},   {"importer.nsf", 13, 0},
    {"intro.nsf", 22, 0},      {"lgimport.nsf", 14, 0},  {"majorversion.nsf", 5, 0},
    {"makeform.nsf", 28, 1},   {"makenav.nsf", 7, 0},    {"makeview.nsf", 27, 1},
    {"marktest.nsf", 6, 1},    {"na_test.nsf", 184, 10}, {"nf_doc.nsf", 11, 2},
    {"notecwf.nsf", 7, 1},     {"notesflo.nsf", 8, 1},   {"numlist.nsf", 19, 1},
    {"pg_doc.nsf", 32, 4},     {"privs.nsf", 16, 0},     {"problems.nsf", 16, 2},
    {"readform.nsf", 30, 1},   {"readview.nsf", 10, 0},  {"reptest.nsf", 5, 1},
    {"response.nsf", 16, 1},   {"richtext.nsf", 14, 0},  {"runmacro.nsf", 32, 1},
    {"simple.nsf", 11, 0},     {"srch_all.nsf", 32, 1},  {"statdemo.nsf", 16, 1},
    {"summary.nsf", 20, 1},    {"threads.nsf", 7, 0},
};

QJsonObject parseDump(const ToolRun& run, QString* problem)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(run.output, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        *problem = QStringLiteral("the output is not a JSON object: ") + error.errorString();
        return {};
    }
    return doc.object();
}

// The documented form: exactly these keys, of these types. Returns what is wrong, or nothing.
QString shapeProblem(const QJsonObject& dump)
{
    const auto keysOf = [](const QJsonObject& o) {
        QStringList keys = o.keys();
        keys.sort();
        return keys.join(u',');
    };
    const QString top = keysOf(dump);
    if (top != QStringLiteral("categories,notes,ods,replicaId,title") &&
        top != QStringLiteral("categories,errors,notes,ods,replicaId,title"))
        return QStringLiteral("database keys ") + top;
    if (!dump[u"ods"].isDouble() || !dump[u"title"].isString() || !dump[u"categories"].isString() ||
        !QRegularExpression(QStringLiteral("^[0-9A-F]{8}:[0-9A-F]{8}$"))
             .match(dump[u"replicaId"].toString())
             .hasMatch() ||
        !dump[u"notes"].isArray())
        return QStringLiteral("database values");
    static const QRegularExpression unid(QStringLiteral("^[0-9A-F]{32}$"));
    static const QRegularExpression time(
        QStringLiteral("^(-?\\d{4,}-\\d\\d-\\d\\d(T\\d\\d:\\d\\d:\\d\\d\\.\\d\\dZ)?|"
                       "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d|\\*)$"));
    for (const QJsonValue& n : dump[u"notes"].toArray()) {
        const QJsonObject note = n.toObject();
        const QString id = QString::number(note[u"id"].toInteger());
        if (!note[u"id"].isDouble())
            return QStringLiteral("a note without an ID");
        if (note.contains(u"error")) {
            if (keysOf(note) != QStringLiteral("error,id") || !note[u"error"].isString())
                return QStringLiteral("note %1: keys of an unread note %2").arg(id, keysOf(note));
            continue;
        }
        const QString keys = keysOf(note);
        if (keys != QStringLiteral("class,flags,id,items,modified,parent,sequence,unid") &&
            keys != QStringLiteral("class,flags,id,items,modified,parent,sequence,unid,warnings"))
            return QStringLiteral("note %1: keys %2").arg(id, keys);
        for (const char16_t* number : {u"class", u"flags", u"parent", u"sequence"})
            if (!note[number].isDouble())
                return QStringLiteral("note %1: %2 is not a number")
                    .arg(id, QStringView(number).toString());
        if (!unid.match(note[u"unid"].toString()).hasMatch() ||
            !time.match(note[u"modified"].toString()).hasMatch())
            return QStringLiteral("note %1: UNID or modified time").arg(id);
        if (note.contains(u"warnings")) {
            const QJsonArray warnings = note[u"warnings"].toArray();
            if (warnings.isEmpty() ||
                std::any_of(warnings.begin(), warnings.end(),
                            [](const QJsonValue& w) { return !w.isString(); }))
                return QStringLiteral("note %1: warnings").arg(id);
        }
        for (const QJsonValue& i : note[u"items"].toArray()) {
            const QJsonObject item = i.toObject();
            const QString where =
                QStringLiteral("note %1 item %2: ").arg(id, item[u"name"].toString());
            if (!item[u"name"].isString() || !item[u"type"].isDouble() ||
                !item[u"flags"].isDouble())
                return where + QStringLiteral("name, type, flags");
            for (const QString& key : item.keys())
                if (!QStringList{QStringLiteral("name"), QStringLiteral("type"),
                                 QStringLiteral("flags"), QStringLiteral("size"),
                                 QStringLiteral("values"), QStringLiteral("text"),
                                 QStringLiteral("file"), QStringLiteral("error")}
                         .contains(key))
                    return where + QStringLiteral("unknown key ") + key;
            if (item.contains(u"values") == item.contains(u"size") && !item.contains(u"error"))
                return where + QStringLiteral("neither values nor size, or both");
            if (item.contains(u"values") && item.contains(u"size"))
                return where + QStringLiteral("values with a size");
            if ((item.contains(u"size") && !item[u"size"].isDouble()) ||
                (item.contains(u"values") && !item[u"values"].isArray()) ||
                (item.contains(u"text") && !item[u"text"].isString()) ||
                (item.contains(u"error") && !item[u"error"].isString()))
                return where + QStringLiteral("types");
            for (const QJsonValue& v : item[u"values"].toArray())
                if (!v.isString() && !v.isDouble() && !v.isNull())
                    return where + QStringLiteral("a value that is neither text nor number");
            const int type = item[u"type"].toInt();
            if (item.contains(u"text") && type != 1 && type != 25)
                return where + QStringLiteral("text on an item that is not rich text or MIME");
            if (item.contains(u"file")) {
                const QJsonObject file = item[u"file"].toObject();
                if (keysOf(file) != QStringLiteral("compression,name,size") ||
                    !file[u"name"].isString() || !file[u"size"].isDouble() ||
                    !file[u"compression"].isDouble() || type != 3)
                    return where + QStringLiteral("file ") + keysOf(file);
            }
        }
    }
    return {};
}

QJsonObject noteOf(const QJsonObject& dump, qint64 id)
{
    for (const QJsonValue& n : dump[u"notes"].toArray())
        if (n[u"id"].toInteger() == id)
            return n.toObject();
    return {};
}

// The items of that name, in stored order.
QList<QJsonObject> itemsOf(const QJsonObject& note, const QString& name)
{
    QList<QJsonObject> out;
    for (const QJsonValue& i : note[u"items"].toArray())
        if (i[u"name"].toString().compare(name, Qt::CaseInsensitive) == 0)
            out.append(i.toObject());
    return out;
}

QJsonArray valuesOf(const QJsonObject& note, const char* name)
{
    const QList<QJsonObject> items = itemsOf(note, QString::fromLatin1(name));
    return items.isEmpty() ? QJsonArray() : items.first()[u"values"].toArray();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAt(const QString& path, qint64 offset, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.seek(offset) && f.write(bytes) == bytes.size();
}

QString copyOf(const QTemporaryDir& dir, const char* sample)
{
    const QString copy = dir.filePath(QString::fromLatin1(sample));
    QFile::remove(copy);
    if (!QFile::copy(samplePath(sample), copy))
        return {};
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    return copy;
}

// Where the n-th $FILE item of a note lies in the file, for changing its copy.
const Item* fileItem(const Note& note, std::size_t n)
{
    const std::vector<const Item*> files = note.findAll("$FILE");
    return n < files.size() ? files[n] : nullptr;
}

} // namespace

class TestNsfDump : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(test::builtTool("tarvik-nsfdump")),
                 qPrintable(test::builtTool("tarvik-nsfdump")));
        QCOMPARE(QDir(samplesDir()).entryList({QStringLiteral("*.nsf")}, QDir::Files).size(),
                 int(std::size(kSamples)));
    }

    void everyNoteOfEverySampleIsListed_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("notes");
        QTest::addColumn<int>("failedItems");
        for (const Sample& s : kSamples)
            QTest::newRow(s.file) << QString::fromLatin1(s.file) << s.notes << s.failedItems;
    }
    void everyNoteOfEverySampleIsListed()
    {
        QFETCH(QString, file);
        QFETCH(int, notes);
        QFETCH(int, failedItems);
        const ToolRun run = dump({QStringLiteral("--json"), samplePath(file)});
        QCOMPARE(run.exitCode, failedItems ? 1 : 0);
        QString problem;
        const QJsonObject json = parseDump(run, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        problem = shapeProblem(json);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));

        // The notes in note-ID order: those the reader lists, as many as the files hold.
        const auto db = Database::open(samplePath(file).toStdString());
        std::vector<NoteId> listed;
        for (const QJsonValue& n : json[u"notes"].toArray())
            listed.push_back(NoteId(n[u"id"].toInteger()));
        QCOMPARE(listed, db->noteIds());
        QCOMPARE(int(listed.size()), notes);
        QCOMPARE(json[u"ods"].toInt(), int(db->info().ods));

        // Every note read; every item that failed is named on standard error, and nothing else.
        int failed = 0, items = 0;
        for (const QJsonValue& n : json[u"notes"].toArray()) {
            QVERIFY2(!n.toObject().contains(u"error"), qPrintable(n[u"error"].toString()));
            const Note note = db->readNote(NoteId(n[u"id"].toInteger()));
            const QJsonArray noteItems = n[u"items"].toArray();
            QCOMPARE(noteItems.size(), qsizetype(note.items.size()));
            for (qsizetype i = 0; i < noteItems.size(); ++i) {
                const QJsonObject item = noteItems[i].toObject();
                QCOMPARE(item[u"name"].toString(), QString::fromStdString(note.items[i].name));
                QCOMPARE(item[u"flags"].toInt(), int(note.items[i].flags));
                ++items;
                if (!item.contains(u"error"))
                    continue;
                ++failed;
                const QByteArray line = "note " + QByteArray::number(note.id) + " (0x" +
                                        QByteArray::number(note.id, 16).toUpper() + "), item " +
                                        QByteArray::number(i + 1) + " \"" +
                                        item[u"name"].toString().toUtf8() + "\"";
                QVERIFY2(run.errors.contains(line), line.constData());
            }
        }
        QCOMPARE(failed, failedItems);
        QCOMPARE(int(run.errors.count('\n')), failed);
        QVERIFY(items > 0);
    }

    void theReadableFormHasOneLinePerItem()
    {
        const ToolRun run = dump({samplePath("intro.nsf")});
        QCOMPARE(run.exitCode, 0);
        const QList<QByteArray> lines = run.output.split('\n');
        QVERIFY(lines.first().contains("title \"API Test Database (intro)\", categories "
                                       "\"Category 1,Category 2\""));
        int notes = 0, items = 0;
        for (const QByteArray& line : lines) {
            notes += line.startsWith("note ");
            items += line.startsWith("  \"");
        }
        QCOMPARE(notes, 22);
        const ToolRun json = dump({QStringLiteral("--json"), samplePath("intro.nsf")});
        QString problem;
        int jsonItems = 0;
        for (const QJsonValue& n : parseDump(json, &problem)[u"notes"].toArray())
            jsonItems += int(n[u"items"].toArray().size());
        QCOMPARE(items, jsonItems);
        QVERIFY(run.output.contains("note 270 (0x10E): ACL, class 0x0040, flags 0x0002, UNID "
                                    "99F377D7EA4D544B85255F1D0077217A, sequence 10, modified "
                                    "2002-02-21T17:38:06.19Z\n"));
        QVERIFY(lines[lines.size() - 2].startsWith("22 notes (0 not read), "));
    }

    void introAsTheSampleDocumentsIt()
    {
        const ToolRun run = dump({QStringLiteral("--json"), samplePath("intro.nsf")});
        QCOMPARE(run.exitCode, 0);
        QString problem;
        const QJsonObject json = parseDump(run, &problem);
        QCOMPARE(json[u"title"].toString(), QStringLiteral("API Test Database (intro)"));
        QCOMPARE(json[u"categories"].toString(), QStringLiteral("Category 1,Category 2"));
        QCOMPARE(json[u"ods"].toInt(), 43);
        QCOMPARE(json[u"replicaId"].toString(), QStringLiteral("85255F1D:007720ED"));
        // The ACL note: its UNID file part first (as Notes prints UNIDs: the example
        // shows the two halves the other way round).
        const QJsonObject acl = noteOf(json, 270);
        QCOMPARE(acl[u"unid"].toString(), QStringLiteral("99F377D7EA4D544B85255F1D0077217A"));
        QCOMPARE(acl[u"class"].toInt(), 64);
        QCOMPARE(acl[u"flags"].toInt(), 2);
        QCOMPARE(acl[u"sequence"].toInt(), 10);
        QCOMPARE(acl[u"modified"].toString(), QStringLiteral("2002-02-21T17:38:06.19Z"));
        QCOMPARE(acl[u"parent"].toInt(), 0);
        const QJsonObject updatedBy = itemsOf(acl, QStringLiteral("$UpdatedBy")).first();
        QCOMPARE(updatedBy[u"type"].toInt(), 1281);
        QCOMPARE(updatedBy[u"flags"].toInt(), 76);
        QCOMPARE(updatedBy[u"values"].toArray(),
                 QJsonArray{QStringLiteral("CN=Notes Programmability/O=Lotus Notes Companion "
                                           "Products")});
        const QJsonObject signature = itemsOf(acl, QStringLiteral("$Signature")).first();
        QCOMPARE(signature[u"size"].toInt(), 818);

        // The same note by its ID in hexadecimal, and alone.
        const ToolRun one = dump({QStringLiteral("--json"), QStringLiteral("--note"),
                                  QStringLiteral("0x10e"), samplePath("intro.nsf")});
        QCOMPARE(one.exitCode, 0);
        const QJsonArray notes = parseDump(one, &problem)[u"notes"].toArray();
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes[0].toObject(), acl);
    }

    void simpleSummaryAndNumlistAsTheirProgramsPrintThem()
    {
        QString problem;
        // rsimple: text, number, time (written at 15:14:44 New York summer time), text list.
        const QJsonObject simple =
            parseDump(dump({QStringLiteral("--json"), samplePath("simple.nsf")}), &problem);
        QVERIFY(problem.isEmpty());
        const QJsonObject fox = noteOf(simple, 0x8FE);
        QCOMPARE(valuesOf(fox, "PLAIN_TEXT"),
                 QJsonArray{QStringLiteral("The quick brown fox jumped over the lazy dogs.")});
        QCOMPARE(valuesOf(fox, "NUMBER"), QJsonArray{125.007});
        QCOMPARE(valuesOf(fox, "TIME_DATE"), QJsonArray{QStringLiteral("1993-07-14T19:14:44.11Z")});
        QCOMPARE(valuesOf(fox, "TEXT_LIST").last().toString(), QStringLiteral("Chuck"));
        QCOMPARE(valuesOf(noteOf(simple, 0x8F6), "TIME_DATE"),
                 QJsonArray{QStringLiteral("1988-01-15")});

        // summary: every item of the first document, in stored order.
        const QJsonObject summary =
            parseDump(dump({QStringLiteral("--json"), samplePath("summary.nsf")}), &problem);
        const QJsonArray items = noteOf(summary, 0x20FA)[u"items"].toArray();
        QStringList names;
        for (const QJsonValue& i : items)
            names << i[u"name"].toString();
        QCOMPARE(names, (QStringList{QStringLiteral("Form"), QStringLiteral("plain_text"),
                                     QStringLiteral("number"), QStringLiteral("time_date"),
                                     QStringLiteral("text_list")}));
        QCOMPARE(items[0][u"values"].toArray(), QJsonArray{QStringLiteral("SimpleDataForm")});
        QCOMPARE(items[1][u"values"].toArray(),
                 QJsonArray{QStringLiteral("This is a line of simple text.")});
        QCOMPARE(items[2][u"type"].toInt(), 768);
        QCOMPARE(items[2][u"values"].toArray(), QJsonArray{0.000987});
        QCOMPARE(items[3][u"type"].toInt(), 1024);
        QCOMPARE(items[3][u"values"].toArray(), QJsonArray{QStringLiteral("1988-01-15")});
        QCOMPARE(items[4][u"type"].toInt(), 1281);
        QCOMPARE(items[4][u"values"].toArray(),
                 (QJsonArray{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three"),
                             QStringLiteral("four")}));

        // numlist: a number list.
        const QJsonObject numlist =
            parseDump(dump({QStringLiteral("--json"), samplePath("numlist.nsf")}), &problem);
        bool found = false;
        for (const QJsonValue& n : numlist[u"notes"].toArray())
            for (const QJsonObject& item : itemsOf(n.toObject(), QStringLiteral("NUMBER")))
                if (item[u"values"].toArray() == QJsonArray{2.7182818284, -1, 3.14159, 0, 1})
                    found = item[u"type"].toInt() == 769;
        QVERIFY(found);
    }

    void responsesRichTextAndAFieldOverSeveralItems()
    {
        QString problem;
        // A response names its parent by note ID; its $REF (type 4) by the parent's UNID.
        const QJsonObject response =
            parseDump(dump({QStringLiteral("--json"), samplePath("hierarch.nsf")}), &problem);
        int responses = 0;
        for (const QJsonValue& n : response[u"notes"].toArray()) {
            const QList<QJsonObject> refs = itemsOf(n.toObject(), QStringLiteral("$REF"));
            if (refs.isEmpty())
                continue;
            ++responses;
            QCOMPARE(refs.first()[u"type"].toInt(), 4);
            const QJsonObject parent = noteOf(response, n[u"parent"].toInteger());
            QCOMPARE(refs.first()[u"values"].toArray(), QJsonArray{parent[u"unid"]});
        }
        QCOMPARE(responses, 3);

        // rrich prints this text of richtext.nsf's note 212A.
        const QJsonObject rich =
            parseDump(dump({QStringLiteral("--json"), samplePath("richtext.nsf")}), &problem);
        const QString text =
            itemsOf(noteOf(rich, 0x212A), QStringLiteral("RICH_TEXT")).first()[u"text"].toString();
        QVERIFY2(text.startsWith(QStringLiteral("This is some rich text.\nThis is a centered "
                                                "paragraph\n")),
                 qPrintable(text));

        // A field kept in six items, a table running from the first into the last: its text is
        // given once, with the first item, the table's cells in reading order.
        const QJsonObject book =
            parseDump(dump({QStringLiteral("--json"), QStringLiteral("--note=614"),
                            samplePath("na_test.nsf")}),
                      &problem);
        const QList<QJsonObject> parts = itemsOf(noteOf(book, 614), QStringLiteral("$BODY"));
        QCOMPARE(parts.size(), 6);
        QVERIFY(parts[0][u"text"].toString().startsWith(
            QStringLiteral("HOW TO SET UP THE ADDRESS PICKER\n")));
        for (int i = 1; i < parts.size(); ++i)
            QVERIFY(!parts[i].contains(u"text") && parts[i][u"size"].toInt() > 0);
        const auto db = Database::open(samplePath("na_test.nsf").toStdString());
        std::vector<Bytes> values;
        const Note note = db->readNote(614);
        for (const Item* item : note.findAll("$BODY"))
            values.emplace_back(item->value);
        QCOMPARE(parts[0][u"text"].toString(),
                 QString::fromStdString(richTextContent(values).text));
    }

    void mimeMemosWithTheirPartsAndAttachments()
    {
        // parseMMMsg's readme: three memos, their subjects, sender, MIME structure and files.
        QTemporaryDir dir;
        const QString files = dir.filePath(QStringLiteral("files"));
        const ToolRun run = dump({QStringLiteral("--json"), QStringLiteral("--extract"), files,
                                  samplePath("MIMEMsg.nsf")});
        QCOMPARE(run.exitCode, 1);
        QString problem;
        const QJsonObject json = parseDump(run, &problem);
        QVERIFY(problem.isEmpty());
        struct Memo {
            qint64 id;
            const char* subject;
            const char* posted;
            int parts;
            QStringList texts; // the start of each text part, in order
            QStringList attachments;
        };
        const Memo memos[] = {
            {0x8F6,
             "MIME message(plain text)",
             "2006-08-11T08:56:48.29Z",
             4,
             {QStringLiteral("This is a test message."), QStringLiteral("\r\n<br><font size=2")},
             {}},
            {0x8FA,
             "MIME message(with txt attachment)",
             "2006-08-11T09:00:40.05Z",
             7,
             {QStringLiteral("This is a text message, with a txt file attached."),
              QStringLiteral("\r\n<br><font size=2"),
              QStringLiteral("You can replace the default")},
             {QStringLiteral("New Text Document.txt")}},
            {0x8FE,
             "MIME message with attachmetn(Txt/BMP/Jpg) and inline images",
             "2006-08-11T09:07:57.18Z",
             15,
             {QStringLiteral("You can get two types of Help in Notes:"),
              QStringLiteral("\r\n<br><font size=1"),
              QStringLiteral("You can replace the default")},
             {QStringLiteral("Plain.txt"), QStringLiteral("Sample.jpg"),
              QStringLiteral("sampleBMP.bmp"), QStringLiteral("mswin32.mak")}},
        };
        for (const Memo& memo : memos) {
            const QJsonObject note = noteOf(json, memo.id);
            QCOMPARE(valuesOf(note, "Subject"), QJsonArray{QString::fromLatin1(memo.subject)});
            QCOMPARE(valuesOf(note, "From"), QJsonArray{QStringLiteral("CN=admin/O=ibm")});
            QCOMPARE(valuesOf(note, "SendTo"), QJsonArray{QStringLiteral("admin@cn.ibm.com")});
            QCOMPARE(valuesOf(note, "PostedDate"), QJsonArray{QString::fromLatin1(memo.posted)});
            QVERIFY(valuesOf(note, "DeliveredDate")[0].toString() > QLatin1String(memo.posted));
            const QList<QJsonObject> body = itemsOf(note, QStringLiteral("Body"));
            QCOMPARE(body.size(), memo.parts);
            QStringList texts;
            for (const QJsonObject& part : body) {
                QCOMPARE(part[u"type"].toInt(), 25);
                if (part.contains(u"text"))
                    texts << part[u"text"].toString();
            }
            QCOMPARE(texts.size(), memo.texts.size());
            for (int i = 0; i < texts.size(); ++i)
                QVERIFY2(texts[i].startsWith(memo.texts[i]), qPrintable(texts[i]));
            QStringList attached;
            for (const QJsonObject& file : itemsOf(note, QStringLiteral("$FILE")))
                attached << file[u"file"][u"name"].toString();
            QCOMPARE(attached, memo.attachments);
        }
        // The one damaged value and the one attachment whose record and bytes disagree.
        QVERIFY(itemsOf(noteOf(json, 0x8FA), QStringLiteral("RouteTimes"))
                    .first()[u"error"]
                    .toString()
                    .contains(QStringLiteral("4 of the ranges it announces are not there")));
        const QJsonObject mak = itemsOf(noteOf(json, 0x8FE), QStringLiteral("$FILE")).last();
        QCOMPARE(mak[u"file"][u"size"].toInt(), 749);
        QVERIFY(mak[u"error"].toString().endsWith(
            QStringLiteral("holds 738 bytes, the attachment records 749 bytes")));
        QVERIFY(run.errors.contains("note 2302 (0x8FE), item 5 \"$FILE\" (\"mswin32.mak\")"));
        // What it holds is kept, marked: never under the name of a whole attachment.
        QCOMPARE(readFile(QDir(files).filePath(QStringLiteral("mswin32.mak.damaged"))).size(), 738);
        QVERIFY(!QFileInfo::exists(QDir(files).filePath(QStringLiteral("mswin32.mak"))));
    }

    void everyAttachmentComesOutWhole()
    {
        QTemporaryDir dir;
        int attachments = 0;
        std::map<QString, QByteArray> byName;
        for (const Sample& s : kSamples) {
            const auto db = Database::open(samplePath(s.file).toStdString());
            std::vector<FileObject> recorded;
            for (NoteId id : db->noteIds()) {
                const Note note = db->readNote(id);
                for (const Item* item : note.findAll("$FILE"))
                    recorded.push_back(decodeFileObject(item->value));
            }
            if (recorded.empty())
                continue;
            const QString files = dir.filePath(QString::fromLatin1(s.file));
            const ToolRun run = dump({QStringLiteral("--extract"), files, samplePath(s.file)});
            QCOMPARE(run.exitCode, s.failedItems ? 1 : 0);
            QDir folder(files);
            QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
                     int(recorded.size()));
            for (const FileObject& file : recorded) {
                ++attachments;
                const QString name = QString::fromStdString(file.name);
                QByteArray bytes = readFile(folder.filePath(name));
                if (bytes.isEmpty()) { // the one damaged attachment
                    QCOMPARE(name, QStringLiteral("mswin32.mak"));
                    continue;
                }
                QCOMPARE(bytes.size(), qsizetype(file.size));
                byName[QString::fromLatin1(s.file) + u'/' + name] = std::move(bytes);
            }
        }
        QCOMPARE(attachments, 13);

        const QByteArray jpeg = byName.at(QStringLiteral("MIMEMsg.nsf/Sample.jpg"));
        QVERIFY(jpeg.startsWith("\xFF\xD8") && jpeg.endsWith("\xFF\xD9"));
        const QByteArray bmp = byName.at(QStringLiteral("MIMEMsg.nsf/sampleBMP.bmp"));
        QVERIFY(bmp.startsWith("BM"));
        QCOMPARE(qFromLittleEndian<quint32>(bmp.constData() + 2), quint32(bmp.size()));
        for (const char* name : {"MIMEMsg.nsf/Plain.txt", "attachment.nsf/tms.log"}) {
            const QByteArray t = byName.at(QString::fromLatin1(name));
            QVERIFY2(std::all_of(t.begin(), t.end(),
                                 [](char c) {
                                     return c == '\r' || c == '\n' || c == '\t' ||
                                            (c >= 0x20 && c < 0x7F);
                                 }),
                     name);
        }
        // The text part whose body is this attachment shows the same text.
        QString problem;
        const QJsonObject json =
            parseDump(dump({QStringLiteral("--json"), samplePath("MIMEMsg.nsf")}), &problem);
        const QString plain =
            QString::fromLatin1(byName.at(QStringLiteral("MIMEMsg.nsf/Plain.txt")));
        bool shown = false;
        for (const QJsonObject& part : itemsOf(noteOf(json, 0x8FE), QStringLiteral("Body")))
            shown = shown || part[u"text"].toString() == plain;
        QVERIFY(shown);
    }

    void extractionNeverLeavesItsFolderNorOverwrites()
    {
        QTemporaryDir dir;
        const QString files = dir.filePath(QStringLiteral("files"));
        QVERIFY(QDir().mkpath(files));
        // Already there: a file of one attachment's name, a link of another's leading outside.
        const QString outside = dir.filePath(QStringLiteral("outside.txt"));
        QVERIFY(writeAt(outside, 0, "outside"));
        QVERIFY(writeAt(QDir(files).filePath(QStringLiteral("Sample.jpg")), 0, "mine"));
        QVERIFY(QFile::link(outside, QDir(files).filePath(QStringLiteral("Plain.txt"))));

        // A copy whose attachment names try to leave the folder or hide.
        const QString copy = copyOf(dir, "MIMEMsg.nsf");
        QVERIFY(!copy.isEmpty());
        const auto db = Database::open(samplePath("MIMEMsg.nsf").toStdString());
        const Note memo = db->readNote(0x8FE);
        const Note other = db->readNote(0x8FA);
        // The names' places: after 36 bytes of the $FILE value. Lengths stay as they are.
        const auto rename = [&](const Item* item, const QByteArray& name) {
            return writeAt(copy, qint64(item->valueOffset) + 36, name);
        };
        QVERIFY(rename(fileItem(memo, 2), QByteArrayLiteral("../../x.bmp\r\n"))); // 13 bytes
        // (LMBCS: group 0x14 and two bytes are one UTF-16 unit, here U+202E, a direction
        // override.)
        QVERIFY(rename(fileItem(other, 0),
                       QByteArrayLiteral("..\\..\\.\x7F\x14\x20\x2E"
                                         "ab.txt.exe"))); // 21 bytes

        const ToolRun run = dump({QStringLiteral("--extract"), files, copy});
        QCOMPARE(run.exitCode, 1); // mswin32.mak, as in the sample
        QCOMPARE(readFile(outside), QByteArray("outside"));
        QCOMPARE(readFile(QDir(files).filePath(QStringLiteral("Sample.jpg"))), QByteArray("mine"));
        QCOMPARE(QFileInfo(QDir(files).filePath(QStringLiteral("Plain.txt"))).symLinkTarget(),
                 outside);
        QStringList names = QDir(files).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                  QDir::Hidden | QDir::System);
        names.sort();
        QCOMPARE(names,
                 (QStringList{QStringLiteral("Plain (2).txt"), QStringLiteral("Plain.txt"),
                              QStringLiteral("Sample (2).jpg"), QStringLiteral("Sample.jpg"),
                              QStringLiteral("___ab.txt.exe"),
                              QStringLiteral("mswin32.mak.damaged"), QStringLiteral("x.bmp__")}));
        QCOMPARE(readFile(QDir(files).filePath(QStringLiteral("Sample (2).jpg"))).size(), 9894);
        QCOMPARE(readFile(QDir(files).filePath(QStringLiteral("x.bmp__"))).size(), 296406);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 3);

        // Extracting again: every file a second time, under a name of its own.
        QCOMPARE(dump({QStringLiteral("--extract"), files, copy}).exitCode, 1);
        QVERIFY(QFileInfo::exists(QDir(files).filePath(QStringLiteral("x (2).bmp__"))));
        QVERIFY(QFileInfo::exists(QDir(files).filePath(QStringLiteral("Plain (3).txt"))));
        QVERIFY(QFileInfo::exists(QDir(files).filePath(QStringLiteral("mswin32 (2).mak.damaged"))));
        QCOMPARE(QDir(files).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 12);
    }

    void safeNames_data()
    {
        QTest::addColumn<QByteArray>("wanted");
        QTest::addColumn<QByteArray>("safe");
        QTest::newRow("plain") << QByteArray("Report 2008.xls") << QByteArray("Report 2008.xls");
        QTest::newRow("path") << QByteArray("C:\\docs\\a.txt") << QByteArray("a.txt");
        QTest::newRow("up") << QByteArray("../../etc/passwd") << QByteArray("passwd");
        QTest::newRow("only up") << QByteArray("..") << QByteArray("attachment");
        QTest::newRow("trailing separator") << QByteArray("dir/") << QByteArray("dir_");
        QTest::newRow("dots") << QByteArray("a..b...c") << QByteArray("a.b.c");
        QTest::newRow("hidden") << QByteArray(".profile") << QByteArray("_profile");
        QTest::newRow("spaces and dots") << QByteArray(" . x. ") << QByteArray("___x");
        QTest::newRow("controls") << QByteArray("a\tb\nc\x7F"
                                                "d")
                                  << QByteArray("a_b_c_d");
        QTest::newRow("nul") << QByteArray("a\0b", 3) << QByteArray("a_b");
        QTest::newRow("windows") << QByteArray("a<b>c:d\"e|f?g*h") << QByteArray("a_b_c_d_e_f_g_h");
        QTest::newRow("bad utf-8")
            << QByteArray("\xC3(\xED\xA0\x80.txt") << QByteArray("_(___.txt");
        QTest::newRow("override") << QByteArray("x\xE2\x80\xAEtxt.exe") << QByteArray("x_txt.exe");
        QTest::newRow("c1") << QByteArray("a\xC2\x85"
                                          "b")
                            << QByteArray("a_b");
        QTest::newRow("unicode") << QByteArray("Grüße 日本.txt") << QByteArray("Grüße 日本.txt");
        QTest::newRow("empty") << QByteArray() << QByteArray("attachment");
        QTest::newRow("underscores") << QByteArray("///") << QByteArray("attachment");
    }
    void safeNames()
    {
        QFETCH(QByteArray, wanted);
        QFETCH(QByteArray, safe);
        QCOMPARE(QByteArray::fromStdString(nsfdump::safeFileName(wanted.toStdString())), safe);
    }

    void longNamesAreCutKeepingTheirExtension()
    {
        const std::string stem(300, 'x');
        const std::string cut = nsfdump::safeFileName(stem + ".pdf");
        QCOMPARE(cut.size(), nsfdump::kMaxSafeName);
        QVERIFY(cut.ends_with("x.pdf"));
        // A character is never split: 150 two-byte characters give 100 whole ones.
        std::string umlauts;
        for (int i = 0; i < 150; ++i)
            umlauts += "\xC3\xA4";
        const std::string cutUmlauts = nsfdump::safeFileName(umlauts + "\xC3\xA4");
        QCOMPARE(cutUmlauts.size(), std::size_t(200));
        QCOMPARE(nsfdump::validUtf8(cutUmlauts), cutUmlauts);
        const std::string odd = nsfdump::safeFileName("a" + umlauts);
        QCOMPARE(odd.size(), std::size_t(199));
        QCOMPARE(nsfdump::validUtf8(odd), odd);
    }

    void writeFailuresAreNamedAndLeaveNothingHalf()
    {
        QTemporaryDir dir;
        const QString files = dir.filePath(QStringLiteral("deeper/files"));
        // A file size limit of 64 KiB: the bitmap (296,406 bytes) cannot be written, the
        // others can.
        QProcess p;
        p.setChildProcessModifier([] {
            const rlimit limit{64 * 1024, 64 * 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        p.start(test::builtTool("tarvik-nsfdump"),
                {QStringLiteral("--extract"), files, samplePath("MIMEMsg.nsf")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        const QByteArray errors = p.readAllStandardError();
        QVERIFY2(errors.contains("(\"sampleBMP.bmp\"): cannot write ") &&
                     errors.contains("sampleBMP.bmp: File too large"),
                 errors.constData());
        QVERIFY(!QFileInfo::exists(QDir(files).filePath(QStringLiteral("sampleBMP.bmp"))));
        QCOMPARE(readFile(QDir(files).filePath(QStringLiteral("Sample.jpg"))).size(), 9894);
        QVERIFY(p.readAllStandardOutput().contains("5 attachments of "));

        // A file where the folder should be: nothing can be extracted, nothing is dumped.
        const QString notAFolder = dir.filePath(QStringLiteral("plain"));
        QVERIFY(writeAt(notAFolder, 0, "x"));
        for (const QString& folder : {notAFolder, notAFolder + QStringLiteral("/below")}) {
            const ToolRun run =
                dump({QStringLiteral("--extract"), folder, samplePath("intro.nsf")});
            QCOMPARE(run.exitCode, 2);
            QVERIFY(run.output.isEmpty());
            QVERIFY2(run.errors.contains("cannot create the folder"), run.errors.constData());
        }
        QCOMPARE(readFile(notAFolder), QByteArray("x"));
    }

    void encryptedItemsAreNotGuessed()
    {
        // No sample has an encrypted document: a copy of a memo gets a seal (an item of type
        // 10, seal data, in place of its last attachment's type). Its items with the seal flag
        // are then encrypted for someone else; the rest of the memo, and the other memos with
        // the same flags, read as before.
        QTemporaryDir dir;
        const QString copy = copyOf(dir, "MIMEMsg.nsf");
        const auto db = Database::open(samplePath("MIMEMsg.nsf").toStdString());
        const Note memo = db->readNote(0x8FE);
        const Item* last = fileItem(memo, 3);
        QVERIFY(last && last->typeWordStored);
        QVERIFY(writeAt(copy, qint64(last->valueOffset) - 2, QByteArray("\x0A\x00", 2)));

        const QString files = dir.filePath(QStringLiteral("files"));
        const ToolRun run =
            dump({QStringLiteral("--json"), QStringLiteral("--extract"), files, copy});
        QCOMPARE(run.exitCode, 1);
        QString problem;
        const QJsonObject json = parseDump(run, &problem);
        QVERIFY(shapeProblem(json).isEmpty());
        const QJsonArray items = noteOf(json, 0x8FE)[u"items"].toArray();
        int encrypted = 0;
        for (qsizetype i = 0; i < items.size(); ++i) {
            const QJsonObject item = items[i].toObject();
            if (item[u"type"].toInt() == 10)
                continue; // the seal itself
            if (item[u"flags"].toInt() & 0x0002) {
                ++encrypted;
                QCOMPARE(item.keys(),
                         (QStringList{QStringLiteral("error"), QStringLiteral("flags"),
                                      QStringLiteral("name"), QStringLiteral("type")}));
                QCOMPARE(item[u"error"].toString(), QStringLiteral("item is encrypted"));
                QVERIFY(run.errors.contains("item " + QByteArray::number(i + 1) + " \"" +
                                            item[u"name"].toString().toUtf8() +
                                            "\": item is encrypted"));
            } else {
                QVERIFY(!item.contains(u"error"));
            }
        }
        QCOMPARE(encrypted, 3 + 15 + 1); // three attachments, fifteen MIME parts, wBody
        const QJsonObject other = noteOf(json, 0x8FA);
        QCOMPARE(itemsOf(other, QStringLiteral("Body"))[2][u"text"].toString(),
                 QStringLiteral("This is a text message, with a txt file attached.\r\n\r\n\r\n"));
        // Only the other memo's attachment comes out.
        QCOMPARE(QDir(files).entryList(QDir::Files),
                 QStringList{QStringLiteral("New Text Document.txt")});
    }

    void commandLineAndFilesThatAreNotDatabases()
    {
        QTemporaryDir dir;
        const ToolRun help = dump({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.output.contains("file part first"));
        QVERIFY(help.output.contains("type 4"));

        for (const QStringList& args :
             {QStringList{}, QStringList{QStringLiteral("--note")},
              QStringList{QStringLiteral("--note"), QStringLiteral("12x"), samplePath("intro.nsf")},
              QStringList{QStringLiteral("--note"), QStringLiteral("0x100000000"),
                          samplePath("intro.nsf")},
              QStringList{QStringLiteral("--bogus"), samplePath("intro.nsf")},
              QStringList{samplePath("intro.nsf"), samplePath("simple.nsf")},
              QStringList{QStringLiteral("--extract=")}}) {
            const ToolRun run = dump(args);
            QCOMPARE(run.exitCode, 2);
            QVERIFY(run.errors.contains("usage: tarvik-nsfdump"));
            QVERIFY(run.output.isEmpty());
        }
        // Not a database: missing, a folder, too short, something else entirely.
        const QString text = dir.filePath(QStringLiteral("text.nsf"));
        QVERIFY(writeAt(text, 0, QByteArray(4096, 'x')));
        const QString empty = dir.filePath(QStringLiteral("empty.nsf"));
        QVERIFY(writeAt(empty, 0, QByteArray()));
        for (const QString& file : {dir.filePath(QStringLiteral("missing.nsf")), dir.path(), text,
                                    empty, samplePath("README.md")}) {
            const ToolRun run = dump({QStringLiteral("--json"), file});
            QCOMPARE(run.exitCode, 2);
            QVERIFY(run.output.isEmpty());
            QVERIFY2(run.errors.contains("cannot be opened as a Notes database"),
                     run.errors.constData());
        }
        // A note that is not in the database: listed with its error.
        const ToolRun missing = dump({QStringLiteral("--json"), QStringLiteral("--note"),
                                      QStringLiteral("4"), samplePath("intro.nsf")});
        QCOMPARE(missing.exitCode, 1);
        QString problem;
        const QJsonArray notes = parseDump(missing, &problem)[u"notes"].toArray();
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes[0].toObject().keys(),
                 (QStringList{QStringLiteral("error"), QStringLiteral("id")}));
        QVERIFY(notes[0][u"error"].toString().contains(QStringLiteral("no note with ID 4")));
        QVERIFY(missing.errors.contains("note 4 (0x4): "));
    }

    void attachmentsSharingAnObjectCannotMultiplyTheWork()
    {
        // A hostile copy of MIMEMsg.nsf: a note of its own, kept at the end of the file, with
        // 300 $FILE items that all name the bitmap's object (296,406 bytes, Huffman coded).
        // Read 300 times that would be 89 MB from a file of under 0.5 MB; the dump stops at 16
        // times the file's size and 64 MiB, and names every attachment it did not read.
        QTemporaryDir dir;
        const QString copy = copyOf(dir, "MIMEMsg.nsf");
        QByteArray file = readFile(copy);
        const auto db = Database::open(copy.toStdString());
        const Note memo = db->readNote(0x8FE);
        const Item* bitmap = fileItem(memo, 2);
        QCOMPARE(decodeFileObject(bitmap->value).name, std::string("sampleBMP.bmp"));
        std::uint16_t fileName = 0;
        while (db->itemNames().at(fileName).name != "$FILE")
            ++fileName;

        const int count = 300;
        const QByteArray value(reinterpret_cast<const char*>(bitmap->value.data()),
                               qsizetype(bitmap->value.size()));
        QByteArray note(100, '\0');
        const auto put16 = [](QByteArray& b, qsizetype at, quint16 v) {
            qToLittleEndian(v, b.data() + at);
        };
        const auto put32 = [](QByteArray& b, qsizetype at, quint32 v) {
            qToLittleEndian(v, b.data() + at);
        };
        // An ID the map does not use, in a relocation bucket kept on disk (not the copy the
        // superblock keeps of one).
        // (MIMEMsg.nsf has two buckets, the first at 0x22000 for IDs 262 to 2290.)
        const qsizetype bucket = 0x22000;
        QCOMPARE(qFromLittleEndian<quint16>(file.constData() + bucket), quint16(0x2006));
        const quint32 first = qFromLittleEndian<quint32>(file.constData() + bucket + 6);
        NoteId id = first;
        while (db->findRrv(id))
            id += 4;
        QVERIFY(id < first + 4 * 508);
        put16(note, 0, 0x0004);
        put32(note, 6, id);
        put16(note, 40, noteclass::kDocument);
        put16(note, 50, count);
        for (int i = 0; i < count; ++i) {
            QByteArray descriptor(8, '\0');
            put16(descriptor, 0, fileName);
            put16(descriptor, 2, 0x0004 | kItemTypeFromName); // summary, no type word
            put16(descriptor, 4, quint16(value.size()));
            note += descriptor;
        }
        for (int i = 0; i < count; ++i)
            note += value;
        put32(note, 2, quint32(note.size()));
        const qsizetype at = (file.size() + 255) / 256 * 256;
        file.resize(at, '\0');
        file += note;

        // Its entry in that bucket, and the bucket's checksum.
        put32(file, bucket + 32 + 8 * ((id - first) / 4), quint32(at / 256));
        quint32 sum = 0;
        for (qsizetype w = bucket + 32; w < bucket + 4096; w += 4)
            sum ^= qFromLittleEndian<quint32>(file.constData() + w);
        put32(file, bucket + 18, sum);
        QFile::remove(copy);
        QVERIFY(writeAt(copy, 0, file));
        const std::vector<NoteId> ids = Database::open(copy.toStdString())->noteIds();
        QVERIFY(std::find(ids.begin(), ids.end(), id) != ids.end());

        const ToolRun run = dump({QStringLiteral("--json"), copy});
        QCOMPARE(run.exitCode, 1);
        QString problem;
        const QJsonObject json = parseDump(run, &problem);
        QVERIFY(problem.isEmpty());
        const QJsonArray items = noteOf(json, id)[u"items"].toArray();
        QCOMPARE(items.size(), count);
        int read = 0, refused = 0;
        for (const QJsonValue& item : items) {
            QCOMPARE(item[u"file"][u"name"].toString(), QStringLiteral("sampleBMP.bmp"));
            if (!item.toObject().contains(u"error"))
                ++read;
            else if (item[u"error"].toString().contains(QStringLiteral("16 times the file's")))
                ++refused;
        }
        // As many bitmaps as 16 times the file and 64 MiB hold (the note comes first, its ID
        // being lower than the memos'), to within the 64 KiB piece that is read at a time.
        const qint64 budget = 16 * qint64(QFileInfo(copy).size()) + (64 << 20);
        QVERIFY2(qint64(read) * 296406 <= budget && qint64(read + 1) * 296406 > budget - 65536,
                 qPrintable(QString::number(read)));
        QCOMPARE(read + refused, count);
        // The memos' five attachments after it are not read either, and each is named.
        for (const QJsonObject& file : itemsOf(noteOf(json, 0x8FE), QStringLiteral("$FILE")))
            QVERIFY(file[u"error"].toString().contains(QStringLiteral("16 times the file's")));
        QCOMPARE(int(run.errors.count("16 times the file's")), refused + 5);
    }

    void damagedCopiesGiveErrorsNotCrashes()
    {
        QTemporaryDir dir;
        const QByteArray original = readFile(samplePath("MIMEMsg.nsf"));
        const auto db = Database::open(samplePath("MIMEMsg.nsf").toStdString());
        std::uint64_t lastNoteEnd = 0;
        for (NoteId id : db->noteIds()) {
            const Note note = db->readNote(id);
            lastNoteEnd = std::max(lastNoteEnd, note.offset + note.recordSize);
        }
        const QString copy = dir.filePath(QStringLiteral("damaged.nsf"));
        const QString files = dir.filePath(QStringLiteral("files"));
        const auto check = [&](const QByteArray& bytes, const QString& what, bool mustFail) {
            QFile::remove(copy);
            if (!writeAt(copy, 0, bytes))
                return QStringLiteral("cannot write the copy");
            QDir(files).removeRecursively();
            const ToolRun run =
                dump({QStringLiteral("--json"), QStringLiteral("--extract"), files, copy});
            if (run.exitCode < 0 || run.exitCode > 2)
                return what + QStringLiteral(": exit ") + QString::number(run.exitCode);
            if (mustFail && run.exitCode == 0)
                return what + QStringLiteral(": read whole");
            if (run.exitCode == 2)
                return run.output.isEmpty() ? QString() : what + QStringLiteral(": output on 2");
            QString problem;
            const QJsonObject json = parseDump(run, &problem);
            if (problem.isEmpty())
                problem = shapeProblem(json);
            return problem.isEmpty() ? QString() : what + QStringLiteral(": ") + problem;
        };
        // Cut short: below the end of the last note, something is always missing.
        for (int i = 1; i <= 24; ++i) {
            const qsizetype at = qsizetype(lastNoteEnd * i / 25);
            const QString problem =
                check(original.left(at), QStringLiteral("cut at %1").arg(at), true);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
        // Bytes changed at random, and runs of them.
        QRandomGenerator random(12);
        for (int i = 0; i < 40; ++i) {
            QByteArray bytes = original;
            const int changes = 1 + int(random.bounded(i < 20 ? 4 : 64));
            for (int k = 0; k < changes; ++k)
                bytes[random.bounded(qsizetype(lastNoteEnd))] = char(random.bounded(256));
            const QString problem = check(bytes, QStringLiteral("change %1").arg(i), false);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }
};

QTEST_GUILESS_MAIN(TestNsfDump)
#include "tst_nsfdump.moc"
