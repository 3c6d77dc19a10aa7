// The stand-in libnotes.so loaded as a program loads the real one (dlopen, entry points by
// name), read the way the reference's samples read a database, and compared with what the
// .nsf reader gives directly: titles, the design collection's views, view entries, item
// values, extracted attachments. Then the misuse it must refuse and count.

#include "NotesCApi.h"
#include "ToolRun.h"

#include "nsf/Database.h"
#include "nsf/MimePart.h"
#include "nsf/ObjectItem.h"
#include "nsf/TextCodec.h"
#include "nsf/Values.h"
#include "nsf/Views.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>

#include <cstring>
#include <map>
#include <thread>
#include <tuple>
#include <vector>

using namespace tarvik;

namespace {

const QString kSamples = QStringLiteral(TARVIK_NSF_SAMPLES);

std::string sample(const char* name)
{
    return (kSamples + QLatin1Char('/') + QLatin1String(name)).toStdString();
}

// The entry points, looked up by name as a loader does.
struct Api {
    void* lib = nullptr;
#define ENTRY(name) decltype(&::name) name = nullptr
    ENTRY(NotesInitExtended);
    ENTRY(NotesTerm);
    ENTRY(NotesInitThread);
    ENTRY(NotesTermThread);
    ENTRY(SECKFMSwitchToIDFile);
    ENTRY(OSLockObject);
    ENTRY(OSUnlockObject);
    ENTRY(OSMemFree);
    ENTRY(OSLoadString);
    ENTRY(OSTranslate);
    ENTRY(NSFDbOpen);
    ENTRY(NSFDbClose);
    ENTRY(NSFDbInfoGet);
    ENTRY(NSFDbInfoParse);
    ENTRY(NSFDbGetSpecialNoteID);
    ENTRY(NIFFindView);
    ENTRY(NSFSearch);
    ENTRY(NIFOpenCollection);
    ENTRY(NIFReadEntries);
    ENTRY(NIFCloseCollection);
    ENTRY(NSFNoteOpen);
    ENTRY(NSFNoteOpenExt);
    ENTRY(NSFNoteClose);
    ENTRY(NSFItemInfo);
    ENTRY(NSFItemInfoNext);
    ENTRY(NSFItemScan);
    ENTRY(NSFItemGetText);
    ENTRY(NSFItemGetTextListEntries);
    ENTRY(NSFItemGetTextListEntry);
    ENTRY(NSFItemGetTime);
    ENTRY(NSFItemGetNumber);
    ENTRY(NSFNoteHasObjects);
    ENTRY(NSFNoteExtractFile);
    ENTRY(NSFNoteDecrypt);
    ENTRY(ListGetText);
    ENTRY(ConvertItemToText);
    ENTRY(MIMEStreamOpen);
    ENTRY(MIMEStreamRead);
    ENTRY(MIMEStreamClose);
    ENTRY(TarvikStandinMisuseCount);
    ENTRY(TarvikStandinMisuseText);
#undef ENTRY

    bool load()
    {
        lib = dlopen(TARVIK_NOTES_STANDIN_DIR "/libnotes.so", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return false;
        bool ok = true;
#define FIND(name) ok = ok && (name = reinterpret_cast<decltype(name)>(dlsym(lib, #name)))
        FIND(NotesInitExtended);
        FIND(NotesTerm);
        FIND(NotesInitThread);
        FIND(NotesTermThread);
        FIND(SECKFMSwitchToIDFile);
        FIND(OSLockObject);
        FIND(OSUnlockObject);
        FIND(OSMemFree);
        FIND(OSLoadString);
        FIND(OSTranslate);
        FIND(NSFDbOpen);
        FIND(NSFDbClose);
        FIND(NSFDbInfoGet);
        FIND(NSFDbInfoParse);
        FIND(NSFDbGetSpecialNoteID);
        FIND(NIFFindView);
        FIND(NSFSearch);
        FIND(NIFOpenCollection);
        FIND(NIFReadEntries);
        FIND(NIFCloseCollection);
        FIND(NSFNoteOpen);
        FIND(NSFNoteOpenExt);
        FIND(NSFNoteClose);
        FIND(NSFItemInfo);
        FIND(NSFItemInfoNext);
        FIND(NSFItemScan);
        FIND(NSFItemGetText);
        FIND(NSFItemGetTextListEntries);
        FIND(NSFItemGetTextListEntry);
        FIND(NSFItemGetTime);
        FIND(NSFItemGetNumber);
        FIND(NSFNoteHasObjects);
        FIND(NSFNoteExtractFile);
        FIND(NSFNoteDecrypt);
        FIND(ListGetText);
        FIND(ConvertItemToText);
        FIND(MIMEStreamOpen);
        FIND(MIMEStreamRead);
        FIND(MIMEStreamClose);
        FIND(TarvikStandinMisuseCount);
        FIND(TarvikStandinMisuseText);
#undef FIND
        return ok;
    }

    QString misuse() const
    {
        char text[4096];
        TarvikStandinMisuseText(text, sizeof text);
        return QString::fromUtf8(text);
    }
};

Api api;

STATUS init()
{
    char program[] = "tst_standin";
    char* argv[] = {program, nullptr};
    return api.NotesInitExtended(1, argv);
}

std::uint16_t word(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t dword(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (p[3] << 24));
}

// Every entry of a collection, read as the reference's NIFReadEntries loop does.
struct Entry {
    NOTEID id;
    WORD noteClass;
    std::string title;
    std::string flags;
};
std::pair<std::string, std::string> titleAndFlags(const std::uint8_t* table);

std::vector<Entry> readAll(HCOLLECTION coll, DWORD mask)
{
    std::vector<Entry> out;
    COLLECTIONPOSITION pos{};
    pos.Level = 0;
    pos.Tumbler[0] = 0;
    WORD signal = 0;
    do {
        DHANDLE buffer = NULLHANDLE;
        DWORD found = 0;
        STATUS s = api.NIFReadEntries(coll, &pos, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 0xFFFFFFFF, mask,
                                      &buffer, nullptr, nullptr, &found, &signal);
        if (s != NOERROR || buffer == NULLHANDLE)
            break;
        auto* p = static_cast<std::uint8_t*>(api.OSLockObject(buffer));
        for (DWORD i = 0; i < found; ++i) {
            Entry e{};
            if (mask & READ_MASK_NOTEID) {
                e.id = dword(p);
                p += 4;
            }
            if (mask & READ_MASK_NOTECLASS) {
                e.noteClass = word(p);
                p += 2;
            }
            if (mask & READ_MASK_SUMMARY) {
                std::tie(e.title, e.flags) = titleAndFlags(p);
                p += word(p);
            }
            out.push_back(e);
        }
        api.OSUnlockObject(buffer);
        api.OSMemFree(buffer);
    } while (signal & SIGNAL_MORE_TO_DO);
    return out;
}

// The $TITLE and $Flags texts of a summary buffer (ITEM_TABLE, ITEMs, name/value pairs).
std::pair<std::string, std::string> titleAndFlags(const std::uint8_t* table)
{
    std::string title, flags;
    const WORD items = word(table + 2);
    const std::uint8_t* data = table + 4 + 4 * items;
    for (WORD k = 0; k < items; ++k) {
        const WORD nameLen = word(table + 4 + 4 * k);
        const WORD valueLen = word(table + 6 + 4 * k);
        const std::string name(reinterpret_cast<const char*>(data), nameLen);
        const std::uint8_t* value = data + nameLen;
        std::string text;
        if (name != "$TITLE" && name != "$Flags") {
            // Other items are passed over unread: some samples store damaged text lists
            // ($UpdatedBy), which the stand-in passes on as stored.
        } else if (word(value) == TYPE_TEXT) {
            text.assign(reinterpret_cast<const char*>(value) + 2, valueLen - 2u);
        } else if (word(value) == TYPE_TEXT_LIST) {
            for (WORD j = 0; j < word(value + 2); ++j) {
                char* t = nullptr;
                WORD len = 0;
                if (api.ListGetText(const_cast<std::uint8_t*>(value), TRUE, j, &t, &len) == NOERROR)
                    text += (j ? "|" : "") + std::string(t, len);
            }
        }
        if (name == "$TITLE")
            title = text;
        else if (name == "$Flags")
            flags = text;
        data += nameLen + valueLen;
    }
    return {title, flags};
}

// NSFSearch's action routine: the views found, with title and flags from the summary.
STATUS LNCALLBACK foundView(void* param, SEARCH_MATCH* match, ITEM_TABLE* summary)
{
    SEARCH_MATCH m;
    std::memcpy(&m, match, sizeof m);
    if (!(m.SERetFlags & SE_FMATCH) || !summary)
        return NOERROR;
    auto [title, flags] = titleAndFlags(reinterpret_cast<const std::uint8_t*>(summary));
    if (flags.find('G') == std::string::npos)
        static_cast<std::vector<Entry>*>(param)->push_back(
            {m.ID.NoteID, m.NoteClass, title, flags});
    return NOERROR;
}

struct ScannedItem {
    std::string name;
    WORD flags;
    std::vector<std::uint8_t> value; // with its type word
};

STATUS LNCALLBACK collect(WORD, WORD flags, char* name, WORD nameLength, void* value,
                          DWORD valueLength, void* param)
{
    auto* items = static_cast<std::vector<ScannedItem>*>(param);
    const auto* v = static_cast<const std::uint8_t*>(value);
    items->push_back({std::string(name, nameLength), flags, {v, v + valueLength}});
    return NOERROR;
}

std::vector<std::uint8_t> typed(const nsf::Item& item)
{
    std::vector<std::uint8_t> out(item.value.size() + 2);
    out[0] = static_cast<std::uint8_t>(item.type & 0xff);
    out[1] = static_cast<std::uint8_t>(item.type >> 8);
    std::copy(item.value.begin(), item.value.end(), out.begin() + 2);
    return out;
}

} // namespace

class TestStandin : public QObject {
    Q_OBJECT

