// The stand-in over the bundled sample mail store against the project's own local-store
// back-end: the same title, views and folders, entries in the same order, and for every
// document the same items with the same values and attachments with the same bytes, once
// the C API's binary forms are decoded.

#include "NotesCApi.h"
#include "ToolRun.h"

#include "notes/LocalStore.h"
#include "nsf/ObjectItem.h"
#include "nsf/TextCodec.h"
#include "nsf/TimeDate.h"
#include "nsf/Values.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>

#include <cstring>

using namespace tarvik;

namespace {

struct Api {
#define ENTRY(name) decltype(&::name) name = nullptr
    ENTRY(NotesInitExtended);
    ENTRY(NotesTerm);
    ENTRY(NSFDbOpen);
    ENTRY(NSFDbClose);
    ENTRY(NSFDbInfoGet);
    ENTRY(NIFOpenCollection);
    ENTRY(NIFReadEntries);
    ENTRY(NIFCloseCollection);
    ENTRY(NSFNoteOpen);
    ENTRY(NSFNoteClose);
    ENTRY(NSFItemInfo);
    ENTRY(NSFItemInfoNext);
    ENTRY(NSFNoteExtractFile);
    ENTRY(OSLockObject);
    ENTRY(OSUnlockObject);
    ENTRY(OSMemFree);
    ENTRY(ConvertItemToText);
    ENTRY(TarvikStandinMisuseCount);
#undef ENTRY
    bool load()
    {
        void* lib = dlopen(TARVIK_NOTES_STANDIN_DIR "/libnotes.so", RTLD_NOW | RTLD_LOCAL);
        bool ok = lib != nullptr;
#define FIND(name) ok = ok && (name = reinterpret_cast<decltype(name)>(dlsym(lib, #name)))
        FIND(NotesInitExtended);
        FIND(NotesTerm);
        FIND(NSFDbOpen);
        FIND(NSFDbClose);
        FIND(NSFDbInfoGet);
        FIND(NIFOpenCollection);
        FIND(NIFReadEntries);
        FIND(NIFCloseCollection);
        FIND(NSFNoteOpen);
        FIND(NSFNoteClose);
        FIND(NSFItemInfo);
        FIND(NSFItemInfoNext);
        FIND(NSFNoteExtractFile);
        FIND(OSLockObject);
        FIND(OSUnlockObject);
        FIND(OSMemFree);
        FIND(ConvertItemToText);
        FIND(TarvikStandinMisuseCount);
#undef FIND
        return ok;
    }
} api;

std::uint16_t word(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Reads a collection's note IDs (and classes and $TITLE/$Flags texts of the design collection).
struct Entry {
    NOTEID id = 0;
    QString title;
    bool folder = false;
};
std::vector<Entry> entries(HCOLLECTION coll, bool design)
{
    std::vector<Entry> out;
    COLLECTIONPOSITION pos{};
    WORD signal = 0;
    const DWORD mask = design ? READ_MASK_NOTEID | READ_MASK_SUMMARY : READ_MASK_NOTEID;
    do {
        DHANDLE buffer = NULLHANDLE;
        DWORD found = 0;
        if (api.NIFReadEntries(coll, &pos, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 0xFFFFFFFF, mask,
                               &buffer, nullptr, nullptr, &found, &signal) != NOERROR ||
            buffer == NULLHANDLE)
            break;
        const auto* p = static_cast<const std::uint8_t*>(api.OSLockObject(buffer));
        for (DWORD i = 0; i < found; ++i) {
            Entry e;
            std::memcpy(&e.id, p, 4);
            p += 4;
            if (design) {
                const WORD items = word(p + 2);
                const std::uint8_t* data = p + 4 + 4 * items;
                for (WORD k = 0; k < items; ++k) {
                    const WORD nameLen = word(p + 4 + 4 * k);
                    const WORD valueLen = word(p + 6 + 4 * k);
                    const std::string name(reinterpret_cast<const char*>(data), nameLen);
                    const std::string_view text(reinterpret_cast<const char*>(data) + nameLen + 2,
                                                valueLen - 2u);
                    if (name == "$TITLE")
                        e.title = QString::fromStdString(nsf::lmbcsToUtf8(text));
                    else if (name == "$Flags")
                        e.folder = text.find('F') != std::string_view::npos;
                    data += nameLen + valueLen;
                }
                p += word(p);
            }
            out.push_back(e);
        }
        api.OSUnlockObject(buffer);
        api.OSMemFree(buffer);
    } while (signal & SIGNAL_MORE_TO_DO);
    return out;
}

// A value in the C API's form as the back-end's values.
QList<notes::NotesValue> decode(WORD type, nsf::Bytes v)
{
    QList<notes::NotesValue> out;
    auto time = [](const nsf::TimeDate& td) {
        const auto hundredths = nsf::utcHundredths(td);
        return notes::NotesValue::fromDateTime(QDateTime::fromSecsSinceEpoch(
            hundredths ? *hundredths / 100 : 0, Qt::OffsetFromUTC, td.zoneMinutesEast() * 60));
    };
    switch (type) {
    case TYPE_TEXT:
        out << notes::NotesValue::fromText(QString::fromStdString(nsf::decodeText(v)));
        break;
    case TYPE_TEXT_LIST:
        for (const std::string& t : nsf::decodeTextList(v))
            out << notes::NotesValue::fromText(QString::fromStdString(t));
        break;
    case TYPE_NUMBER:
        out << notes::NotesValue::fromNumber(nsf::decodeNumber(v));
        break;
    case TYPE_NUMBER_RANGE:
        for (double d : nsf::decodeNumberRange(v).values)
            out << notes::NotesValue::fromNumber(d);
        break;
    case TYPE_TIME:
        out << time(nsf::decodeTime(v));
        break;
    case TYPE_TIME_RANGE:
        for (const nsf::TimeDate& td : nsf::decodeTimeRange(v).values)
            out << time(td);
        break;
    default:
        break;
    }
    return out;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestStandinStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sameAsTheLocalStoreBackEnd()
    {
        QVERIFY2(api.load(), dlerror());
        QTemporaryDir dir;
        const QString store = dir.filePath(QStringLiteral("sample.db"));
        const test::ToolRun built =
            test::runTool(test::builtTool("tarvik-mkstore"),
                          {QStringLiteral(TARVIK_SOURCE_DIR "/samples/sample-mail.json"), store});
        QVERIFY2(built.exitCode == 0, built.output.constData());

        notes::LocalStoreSession session;
        const auto direct = session.GetDatabase(QString(), store);
        char program[] = "tst_standin_store";
        char* argv[] = {program, nullptr};
        QCOMPARE(api.NotesInitExtended(1, argv), STATUS(NOERROR));
        DBHANDLE db = NULLHANDLE;
        QCOMPARE(api.NSFDbOpen(store.toLocal8Bit().constData(), &db), STATUS(NOERROR));
        char info[NSF_INFO_SIZE] = {};
        QCOMPARE(api.NSFDbInfoGet(db, info), STATUS(NOERROR));
        QCOMPARE(QString::fromStdString(nsf::lmbcsToUtf8(std::string_view(info))), direct->Title());

        HCOLLECTION design = 0;
        QCOMPARE(api.NIFOpenCollection(db, db, NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN, 0, NULLHANDLE,
                                       &design, nullptr, nullptr, nullptr, nullptr),
                 STATUS(NOERROR));
        const auto views = entries(design, true);
        QCOMPARE(api.NIFCloseCollection(design), STATUS(NOERROR));
        const auto directViews = direct->Views();
        QVERIFY(directViews);
        QCOMPARE(qsizetype(views.size()), directViews->size());

        int documents = 0, values = 0, files = 0;
        for (qsizetype v = 0; v < directViews->size(); ++v) {
            const auto& view = directViews->at(v);
            QCOMPARE(views[v].title, view->Name());
            QCOMPARE(views[v].folder, view->isfolder());
            HCOLLECTION coll = 0;
            QCOMPARE(api.NIFOpenCollection(db, db, views[v].id, 0, NULLHANDLE, &coll, nullptr,
                                           nullptr, nullptr, nullptr),
                     STATUS(NOERROR));
            const auto ids = entries(coll, false);
            QCOMPARE(api.NIFCloseCollection(coll), STATUS(NOERROR));
            auto doc = view->GetFirstDocument();
            for (const Entry& e : ids) {
                QVERIFY(doc);
                ++documents;
                NOTEHANDLE h = NULLHANDLE;
                QCOMPARE(api.NSFNoteOpen(db, e.id, 0, &h), STATUS(NOERROR));
                // The items in order: $FILE items follow the rich text holding them and end
                // the note for the document's own attachments.
                QStringList names;
                QList<QByteArray> extracted;
                BLOCKID item{}, value{};
                WORD type = 0;
                DWORD length = 0;
                STATUS s = api.NSFItemInfo(h, nullptr, 0, &item, &type, &value, &length);
                while (s == NOERROR) {
                    const auto* p = static_cast<const std::uint8_t*>(api.OSLockObject(value.pool)) +
                                    value.block;
                    const nsf::Bytes bytes(p + 2, length - 2);
                    if (type == TYPE_OBJECT) {
                        const QString out = dir.filePath(QStringLiteral("x%1").arg(++files));
                        api.OSUnlockObject(value.pool);
                        QCOMPARE(
                            api.NSFNoteExtractFile(h, item, out.toLocal8Bit().constData(), nullptr),
                            STATUS(NOERROR));
                        extracted << fileBytes(out);
                    } else {
                        api.OSUnlockObject(value.pool);
                        if (type == TYPE_COMPOSITE) {
                            DHANDLE text = NULLHANDLE;
                            DWORD textLength = 0;
                            QCOMPARE(api.ConvertItemToText(value, length, "\n", 80, &text,
                                                           &textLength, FALSE),
                                     STATUS(NOERROR));
                            const std::string lmbcs(
                                static_cast<const char*>(api.OSLockObject(text)), textLength);
                            api.OSUnlockObject(text);
                            QCOMPARE(api.OSMemFree(text), STATUS(NOERROR));
                            names << QString::fromStdString(nsf::lmbcsToUtf8(lmbcs));
                        } else {
                            QStringList texts;
                            for (const auto& nv : decode(type, bytes))
                                texts << nv.toText();
                            names << texts.join(QLatin1Char('\x1f'));
                            ++values;
                        }
                    }
                    s = api.NSFItemInfoNext(h, item, nullptr, 0, &item, &type, &value, &length);
                }
                QCOMPARE(s, STATUS(ERR_ITEM_NOT_FOUND));
                // The back-end's items, values as text, in the same order.
                QStringList expected;
                QList<QByteArray> expectedFiles;
                for (const auto& it : doc->Items()) {
                    const notes::NotesValueArray array = doc->GetItemValue(it->Name());
                    QStringList texts;
                    for (const auto& nv : array.values())
                        texts << nv.toText();
                    if (it->Type() == notes::itemtype::richText)
                        expected << texts.join(QLatin1Char('\n'));
                    else
                        expected << texts.join(QLatin1Char('\x1f'));
                    if (const auto objects = it->EmbeddedObjects()) {
                        for (const auto& o : *objects) {
                            if (o->Type() != notes::objecttype::attachment)
                                continue;
                            const QString out = dir.filePath(QStringLiteral("y%1").arg(++files));
                            o->ExtractFile(out);
                            expectedFiles << fileBytes(out);
                        }
                    }
                }
                if (const auto objects = doc->EmbeddedObjects()) {
                    for (const auto& o : *objects) {
                        if (o->Type() != notes::objecttype::attachment)
                            continue;
                        const QString out = dir.filePath(QStringLiteral("y%1").arg(++files));
                        o->ExtractFile(out);
                        expectedFiles << fileBytes(out);
                    }
                }
                QCOMPARE(names.size(), expected.size());
                for (qsizetype i = 0; i < names.size(); ++i) {
                    // Rich text: paragraphs as lines; the trailing line break of a value is
                    // an empty paragraph.
                    QCOMPARE(names[i].trimmed(), expected[i].trimmed());
                }
                QCOMPARE(extracted, expectedFiles);
                QCOMPARE(api.NSFNoteClose(h), STATUS(NOERROR));
                doc = view->GetNextDocument(doc);
            }
            QVERIFY(!doc);
        }
        QVERIFY(documents > 50);
        QVERIFY(values > 100);
        QVERIFY(files > 0);
        QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        api.NotesTerm();
        QCOMPARE(api.TarvikStandinMisuseCount(), DWORD(0));
    }
};

QTEST_GUILESS_MAIN(TestStandinStore)
#include "tst_standin_store.moc"