    // The misuse the tests made on purpose so far (only the last test makes any).
    DWORD m_expectedMisuse = 0;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(api.load(), dlerror());
        if (!QFile::exists(kSamples + QStringLiteral("/simple.nsf")))
            QSKIP("the sample databases are not there (TARVIK_NSF_SAMPLES)");
    }

    void cleanup()
    {
        // Every test ends with the runtime down and nothing misused. One that failed half-way
        // leaves the runtime up: it is taken down so that the next test starts clean.
        if (QTest::currentTestFailed()) {
            api.NotesTerm();
            m_expectedMisuse = api.TarvikStandinMisuseCount();
            return;
        }
        QCOMPARE(api.TarvikStandinMisuseCount(), m_expectedMisuse);
    }

    // The title through the database information, as the intro sample reads it, and the
    // special notes, for every sample.
    void titlesAndSpecialNotes()
    {
        QCOMPARE(init(), STATUS(NOERROR));
        const QStringList files =
            QDir(kSamples).entryList({QStringLiteral("*.nsf")}, QDir::Files, QDir::Name);
        QVERIFY(files.size() > 40);
        for (const QString& file : files) {
            const std::string path = (kSamples + QLatin1Char('/') + file).toStdString();
            std::unique_ptr<nsf::Database> direct;
            try {
                direct = nsf::Database::open(path);
            } catch (const std::exception&) {
                continue; // a sample the reader refuses: the stand-in refuses it too (below)
            }
            DBHANDLE db = NULLHANDLE;
            QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(NOERROR));
            char info[NSF_INFO_SIZE] = {};
            char title[NSF_INFO_SIZE] = {};
            QCOMPARE(api.NSFDbInfoGet(db, info), STATUS(NOERROR));
            api.NSFDbInfoParse(info, INFOPARSE_TITLE, title, NSF_INFO_SIZE - 1);
            const auto& buffer = direct->info().infoBuffer;
            QCOMPARE(QByteArray(info), QByteArray(reinterpret_cast<const char*>(buffer.data()),
                                                  qsizetype(buffer.size())));
            QCOMPARE(QByteArray(title),
                     QByteArray(info).left(qMax(0, int(QByteArray(info).indexOf('\n') < 0
                                                           ? QByteArray(info).size()
                                                           : QByteArray(info).indexOf('\n')))));
            NOTEID design = 0;
            const STATUS s =
                api.NSFDbGetSpecialNoteID(db, SPECIAL_ID_NOTE | NOTE_CLASS_DESIGN, &design);
            if (direct->info().specialNoteIds[5] != 0) {
                QCOMPARE(s, STATUS(NOERROR));
                QCOMPARE(design, direct->info().specialNoteIds[5]);
            } else {
                QCOMPARE(s, STATUS(ERR_SPECIAL_ID));
            }
            QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        }
        api.NotesTerm();
    }

    // The views and folders from the design collection (class, $TITLE and $Flags in the
    // summary) and each one's entries read in small buffers, against the reader.
    void viewsAndEntries_data()
    {
        QTest::addColumn<QString>("file");
        for (const char* f : {"simple.nsf", "readview.nsf", "hierarch.nsf", "discuss.nsf",
                              "response.nsf", "summary.nsf"})
            QTest::newRow(f) << QString::fromLatin1(f);
    }
    void viewsAndEntries()
    {
        QFETCH(QString, file);
        const std::string path = sample(file.toLatin1().constData());
        const auto direct = nsf::Database::open(path);
        const nsf::ViewList views = nsf::listViews(*direct);
        QVERIFY(!views.views.empty());

        qputenv("TARVIK_STANDIN_READ_LIMIT", "3"); // several buffers per view
        QCOMPARE(init(), STATUS(NOERROR));
        DBHANDLE db = NULLHANDLE;
        QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(NOERROR));
        HCOLLECTION design = 0;
        QCOMPARE(api.NIFOpenCollection(db, db, NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN,
                                       OPEN_DO_NOT_CREATE, NULLHANDLE, &design, nullptr, nullptr,
                                       nullptr, nullptr),
                 STATUS(NOERROR));
        const auto entries =
            readAll(design, READ_MASK_NOTEID | READ_MASK_NOTECLASS | READ_MASK_SUMMARY);
        QCOMPARE(api.NIFCloseCollection(design), STATUS(NOERROR));
        std::vector<Entry> listed;
        for (const Entry& e : entries)
            if ((e.noteClass & NOTE_CLASS_VIEW) && e.flags.find('G') == std::string::npos)
                listed.push_back(e);
        QCOMPARE(listed.size(), views.views.size());
        // The other documented way: a search for view notes with their summaries.
        std::vector<Entry> searched;
        QCOMPARE(api.NSFSearch(db, NULLHANDLE, nullptr, SEARCH_SUMMARY, NOTE_CLASS_VIEW, nullptr,
                               foundView, &searched, nullptr),
                 STATUS(NOERROR));
        QCOMPARE(searched.size(), listed.size());
        for (std::size_t i = 0; i < listed.size(); ++i) {
            QCOMPARE(searched[i].id, listed[i].id);
            QCOMPARE(searched[i].title, listed[i].title);
        }
        for (std::size_t i = 0; i < listed.size(); ++i) {
            const nsf::ViewNote& view = views.views[i];
            QCOMPARE(listed[i].id, view.noteId);
            QCOMPARE(QString::fromStdString(listed[i].title), QString::fromStdString(view.title));
            QCOMPARE(listed[i].flags.find('F') != std::string::npos, view.isFolder);

            NOTEID found = 0;
            QCOMPARE(api.NIFFindView(db, view.name.c_str(), &found), STATUS(NOERROR));
            QCOMPARE(found, view.noteId);

            std::vector<NOTEID> expected;
            try {
                expected = nsf::readViewEntries(*direct, view.noteId).allDocuments();
            } catch (const std::exception&) {
                HCOLLECTION c = 0;
                QCOMPARE(api.NIFOpenCollection(db, db, view.noteId, 0, NULLHANDLE, &c, nullptr,
                                               nullptr, nullptr, nullptr),
                         STATUS(ERR_COLLECTION_NOT_CREATED));
                continue;
            }
            HCOLLECTION c = 0;
            NOTEHANDLE viewNote = NULLHANDLE;
            UNID unid{};
            QCOMPARE(api.NIFOpenCollection(db, db, view.noteId, 0, NULLHANDLE, &c, &viewNote, &unid,
                                           nullptr, nullptr),
                     STATUS(NOERROR));
            QVERIFY(viewNote != NULLHANDLE);
            QCOMPARE(std::memcmp(&unid, direct->readNote(view.noteId).unid.bytes.data(), 16), 0);
            std::vector<NOTEID> got;
            for (const Entry& e : readAll(c, READ_MASK_NOTEID))
                got.push_back(e.id);
            QCOMPARE(got, expected);
            QCOMPARE(api.NIFCloseCollection(c), STATUS(NOERROR));
            QCOMPARE(api.NSFNoteClose(viewNote), STATUS(NOERROR));
        }
        NOTEID none = 0;
        QCOMPARE(api.NIFFindView(db, "no such view here", &none), STATUS(ERR_NOT_FOUND));
        QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        api.NotesTerm();
        qunsetenv("TARVIK_STANDIN_READ_LIMIT");
    }

    // Every item of every document: NSFItemScan's names, flags and values (type word first)
    // equal the file's; NSFItemInfo/NSFItemInfoNext walk the same items; text and text lists
    // through the getters.
    void itemValues_data()
    {
        QTest::addColumn<QString>("file");
        for (const char* f : {"simple.nsf", "numlist.nsf", "richtext.nsf", "MIMEMsg.nsf"})
            QTest::newRow(f) << QString::fromLatin1(f);
    }
    void itemValues()
    {
        QFETCH(QString, file);
        const std::string path = sample(file.toLatin1().constData());
        const auto direct = nsf::Database::open(path);
        QCOMPARE(init(), STATUS(NOERROR));
        DBHANDLE db = NULLHANDLE;
        QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(NOERROR));
        int documents = 0;
        for (std::uint32_t id : direct->dataNoteIds().ids) {
            nsf::Note note;
            try {
                note = direct->readNote(id);
            } catch (const std::exception&) {
                continue;
            }
            NOTEHANDLE h = NULLHANDLE;
            QCOMPARE(api.NSFNoteOpenExt(db, id, OPEN_RAW_MIME, &h), STATUS(NOERROR));
            ++documents;
            std::vector<ScannedItem> scanned;
            QCOMPARE(api.NSFItemScan(h, collect, &scanned), STATUS(NOERROR));
            std::vector<const nsf::Item*> readable;
            for (const nsf::Item& item : note.items)
                if (item.ok())
                    readable.push_back(&item);
            QCOMPARE(scanned.size(), readable.size());
            for (std::size_t i = 0; i < scanned.size(); ++i) {
                QCOMPARE(scanned[i].name, readable[i]->name);
                QCOMPARE(scanned[i].flags, readable[i]->flags);
                QVERIFY(scanned[i].value == typed(*readable[i]));
            }
            // The same items one after the other, by BLOCKID.
            BLOCKID item{}, value{};
            WORD type = 0;
            DWORD length = 0;
            std::size_t walked = 0;
            STATUS s = api.NSFItemInfo(h, nullptr, 0, &item, &type, &value, &length);
            while (s == NOERROR) {
                QVERIFY(walked < readable.size());
                QCOMPARE(type, readable[walked]->type);
                QCOMPARE(length, DWORD(readable[walked]->value.size() + 2));
                auto* p = static_cast<std::uint8_t*>(api.OSLockObject(value.pool)) + value.block;
                QVERIFY(std::vector<std::uint8_t>(p, p + length) == typed(*readable[walked]));
                api.OSUnlockObject(value.pool);
                ++walked;
                s = api.NSFItemInfoNext(h, item, nullptr, 0, &item, &type, &value, &length);
            }
            QCOMPARE(s, STATUS(ERR_ITEM_NOT_FOUND));
            QCOMPARE(type, WORD(TYPE_INVALID_OR_UNKNOWN));
            QCOMPARE(walked, readable.size());
            for (const nsf::Item* it : readable) {
                if (it->type == nsf::kTypeTextList) {
                    const auto entries = nsf::decodeTextList(it->value);
                    const WORD n = api.NSFItemGetTextListEntries(h, it->name.c_str());
                    if (note.find(it->name) != it)
                        continue; // the getters read the first item of a name
                    QCOMPARE(n, WORD(entries.size()));
                }
                if (it->type == nsf::kTypeText && note.find(it->name) == it &&
                    it->value.size() < 200) {
                    char text[256];
                    const WORD n = api.NSFItemGetText(h, it->name.c_str(), text, sizeof text);
                    QCOMPARE(QByteArray(text, n),
                             QByteArray(reinterpret_cast<const char*>(it->value.data()),
                                        qsizetype(it->value.size())));
                }
            }
            QCOMPARE(api.NSFNoteClose(h), STATUS(NOERROR));
        }
        QVERIFY(documents > 0);
        QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        api.NotesTerm();
    }

    // Attachments extracted through NSFNoteExtractFile are byte for byte what tarvik-nsfdump
    // --extract writes.
    void attachmentsExtracted_data()
    {
        QTest::addColumn<QString>("file");
        // MIMEMsg.nsf holds an attachment whose stored size differs from its recorded one.
        for (const char* f : {"attachment.nsf", "MIMEMsg.nsf", "discuss.nsf", "notesflo.nsf"})
            QTest::newRow(f) << QString::fromLatin1(f);
    }
    void attachmentsExtracted()
    {
        QFETCH(QString, file);
        const std::string path = sample(file.toLatin1().constData());
        QTemporaryDir dumped, extracted;
        const test::ToolRun dump = test::runTool(
            test::builtTool("tarvik-nsfdump"),
            {QStringLiteral("--extract"), dumped.path(), QString::fromStdString(path)});
        // 1: the dump met damage elsewhere in the file (and says so); what it extracted counts.
        QVERIFY2(dump.exitCode == 0 || dump.exitCode == 1, qPrintable(dump.errorText()));
        const QStringList expected = QDir(dumped.path()).entryList(QDir::Files, QDir::Name);
        QVERIFY(!expected.isEmpty());

        const auto direct = nsf::Database::open(path);
        QCOMPARE(init(), STATUS(NOERROR));
        DBHANDLE db = NULLHANDLE;
        QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(NOERROR));
        int files = 0;
        for (std::uint32_t id : direct->noteIds()) { // design notes hold attachments too
            NOTEHANDLE h = NULLHANDLE;
            if (api.NSFNoteOpen(db, id, 0, &h) != NOERROR)
                continue;
            BLOCKID first{};
            if (api.NSFNoteHasObjects(h, &first)) {
                BLOCKID item{}, value{};
                WORD type = 0;
                DWORD length = 0;
                STATUS s = api.NSFItemInfo(h, "$FILE", 5, &item, &type, &value, &length);
                while (s == NOERROR) {
                    QCOMPARE(type, WORD(TYPE_OBJECT));
                    const QString out =
                        extracted.filePath(QStringLiteral("note%1-%2").arg(id).arg(++files));
                    QCOMPARE(
                        api.NSFNoteExtractFile(h, item, out.toLocal8Bit().constData(), nullptr),
                        STATUS(NOERROR));
                    s = api.NSFItemInfoNext(h, item, "$FILE", 5, &item, &type, &value, &length);
                }
                QCOMPARE(s, STATUS(ERR_ITEM_NOT_FOUND));
            }
            QCOMPARE(api.NSFNoteClose(h), STATUS(NOERROR));
        }
        QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        api.NotesTerm();

        // Same contents, as multisets (the names differ: the dump names files by their own
        // names, the test by note).
        auto contents = [](const QString& dir) {
            QList<QByteArray> out;
            for (const QString& f : QDir(dir).entryList(QDir::Files, QDir::Name)) {
                QFile file(QDir(dir).filePath(f));
                if (file.open(QIODevice::ReadOnly))
                    out.push_back(file.readAll());
            }
            std::sort(out.begin(), out.end());
            return out;
        };
        QCOMPARE(files, int(expected.size()));
        QVERIFY(contents(extracted.path()) == contents(dumped.path()));
    }

    // Rich text as plain text, text with line breaks as the delimiter asks.
    void convertItemToText()
    {
        const std::string path = sample("richtext.nsf");
        const auto direct = nsf::Database::open(path);
        QCOMPARE(init(), STATUS(NOERROR));
        DBHANDLE db = NULLHANDLE;
        QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(NOERROR));
        int converted = 0;
        for (std::uint32_t id : direct->dataNoteIds().ids) {
            NOTEHANDLE h = NULLHANDLE;
            if (api.NSFNoteOpen(db, id, 0, &h) != NOERROR)
                continue;
            BLOCKID item{}, value{};
            WORD type = 0;
            DWORD length = 0;
            if (api.NSFItemInfo(h, nullptr, 0, &item, &type, &value, &length) == NOERROR) {
                do {
                    if (type != TYPE_COMPOSITE)
                        continue;
                    DHANDLE text = NULLHANDLE;
                    DWORD textLength = 0;
                    QCOMPARE(
                        api.ConvertItemToText(value, length, "\r\n", 80, &text, &textLength, FALSE),
                        STATUS(NOERROR));
                    const auto* p = static_cast<const char*>(api.OSLockObject(text));
                    const QByteArray got(p, qsizetype(textLength));
                    api.OSUnlockObject(text);
                    QCOMPARE(api.OSMemFree(text), STATUS(NOERROR));
                    QVERIFY(!got.contains('\n') || got.contains("\r\n"));
                    ++converted;
                } while (api.NSFItemInfoNext(h, item, nullptr, 0, &item, &type, &value, &length) ==
                         NOERROR);
            }
            QCOMPARE(api.NSFNoteClose(h), STATUS(NOERROR));
        }
        QVERIFY(converted > 0);
        QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        api.NotesTerm();
    }

    // MIME bodies through the MIME stream: read in small pieces, the parts in order with their
    // boundaries and headers, a multipart's boundary parameter matching its boundary lines,
    // bodies kept in attachments included, and the outer headers only when asked for.
    void mimeStreams()
    {
        const std::string path = sample("MIMEMsg.nsf");
        const auto direct = nsf::Database::open(path);
        QCOMPARE(init(), STATUS(NOERROR));
        DBHANDLE db = NULLHANDLE;
        QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(NOERROR));
        auto readStream = [](NOTEHANDLE h, DWORD flags, unsigned int piece, STATUS* status) {
            MIMEHANDLE stream = nullptr;
            std::string out;
            char name[] = "Body";
            *status = api.MIMEStreamOpen(h, name, 4, flags, &stream);
            if (*status != NOERROR)
                return out;
            std::vector<unsigned char> buffer(piece);
            unsigned int got = 0;
            int r;
            while ((r = api.MIMEStreamRead(buffer.data(), &got, piece, stream)) ==
                   MIME_STREAM_SUCCESS) {
                if (got >= piece || buffer[got] != '\0')
                    return std::string("no NUL after the bytes read");
                out.append(reinterpret_cast<char*>(buffer.data()), got);
            }
            if (r != MIME_STREAM_EOS)
                out += "<read failed>";
            api.MIMEStreamClose(stream);
            return out;
        };
        int messages = 0, inObjects = 0;
        for (std::uint32_t id : direct->dataNoteIds().ids) {
            const nsf::Note note = direct->readNote(id);
            std::vector<nsf::MimePart> parts;
            for (const nsf::Item* item : note.findAll("Body"))
                if (item->type == nsf::kTypeMimePart)
                    parts.push_back(nsf::decodeMimePart(item->value));
            NOTEHANDLE h = NULLHANDLE;
            QCOMPARE(api.NSFNoteOpen(db, id, 0, &h), STATUS(NOERROR));
            if (!parts.empty()) {
                // Opened without OPEN_RAW_MIME, the parts show as one rich-text Body with the
                // text of the plain-text part.
                BLOCKID item{}, value{};
                WORD type = 0;
                DWORD length = 0;
                QCOMPARE(api.NSFItemInfo(h, "Body", 4, &item, &type, &value, &length),
                         STATUS(NOERROR));
                QCOMPARE(type, WORD(TYPE_COMPOSITE));
                QCOMPARE(api.NSFItemInfoNext(h, item, "Body", 4, &item, &type, &value, &length),
                         STATUS(ERR_ITEM_NOT_FOUND));
                DHANDLE text = NULLHANDLE;
                DWORD textLength = 0;
                QCOMPARE(api.ConvertItemToText(value, length, "\n", 80, &text, &textLength, FALSE),
                         STATUS(NOERROR));
                const std::string plain(static_cast<const char*>(api.OSLockObject(text)),
                                        textLength);
                api.OSUnlockObject(text);
                QCOMPARE(api.OSMemFree(text), STATUS(NOERROR));
                for (const nsf::MimePart& part : parts) {
                    const auto type = nsf::parseMimeHeaderValue(
                        nsf::mimeHeader(part.headers, "Content-Type").value_or(""));
                    const auto partText = nsf::mimePartText(part);
                    if (type.value == "text/plain" && partText && partText->size() > 4) {
                        const std::string firstLine = partText->substr(0, partText->find('\r'));
                        QVERIFY2(plain.find(firstLine) != std::string::npos, plain.c_str());
                        break;
                    }
                }
                // Raw, the stream is the same.
                NOTEHANDLE raw = NULLHANDLE;
                QCOMPARE(api.NSFNoteOpenExt(db, id, OPEN_RAW_MIME, &raw), STATUS(NOERROR));
                STATUS rawStatus = NOERROR;
                const std::string fromRaw =
                    readStream(raw, MIME_STREAM_OPEN_READ | MIME_STREAM_MIME_INCLUDE_HEADERS, 4096,
                               &rawStatus);
                QCOMPARE(rawStatus, STATUS(NOERROR));
                STATUS convertedStatus = NOERROR;
                QCOMPARE(readStream(h, MIME_STREAM_OPEN_READ | MIME_STREAM_MIME_INCLUDE_HEADERS,
                                    4096, &convertedStatus),
                         fromRaw);
                QCOMPARE(api.NSFNoteClose(raw), STATUS(NOERROR));
            }
            STATUS status = NOERROR;
            const std::string whole =
                readStream(h, MIME_STREAM_OPEN_READ | MIME_STREAM_MIME_INCLUDE_HEADERS, 7, &status);
            if (parts.empty()) {
                QCOMPARE(status, STATUS(ERR_ITEM_NOT_FOUND));
                QCOMPARE(api.NSFNoteClose(h), STATUS(NOERROR));
                continue;
            }
            ++messages;
            QCOMPARE(status, STATUS(NOERROR));
            QVERIFY(whole.starts_with(parts[0].headers));
            std::size_t at = 0;
            for (const nsf::MimePart& part : parts) {
                const std::size_t found = whole.find(part.boundary + part.headers, at);
                QVERIFY(found != std::string::npos);
                at = found + part.boundary.size() + part.headers.size();
                if (part.bodyInObject()) {
                    ++inObjects;
                    QVERIFY(whole.size() - at >= 1);
                } else {
                    QCOMPARE(whole.substr(at, part.body.size()), part.body);
                    at += part.body.size();
                }
            }
            const auto type = nsf::parseMimeHeaderValue(
                nsf::mimeHeader(parts[0].headers, "Content-Type").value_or("text/plain"));
            if (type.value.starts_with("multipart/")) {
                const auto boundary = type.parameter("boundary");
                QVERIFY(boundary);
                QVERIFY(whole.find("--" + *boundary + "\r\n") != std::string::npos);
                QVERIFY(whole.find("--" + *boundary + "--") != std::string::npos);
            }
            const std::string bodyOnly = readStream(h, MIME_STREAM_OPEN_READ, 4096, &status);
            QCOMPARE(status, STATUS(NOERROR));
            QCOMPARE(bodyOnly, whole.substr(parts[0].boundary.size() + parts[0].headers.size()));
            QCOMPARE(api.NSFNoteClose(h), STATUS(NOERROR));
        }
        QVERIFY(messages > 0);
        QVERIFY(inObjects > 0);
        QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        api.NotesTerm();
    }

    // A read that does not fit into one 64K buffer: whole entries only, SIGNAL_MORE_TO_DO,
    // and the next call goes on where the last one stopped.
    void largeCollection()
    {
        constexpr int kDocuments = 1500;
        QByteArray json = "{\"format\": 1, \"title\": \"Large\", \"views\": [{\"name\": "
                          "\"All\", \"folder\": false, \"documents\": [";
        QByteArray docs;
        for (int i = 0; i < kDocuments; ++i) {
            const QByteArray id = "\"d" + QByteArray::number(i) + "\"";
            json += (i ? ", " : "") + id;
            docs += (i ? ", " : "") + QByteArray("{\"id\": ") + id +
                    ", \"items\": [{\"name\": \"Subject\", \"type\": \"text\", "
                    "\"values\": [\"s\"]}]}";
        }
        json += "]}], \"documents\": [" + docs + "]}";
        QTemporaryDir dir;
        const QString description = dir.filePath(QStringLiteral("large.json"));
        const QString store = dir.filePath(QStringLiteral("large.db"));
        QFile file(description);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(json);
        file.close();
        const test::ToolRun built =
            test::runTool(test::builtTool("tarvik-mkstore"), {description, store});
        QVERIFY2(built.exitCode == 0, built.output.constData());

        QCOMPARE(init(), STATUS(NOERROR));
        DBHANDLE db = NULLHANDLE;
        QCOMPARE(api.NSFDbOpen(store.toLocal8Bit().constData(), &db), STATUS(NOERROR));
        NOTEID view = 0;
        QCOMPARE(api.NIFFindView(db, "All", &view), STATUS(NOERROR));
        HCOLLECTION coll = 0;
        QCOMPARE(api.NIFOpenCollection(db, db, view, 0, NULLHANDLE, &coll, nullptr, nullptr,
                                       nullptr, nullptr),
                 STATUS(NOERROR));
        const DWORD mask = READ_MASK_NOTEID | READ_MASK_NOTEUNID | READ_MASK_NOTECLASS |
                           READ_MASK_INDEXSIBLINGS | READ_MASK_INDEXCHILDREN |
                           READ_MASK_INDEXDESCENDANTS | READ_MASK_INDEXANYUNREAD |
                           READ_MASK_INDENTLEVELS | READ_MASK_INDEXUNREAD | READ_MASK_INDEXPOSITION;
        constexpr std::size_t kEntry = 4 + 16 + 2 + 4 + 4 + 4 + 2 + 2 + 2 + 8;
        COLLECTIONPOSITION pos{};
        std::vector<NOTEID> ids;
        int calls = 0;
        WORD signal = 0;
        do {
            DHANDLE buffer = NULLHANDLE;
            DWORD found = 0;
            WORD length = 0;
            QCOMPARE(api.NIFReadEntries(coll, &pos, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 0xFFFFFFFF,
                                        mask, &buffer, &length, nullptr, &found, &signal),
                     STATUS(NOERROR));
            ++calls;
            QVERIFY(buffer != NULLHANDLE);
            QCOMPARE(std::size_t(length), found * kEntry);
            const auto* p = static_cast<const std::uint8_t*>(api.OSLockObject(buffer));
            for (DWORD i = 0; i < found; ++i) {
                ids.push_back(dword(p + i * kEntry));
                // The position (Level 0, then the tumbler) is the entry's ordinal.
                QCOMPARE(dword(p + i * kEntry + kEntry - 4), DWORD(ids.size()));
            }
            api.OSUnlockObject(buffer);
            QCOMPARE(api.OSMemFree(buffer), STATUS(NOERROR));
            if (signal & SIGNAL_MORE_TO_DO)
                QVERIFY(length + kEntry > 0xffff); // full: the next entry would not fit
        } while (signal & SIGNAL_MORE_TO_DO);
        QCOMPARE(calls, 2);
        QCOMPARE(ids.size(), std::size_t(kDocuments));
        for (std::size_t i = 1; i < ids.size(); ++i)
            QVERIFY(ids[i] > ids[i - 1]); // the description's order: ascending IDs
        QCOMPARE(api.NIFCloseCollection(coll), STATUS(NOERROR));
        QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        api.NotesTerm();
    }

    // LMBCS to and from UTF-8 and UTF-16; a short buffer never gets part of a character.
    void translate()
    {
        const std::string utf8 = "Grüße, ∑ 日本 \xF0\x9F\x98\x80 end";
        char lmbcs[256] = {};
        const WORD n =
            api.OSTranslate(OS_TRANSLATE_UTF8_TO_LMBCS, utf8.c_str(), MAXWORD, lmbcs, sizeof lmbcs);
        QVERIFY(n > 0);
        QVERIFY(std::string_view(lmbcs, n) != utf8);
        QCOMPARE(nsf::lmbcsToUtf8(std::string_view(lmbcs, n)), utf8);
        char back[256] = {};
        const WORD m = api.OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, lmbcs, n, back, sizeof back);
        QCOMPARE(std::string(back, m), utf8);
        char utf16[512] = {};
        const WORD u =
            api.OSTranslate(OS_TRANSLATE_LMBCS_TO_UNICODE, lmbcs, n, utf16, sizeof utf16);
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(utf16), u / 2),
                 QString::fromStdString(utf8));
        char again[256] = {};
        const WORD a =
            api.OSTranslate(OS_TRANSLATE_UNICODE_TO_LMBCS, utf16, u, again, sizeof again);
        QCOMPARE(std::string(again, a), std::string(lmbcs, n));
        // Every buffer size: the output is a whole-character prefix.
        for (WORD room = 1; room < m; ++room) {
            char part[256];
            const WORD got = api.OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, lmbcs, n, part, room);
            QVERIFY(got <= room);
            QVERIFY2(QString::fromUtf8(part, got).toUtf8() == QByteArray(part, got),
                     qPrintable(QStringLiteral("room %1").arg(room)));
            QVERIFY(utf8.starts_with(std::string_view(part, got)));
        }
        for (WORD room = 1; room < n; ++room) {
            char part[256];
            const WORD got =
                api.OSTranslate(OS_TRANSLATE_UTF8_TO_LMBCS, utf8.c_str(), MAXWORD, part, room);
            QVERIFY(got <= room);
            QVERIFY(std::string_view(lmbcs, n).starts_with(std::string_view(part, got)));
            QVERIFY(utf8.starts_with(nsf::lmbcsToUtf8(std::string_view(part, got))));
        }
    }

    // Documents that are not encrypted are not sealed.
    void decryption()
    {
        const std::string path = sample("simple.nsf");
        const auto direct = nsf::Database::open(path);
        QCOMPARE(init(), STATUS(NOERROR));
        DBHANDLE db = NULLHANDLE;
        QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(NOERROR));
        int sealed = 0, plain = 0;
        for (std::uint32_t id : direct->dataNoteIds().ids) {
            nsf::Note note;
            try {
                note = direct->readNote(id);
            } catch (const std::exception&) {
                continue;
            }
            const bool isSealed = note.find("$Seal") || note.find("$SealData");
            NOTEHANDLE h = NULLHANDLE;
            QCOMPARE(api.NSFNoteOpen(db, id, 0, &h), STATUS(NOERROR));
            QCOMPARE(api.NSFNoteDecrypt(h, 0, nullptr),
                     STATUS(isSealed ? ERR_BSAFE_NOKEY : ERR_NOTE_NOT_SEALED));
            (isSealed ? sealed : plain)++;
            QCOMPARE(api.NSFNoteClose(h), STATUS(NOERROR));
        }
        // No sample holds an encrypted document (docs/nsf-format.md); the sealed path is
        // tested over a local store.
        QCOMPARE(sealed, 0);
        QVERIFY(plain > 0);
        QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        api.NotesTerm();
    }

    // A local store: its rows in the C API's binary forms (LMBCS text and text lists with
    // NUL for a line break, number ranges, TIMEDATEs with the writer's zone, rich text as
    // compound text, attachments as $FILE objects), its views and folders, and a document
    // carrying a seal, which cannot be decrypted.
    void localStore()
    {
        QTemporaryDir dir;
        const QString description = dir.filePath(QStringLiteral("store.json"));
        const QString store = dir.filePath(QStringLiteral("store.db"));
        QFile json(description);
        QVERIFY(json.open(QIODevice::WriteOnly));
        json.write(R"json({"format": 1, "title": "Jörg Weiß - Mail",
 "views": [{"name": "($Inbox)", "folder": true, "documents": ["b", "a"]},
           {"name": "All | AllAlias", "folder": false, "documents": ["a", "b", "c"]},
           {"name": "Empty", "folder": true, "documents": []}],
 "documents": [
  {"id": "a", "items": [
    {"name": "Subject", "type": "text", "values": ["Grüße\nzweite Zeile"]},
    {"name": "SendTo", "type": "names", "values": ["CN=A/O=X", "CN=B/O=X"]},
    {"name": "Sizes", "type": "number", "values": [2.5, -7]},
    {"name": "Count", "type": "number", "values": [3]},
    {"name": "PostedDate", "type": "datetime", "values": ["2008-01-07T09:14:22+05:30"]},
    {"name": "Body", "type": "richtext", "values": ["first line\nsecond line"],
     "embedded": [{"name": "a.txt", "type": 1454, "content_text": "abc", "repeat": 3}]}],
   "attachments": [{"name": "loose.bin", "type": 1454, "content_text": "xyz"}]},
  {"id": "b", "items": [{"name": "Subject", "type": "text", "values": ["b"]},
                        {"name": "$Seal", "type": "text", "values": ["sealed"]}]},
  {"id": "c", "items": [{"name": "Subject", "type": "text", "values": ["c"]}]}]})json");
        json.close();
        const test::ToolRun built =
            test::runTool(test::builtTool("tarvik-mkstore"), {description, store});
        QVERIFY2(built.exitCode == 0, built.output.constData());

        QCOMPARE(init(), STATUS(NOERROR));
        DBHANDLE db = NULLHANDLE;
        QCOMPARE(api.NSFDbOpen(store.toLocal8Bit().constData(), &db), STATUS(NOERROR));
        char info[NSF_INFO_SIZE] = {};
        QCOMPARE(api.NSFDbInfoGet(db, info), STATUS(NOERROR));
        QCOMPARE(QString::fromStdString(nsf::lmbcsToUtf8(std::string_view(info))),
                 QStringLiteral("Jörg Weiß - Mail"));

        HCOLLECTION design = 0;
        QCOMPARE(api.NIFOpenCollection(db, db, NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN, 0, NULLHANDLE,
                                       &design, nullptr, nullptr, nullptr, nullptr),
                 STATUS(NOERROR));
        const auto views =
            readAll(design, READ_MASK_NOTEID | READ_MASK_NOTECLASS | READ_MASK_SUMMARY);
        QCOMPARE(api.NIFCloseCollection(design), STATUS(NOERROR));
        QCOMPARE(views.size(), std::size_t(3));
        QCOMPARE(views[0].title, std::string("($Inbox)"));
        QCOMPARE(views[0].flags, std::string("F"));
        QCOMPARE(views[1].flags, std::string(""));
        NOTEID byAlias = 0;
        QCOMPARE(api.NIFFindView(db, "allalias", &byAlias), STATUS(NOERROR));
        QCOMPARE(byAlias, views[1].id);

        auto entriesOf = [&db](NOTEID view) {
            HCOLLECTION c = 0;
            std::vector<NOTEID> ids;
            if (api.NIFOpenCollection(db, db, view, 0, NULLHANDLE, &c, nullptr, nullptr, nullptr,
                                      nullptr) != NOERROR)
                return ids;
            for (const Entry& e : readAll(c, READ_MASK_NOTEID))
                ids.push_back(e.id);
            api.NIFCloseCollection(c);
            return ids;
        };
        const std::vector<NOTEID> inbox = entriesOf(views[0].id);
        const std::vector<NOTEID> all = entriesOf(views[1].id);
        QCOMPARE(inbox.size(), std::size_t(2));
        QCOMPARE(all.size(), std::size_t(3));
        QCOMPARE(inbox[0], all[1]); // "b" first in the inbox
        QCOMPARE(inbox[1], all[0]);
        // Collection statistics come once, before the entries.
        HCOLLECTION allView = 0;
        QCOMPARE(api.NIFOpenCollection(db, db, views[1].id, 0, NULLHANDLE, &allView, nullptr,
                                       nullptr, nullptr, nullptr),
                 STATUS(NOERROR));
        COLLECTIONPOSITION start{};
        DHANDLE statsBuffer = NULLHANDLE;
        DWORD statsFound = 0;
        WORD statsLength = 0;
        QCOMPARE(api.NIFReadEntries(allView, &start, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 0xFFFFFFFF,
                                    READ_MASK_COLLECTIONSTATS | READ_MASK_NOTEID, &statsBuffer,
                                    &statsLength, nullptr, &statsFound, nullptr),
                 STATUS(NOERROR));
        QCOMPARE(statsFound, DWORD(3));
        QCOMPARE(statsLength, WORD(sizeof(COLLECTIONSTATS) + 3 * sizeof(NOTEID)));
        const auto* stats = static_cast<const std::uint8_t*>(api.OSLockObject(statsBuffer));
        QCOMPARE(dword(stats), DWORD(3));
        QCOMPARE(dword(stats + sizeof(COLLECTIONSTATS)), all[0]);
        api.OSUnlockObject(statsBuffer);
        QCOMPARE(api.OSMemFree(statsBuffer), STATUS(NOERROR));
        QCOMPARE(api.NIFCloseCollection(allView), STATUS(NOERROR));

        // An empty folder reads as no entries, without error or buffer.
        HCOLLECTION empty = 0;
        QCOMPARE(api.NIFOpenCollection(db, db, views[2].id, 0, NULLHANDLE, &empty, nullptr, nullptr,
                                       nullptr, nullptr),
                 STATUS(NOERROR));
        COLLECTIONPOSITION pos{};
        DHANDLE buffer = 1;
        DWORD found = 1;
        WORD signal = 0xffff;
        QCOMPARE(api.NIFReadEntries(empty, &pos, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 0xFFFFFFFF,
                                    READ_MASK_NOTEID, &buffer, nullptr, nullptr, &found, &signal),
                 STATUS(NOERROR));
        QCOMPARE(buffer, DHANDLE(NULLHANDLE));
        QCOMPARE(found, DWORD(0));
        QCOMPARE(signal, WORD(0));
        QCOMPARE(api.NIFCloseCollection(empty), STATUS(NOERROR));

        NOTEHANDLE a = NULLHANDLE;
        QCOMPARE(api.NSFNoteOpen(db, all[0], 0, &a), STATUS(NOERROR));
        std::vector<ScannedItem> items;
        QCOMPARE(api.NSFItemScan(a, collect, &items), STATUS(NOERROR));
        std::map<std::string, std::vector<std::uint8_t>> byName;
        std::vector<std::string> files;
        for (const ScannedItem& i : items) {
            if (i.name == "$FILE")
                files.push_back(nsf::decodeFileObject(nsf::Bytes(i.value).subspan(2)).name);
            else
                byName[i.name] = i.value;
        }
        auto body = [&byName](const char* name) {
            const auto& v = byName.at(name);
            return std::make_pair(word(v.data()), nsf::Bytes(v).subspan(2));
        };
        QCOMPARE(body("Subject").first, WORD(TYPE_TEXT));
        QCOMPARE(QString::fromStdString(nsf::decodeText(body("Subject").second)),
                 QStringLiteral("Grüße\nzweite Zeile"));
        const auto subject = body("Subject").second;
        QVERIFY(std::find(subject.begin(), subject.end(), '\0') != subject.end());
        QVERIFY(std::find(subject.begin(), subject.end(), '\n') == subject.end());
        QCOMPARE(body("SendTo").first, WORD(TYPE_TEXT_LIST));
        QCOMPARE(nsf::decodeTextList(body("SendTo").second),
                 (std::vector<std::string>{"CN=A/O=X", "CN=B/O=X"}));
        QVERIFY(std::find_if(items.begin(), items.end(), [](const ScannedItem& i) {
                    return i.name == "SendTo" && (i.flags & ITEM_NAMES);
                }) != items.end());
        QCOMPARE(body("Sizes").first, WORD(TYPE_NUMBER_RANGE));
        QCOMPARE(nsf::decodeNumberRange(body("Sizes").second).values,
                 (std::vector<double>{2.5, -7}));
        QCOMPARE(body("Count").first, WORD(TYPE_NUMBER));
        QCOMPARE(nsf::decodeNumber(body("Count").second), 3.0);
        NUMBER number = 0;
        QVERIFY(api.NSFItemGetNumber(a, "Sizes", &number));
        QCOMPARE(number, 2.5);
        QCOMPARE(body("PostedDate").first, WORD(TYPE_TIME));
        const nsf::TimeDate posted = nsf::decodeTime(body("PostedDate").second);
        QCOMPARE(nsf::formatTimeDate(posted), std::string("2008-01-07T03:44:22.00Z"));
        QCOMPARE(posted.zoneMinutesEast(), 330);
        TIMEDATE td{};
        QVERIFY(api.NSFItemGetTime(a, "posteddate", &td));
        QCOMPARE(td.Innards[0], posted.time);
        QCOMPARE(files, (std::vector<std::string>{"a.txt", "loose.bin"}));

        BLOCKID item{}, value{};
        WORD type = 0;
        DWORD length = 0;
        QCOMPARE(api.NSFItemInfo(a, "Body", 4, &item, &type, &value, &length), STATUS(NOERROR));
        DHANDLE text = NULLHANDLE;
        DWORD textLength = 0;
        QCOMPARE(api.ConvertItemToText(value, length, "\n", 80, &text, &textLength, FALSE),
                 STATUS(NOERROR));
        const QByteArray plain(static_cast<const char*>(api.OSLockObject(text)),
                               qsizetype(textLength));
        api.OSUnlockObject(text);
        QCOMPARE(api.OSMemFree(text), STATUS(NOERROR));
        QVERIFY2(plain.trimmed() == "first line\nsecond line", plain.constData());

        QStringList extracted;
        STATUS s = api.NSFItemInfo(a, "$FILE", 5, &item, &type, &value, &length);
        while (s == NOERROR) {
            const QString out = dir.filePath(QStringLiteral("out%1").arg(extracted.size()));
            QCOMPARE(api.NSFNoteExtractFile(a, item, out.toLocal8Bit().constData(), nullptr),
                     STATUS(NOERROR));
            QFile f(out);
            QVERIFY(f.open(QIODevice::ReadOnly));
            extracted << QString::fromLatin1(f.readAll());
            s = api.NSFItemInfoNext(a, item, "$FILE", 5, &item, &type, &value, &length);
        }
        QCOMPARE(extracted, (QStringList{QStringLiteral("abcabcabc"), QStringLiteral("xyz")}));
        QCOMPARE(api.NSFNoteDecrypt(a, 0, nullptr), STATUS(ERR_NOTE_NOT_SEALED));
        QCOMPARE(api.NSFNoteClose(a), STATUS(NOERROR));

        NOTEHANDLE b = NULLHANDLE;
        QCOMPARE(api.NSFNoteOpen(db, all[1], 0, &b), STATUS(NOERROR));
        QCOMPARE(api.NSFNoteDecrypt(b, 0, nullptr), STATUS(ERR_BSAFE_NOKEY));
        QCOMPARE(api.NSFNoteClose(b), STATUS(NOERROR));
        NOTEHANDLE none = NULLHANDLE;
        QCOMPARE(api.NSFNoteOpen(db, all[2] + 4, 0, &none), STATUS(ERR_INVALID_NOTE));
        QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        api.NotesTerm();
    }

    // Start-up as the tests of a loader need it: failing on request, a password the ID asks.
    void startUp()
    {
        qputenv("TARVIK_STANDIN_INIT_FAIL", "1");
        QCOMPARE(init(), STATUS(ERR_INIT_FAILED));
        qunsetenv("TARVIK_STANDIN_INIT_FAIL");

        char program[] = "tst_standin";
        char missingIni[] = "=/nonexistent/notes.ini";
        char* argv[] = {program, missingIni, nullptr};
        QCOMPARE(api.NotesInitExtended(2, argv), STATUS(ERR_NOEXIST));

        QTemporaryDir dir;
        const QByteArray id = dir.filePath(QStringLiteral("user.id")).toLocal8Bit();
        QFile(QString::fromLocal8Bit(id)).open(QIODevice::WriteOnly);
        qputenv("TARVIK_STANDIN_ID_PASSWORD", "secret");
        QCOMPARE(init(), STATUS(NOERROR));
        DBHANDLE db = NULLHANDLE;
        const std::string path = sample("simple.nsf");
        QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(ERR_BSAFE_USER_ABORT));
        char wrong[] = "guess";
        char right[] = "secret";
        char user[64] = {};
        QCOMPARE(api.SECKFMSwitchToIDFile(const_cast<char*>(id.constData()), wrong, user,
                                          sizeof user, 0, nullptr),
                 STATUS(ERR_BSAFE_BADPASSWORD));
        char text[128] = {};
        QVERIFY(api.OSLoadString(nullptr, ERR_BSAFE_BADPASSWORD, text, sizeof text - 1) > 0);
        QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(ERR_BSAFE_USER_ABORT));
        QCOMPARE(api.SECKFMSwitchToIDFile(const_cast<char*>(id.constData()), right, user,
                                          sizeof user, 0, nullptr),
                 STATUS(NOERROR));
        QVERIFY(std::strlen(user) > 0);
        QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(NOERROR));
        QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        api.NotesTerm();
        qunsetenv("TARVIK_STANDIN_ID_PASSWORD");

        // The notes.ini's data directory: relative paths start there, ".nsf" may be left out.
        QTemporaryDir iniDir;
        const QByteArray iniPath = iniDir.filePath(QStringLiteral("notes.ini")).toLocal8Bit();
        QFile iniFile(QString::fromLocal8Bit(iniPath));
        QVERIFY(iniFile.open(QIODevice::WriteOnly));
        iniFile.write("[Notes]\r\nKeyFilename=user.id\r\nDirectory=" + kSamples.toLocal8Bit() +
                      "\r\n");
        iniFile.close();
        const QByteArray iniArgument = "=" + iniPath;
        char* iniArgv[] = {program, const_cast<char*>(iniArgument.constData()), nullptr};
        QCOMPARE(api.NotesInitExtended(2, iniArgv), STATUS(NOERROR));
        QCOMPARE(api.NSFDbOpen("simple", &db), STATUS(NOERROR));
        char info[NSF_INFO_SIZE] = {};
        QCOMPARE(api.NSFDbInfoGet(db, info), STATUS(NOERROR));
        QVERIFY(std::strlen(info) > 0);
        QCOMPARE(api.NSFDbClose(db), STATUS(NOERROR));
        QCOMPARE(api.NSFDbOpen("simple.ntf", &db), STATUS(ERR_NOEXIST));
        api.NotesTerm();

        QCOMPARE(init(), STATUS(NOERROR));
        QCOMPARE(api.NSFDbOpen("simple", &db), STATUS(ERR_NOEXIST)); // no data directory
        QCOMPARE(api.NSFDbOpen("/nonexistent/mail.nsf", &db), STATUS(ERR_NOEXIST));
        QTemporaryDir junkDir;
        const QString junk = junkDir.filePath(QStringLiteral("junk.nsf"));
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        QCOMPARE(api.NSFDbOpen(junk.toLocal8Bit().constData(), &db), STATUS(ERR_NOT_NSF));
        api.NotesTerm();
    }

    // Each kind of misuse is refused with an error and counted; the count is what a test of
    // the back-end asserts to be zero.
    void misuseIsCounted()
    {
        DWORD before = api.TarvikStandinMisuseCount();
        auto counted = [&before](const char* what) {
            const DWORD now = api.TarvikStandinMisuseCount();
            if (now != before + 1)
                qWarning("%s: misuse count %u, expected %u", what, now, before + 1);
            const bool ok = now == before + 1;
            before = now;
            return ok;
        };
        DBHANDLE db = NULLHANDLE;
        const std::string path = sample("simple.nsf");
        QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(ERR_NOT_INITIALIZED));
        QVERIFY(counted("call before init"));

        QCOMPARE(init(), STATUS(NOERROR));
        // Another thread must initialise itself first.
        STATUS fromThread = NOERROR;
        std::thread([&fromThread, &path] {
            DBHANDLE h = NULLHANDLE;
            fromThread = api.NSFDbOpen(path.c_str(), &h);
        }).join();
        QCOMPARE(fromThread, STATUS(ERR_NOT_INITIALIZED));
        QVERIFY(counted("a thread that did not call NotesInitThread"));
        std::thread([&fromThread, &path] {
            DBHANDLE h = NULLHANDLE;
            if ((fromThread = api.NotesInitThread()) == NOERROR &&
                (fromThread = api.NSFDbOpen(path.c_str(), &h)) == NOERROR)
                fromThread = api.NSFDbClose(h);
            api.NotesTermThread();
        }).join();
        QCOMPARE(fromThread, STATUS(NOERROR));
        QCOMPARE(api.TarvikStandinMisuseCount(), before);

        QCOMPARE(api.NSFDbOpen(path.c_str(), &db), STATUS(NOERROR));
        QVERIFY(db > 0xffff); // a handle kept in 16 bits is lost
        QCOMPARE(api.NSFDbClose(db & 0xffff), STATUS(ERR_PROTECTED));
        QVERIFY(counted("a database handle cut to 16 bits"));
        QCOMPARE(api.NSFDbClose(db + 1), STATUS(ERR_PROTECTED));
        QVERIFY(counted("wrong database handle"));

        NOTEHANDLE note = NULLHANDLE;
        const auto direct = nsf::Database::open(path);
        QCOMPARE(api.NSFNoteOpen(db, direct->dataNoteIds().ids.front(), 0, &note), STATUS(NOERROR));
        NOTEHANDLE other = NULLHANDLE;
        QCOMPARE(api.NSFNoteOpen(note, direct->dataNoteIds().ids.front(), 0, &other),
                 STATUS(ERR_PROTECTED));
        QVERIFY(counted("a note handle for a database handle"));
        BLOCKID item{}, value{};
        QCOMPARE(api.NSFItemInfo(note, nullptr, 0, &item, nullptr, &value, nullptr),
                 STATUS(NOERROR));
        QCOMPARE(api.OSMemFree(value.pool), STATUS(ERR_PROTECTED));
        QVERIFY(counted("freeing a note's value"));
        QCOMPARE(api.NSFNoteExtractFile(note, value, "/dev/null", nullptr), STATUS(ERR_PROTECTED));
        QVERIFY(counted("a value BLOCKID where an item BLOCKID belongs"));
        QCOMPARE(api.NSFNoteClose(note), STATUS(NOERROR));
        QCOMPARE(api.NSFNoteClose(note), STATUS(NOERROR));
        QVERIFY(counted("closing a note twice"));
        QVERIFY(api.OSLockObject(value.pool) == nullptr);
        QVERIFY(counted("a value of a closed note"));

        HCOLLECTION coll = 0;
        QCOMPARE(api.NIFOpenCollection(db, db, NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN, 0, NULLHANDLE,
                                       &coll, nullptr, nullptr, nullptr, nullptr),
                 STATUS(NOERROR));
        COLLECTIONPOSITION pos{};
        DHANDLE buffer = NULLHANDLE;
        DWORD found = 0;
        QCOMPARE(api.NIFReadEntries(coll, &pos, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 5,
                                    READ_MASK_NOTEID, &buffer, nullptr, nullptr, &found, nullptr),
                 STATUS(NOERROR));
        QVERIFY(buffer != NULLHANDLE && found > 0);
        QVERIFY(api.OSLockObject(buffer) != nullptr);
        QCOMPARE(api.OSMemFree(buffer), STATUS(ERR_PROTECTED));
        QVERIFY(counted("freeing a locked buffer"));
        api.OSUnlockObject(buffer);
        api.OSUnlockObject(buffer);
        QVERIFY(counted("unlocking once too often"));

        // Left open at the end: the buffer, the collection, the database.
        api.NotesTerm();
        QCOMPARE(api.TarvikStandinMisuseCount(), before + 3);
        QVERIFY(api.misuse().contains(QStringLiteral("not freed before NotesTerm")));
        QVERIFY(api.misuse().contains(QStringLiteral("collection")));
        m_expectedMisuse = api.TarvikStandinMisuseCount();
    }
};

QTEST_GUILESS_MAIN(TestStandin)
#include "tst_standin.moc"
