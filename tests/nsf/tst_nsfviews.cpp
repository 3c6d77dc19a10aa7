// Views and folders: the view notes of the real samples, the documents of their stored indexes
// in view order (checked against what the sample programs print and against the documents'
// own items), folder tables, views that store no order, damaged indexes, and view indexes
// written by hand to reach the layouts and the damage the samples do not have.
#include "nsf/ObjectItem.h"
#include "nsf/ViewIndex.h"
#include "nsf/Views.h"

#include "NsfTestBytes.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <algorithm>
#include <map>
#include <random>
#include <set>

using namespace tarvik::nsf;
using tarvik::nsf::test::ValueBytes;

namespace {

std::string samplePath(const QString& name)
{
    return QDir(QStringLiteral(TARVIK_NSF_SAMPLES)).filePath(name).toStdString();
}

std::unique_ptr<Database> openSample(const char* name)
{
    return Database::open(samplePath(QString::fromLatin1(name)));
}

QStringList sampleNames()
{
    return QDir(QStringLiteral(TARVIK_NSF_SAMPLES))
        .entryList({QStringLiteral("*.nsf")}, QDir::Files, QDir::Name);
}

std::string textItem(const Note& note, const char* name)
{
    const Item* item = note.find(name);
    if (!item || !item->ok())
        return {};
    if (item->type == kTypeTextList) {
        std::string out;
        for (const std::string& s : decodeTextList(item->value))
            out += (out.empty() ? "" : "|") + s;
        return out;
    }
    return decodeText(item->value);
}

const ViewNote& viewNamed(const ViewList& list, const char* name)
{
    const ViewNote* v = findView(list.views, name);
    if (!v)
        throw std::logic_error(std::string("no view ") + name);
    return *v;
}

// What must hold of any result, whatever the view.
void checkInvariants(const Database& db, const ViewEntries& e, const std::string& where)
{
    const std::vector<NoteId> docs = db.dataNoteIds().ids;
    const std::set<NoteId> fileDocs(docs.begin(), docs.end());
    for (const NoteId id : e.allDocuments())
        QVERIFY2(fileDocs.count(id), (where + ": gives a note that is no document").c_str());
    for (const NoteId id : e.unplaced)
        QVERIFY2(std::find(e.documents.begin(), e.documents.end(), id) == e.documents.end(),
                 (where + ": a document both placed and unplaced").c_str());
    QVERIFY2(std::is_sorted(e.unplaced.begin(), e.unplaced.end()), where.c_str());
    QCOMPARE(e.problems.empty(), e.completeness == Completeness::Complete);
    if (e.order == Order::NoteId)
        QVERIFY2(std::is_sorted(e.documents.begin(), e.documents.end()) && e.unplaced.empty(),
                 where.c_str());
}

// Writes view index pages by hand, in the Notes 6 layout unless told otherwise: records of 40
// bytes, nodes with a 17-byte header and 24-byte descriptors.
class IndexImage {
public:
    static constexpr std::size_t kBase = 0x1000;
    static constexpr std::uint32_t kPage = 0x2000;

    explicit IndexImage(int pages = 1) : m_file(kBase + pages * kPage, 0)
    {
        for (int i = 0; i < pages; ++i)
            m_pages.push_back({kBase + std::size_t(i) * kPage, 32, {}, false});
    }

    // Puts `bytes` in the next slot of `page` and returns the reference to it.
    std::array<std::uint8_t, 4> slot(int page, const std::vector<std::uint8_t>& bytes)
    {
        Page& p = m_pages[page];
        if (p.next + bytes.size() + 4 * (p.slots.size() + 1) > kPage)
            throw std::logic_error("page full");
        std::copy(bytes.begin(), bytes.end(), m_file.begin() + p.offset + p.next);
        p.slots.push_back({std::uint16_t(p.next), std::uint16_t(bytes.size())});
        p.next += bytes.size();
        return ref(page, int(p.slots.size()));
    }
    // Makes `page` one node filling the page.
    std::array<std::uint8_t, 4> wholePage(int page, const std::vector<std::uint8_t>& node)
    {
        Page& p = m_pages[page];
        p.whole = true;
        std::copy(node.begin(), node.end(), m_file.begin() + p.offset + 32);
        return ref(page, 1);
    }
    static std::array<std::uint8_t, 4> ref(int page, int slot)
    {
        return {std::uint8_t(page), std::uint8_t(page >> 8), 0, std::uint8_t(slot - 1)};
    }
    static constexpr std::array<std::uint8_t, 4> kNone = {0xFF, 0xFF, 0xFF, 0xFF};

    // A collection record: its node and its count of entries.
    static std::vector<std::uint8_t> record(std::array<std::uint8_t, 4> node, std::uint32_t count,
                                            std::uint8_t mark = 0xEE)
    {
        ValueBytes b;
        b.raw({mark, 0xBB, 0x0D, 0x00}).raw({0, 0, 0, 0});
        for (std::uint8_t x : node)
            b.u8(x);
        b.u16(0x1FE0).u16(0).raw({1, 1}).raw({0, 0, 0, 0, 0, 0, 0, 0}).u32(count);
        while (b.size() < 40)
            b.u8(0);
        return b.vector();
    }

    struct Entry {
        std::uint32_t id;
        std::array<std::uint8_t, 4> child = kNone; // children, or the left subtree
    };
    // A node of `level` with these entries and, for an inner node, the rightmost subtree.
    static std::vector<std::uint8_t> node(std::uint8_t level, const std::vector<Entry>& entries,
                                          std::array<std::uint8_t, 4> last = kNone)
    {
        const std::size_t head = 17 + 24 * entries.size() + 16;
        ValueBytes b;
        b.u8(level).u8(1).u16(0).u16(std::uint16_t(entries.size() + 1));
        while (b.size() < 17)
            b.u8(0);
        std::size_t at = head;
        for (const Entry& e : entries) {
            for (std::uint8_t x : e.child)
                b.u8(x);
            b.u16(0).u16(std::uint16_t(at)).u16(0x0C).u16(kEntrySize).u32(0xFFFFFFFF);
            b.raw({0, 0, 0, 0, 0, 0, 0, 0});
            at += kEntrySize;
        }
        for (std::uint8_t x : last)
            b.u8(x);
        b.u16(1).u16(std::uint16_t(head)).u16(0).u16(0).u32(0xFFFFFFFF);
        for (const Entry& e : entries) {
            b.u32(e.id).u32(0x00060008);
            for (int i = 0; i < 16; ++i)
                b.u8(std::uint8_t(e.id + i)); // a UNID made from the ID
            b.u32(1);
        }
        return b.vector();
    }
    static constexpr std::uint16_t kEntrySize = 28;

    // The $ViewContainer object listing the pages.
    std::vector<std::uint8_t> container() const
    {
        ValueBytes b;
        while (b.size() < 0x20)
            b.u8(0);
        b.u16(0xFADE).u16(0x10);
        while (b.size() < 0x98)
            b.u8(0);
        b.u32(std::uint32_t(m_pages.size())).u32(std::uint32_t(m_pages.size()));
        for (const Page& p : m_pages)
            b.u32(std::uint32_t(p.offset / 256)).u16(0xFFFF).u16(0).u16(p.whole ? 0 : 1).u16(0);
        return b.vector();
    }

    // The file image with every page's header and slot table written.
    const std::vector<std::uint8_t>& file()
    {
        for (std::size_t i = 0; i < m_pages.size(); ++i) {
            const Page& p = m_pages[i];
            std::uint8_t* h = &m_file[p.offset];
            h[0] = std::uint8_t(i);
            h[1] = std::uint8_t(i >> 8);
            h[3] = 0xFF;
            h[4] = kPage & 0xFF;
            h[5] = kPage >> 8;
            h[10] = p.whole ? 0 : 1;
            h[12] = p.whole ? 0 : std::uint8_t(p.slots.size());
            for (std::size_t s = 0; s < p.slots.size(); ++s) {
                std::uint8_t* pair = &m_file[p.offset + kPage - 4 * (s + 1)];
                pair[0] = std::uint8_t(p.slots[s].first);
                pair[1] = std::uint8_t(p.slots[s].first >> 8);
                pair[2] = std::uint8_t(p.slots[s].second);
                pair[3] = std::uint8_t(p.slots[s].second >> 8);
            }
        }
        return m_file;
    }
    std::vector<std::uint8_t>& raw() { return m_file; }
    std::size_t pageOffset(int page) const { return m_pages[page].offset; }

private:
    struct Page {
        std::size_t offset;
        std::size_t next;
        std::vector<std::pair<std::uint16_t, std::uint16_t>> slots;
        bool whole;
    };
    std::vector<std::uint8_t> m_file;
    std::vector<Page> m_pages;
};

IndexRef refOf(std::array<std::uint8_t, 4> r)
{
    return *decodeIndexRef(Bytes(r.data(), 4));
}

IndexTree readImage(IndexImage& image, std::array<std::uint8_t, 4> root)
{
    const std::vector<std::uint8_t>& file = image.file();
    const std::vector<std::uint8_t> container = image.container();
    MemorySource source(file);
    return readIndexTree(source, container, 0, refOf(root));
}

std::vector<std::uint32_t> idsOf(const IndexTree& tree)
{
    std::vector<std::uint32_t> out;
    for (const IndexEntry& e : tree.entries)
        out.push_back(e.id);
    return out;
}

std::vector<std::uint8_t> readFile(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

// Every view of the database read; any exception but FormatError fails the test.
std::size_t readAllViews(const Database& db)
{
    std::size_t read = 0;
    ViewList list;
    try {
        list = listViews(db);
    } catch (const FormatError&) {
        return 0;
    }
    for (const ViewNote& v : list.views) {
        try {
            const ViewEntries e = readViewEntries(db, v.noteId);
            read += e.count();
        } catch (const FormatError&) {
        }
    }
    return read;
}

} // namespace

class TestNsfViews : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyViewOfEverySampleIsListed()
    {
        // Against a scan of every note of the file (documents too): every view note but the
        // navigators, in note-ID order, with its title split into name and aliases and its
        // folder flag.
        std::vector<std::string> folders;
        std::size_t views = 0;
        for (const QString& name : sampleNames()) {
            const auto db = Database::open(samplePath(name));
            const ViewList list = listViews(*db);
            QVERIFY(list.unreadable.empty());
            std::vector<NoteId> expected;
            for (const NoteId id : db->noteIds()) {
                const Note note = db->readNote(id);
                if ((note.noteClass & 0x7FFF) == noteclass::kView &&
                    textItem(note, "$Flags").find('G') == std::string::npos)
                    expected.push_back(id);
            }
            std::vector<NoteId> listed;
            for (const ViewNote& v : list.views) {
                listed.push_back(v.noteId);
                const Note note = db->readNote(v.noteId);
                const std::string title = textItem(note, "$TITLE");
                QCOMPARE(v.title, title);
                std::string joined = v.name;
                for (const std::string& a : v.aliases) {
                    QVERIFY(!a.empty() && a.front() != ' ' && a.back() != ' ');
                    joined += "|" + a;
                }
                std::string squeezed;
                for (char c : title)
                    if (c != ' ')
                        squeezed += c;
                joined.erase(std::remove(joined.begin(), joined.end(), ' '), joined.end());
                QCOMPARE(joined, squeezed);
                QCOMPARE(v.isFolder, textItem(note, "$Flags").find('F') != std::string::npos);
                QCOMPARE(v.isDefault, (note.noteClass & noteclass::kDefault) != 0);
                if (v.isFolder)
                    folders.push_back(name.toStdString() + ":" + v.name);
            }
            QCOMPARE(listed, expected);
            views += listed.size();
        }
        // The samples' only folder (their README says so).
        QCOMPARE(folders, std::vector<std::string>{"billdrv.nsf:My Favorites"});
        QVERIFY(views >= 100);
    }

    void billdrvViewsFolderAndAliases()
    {
        const auto db = openSample("billdrv.nsf");
        const ViewList list = listViews(*db);
        std::vector<std::pair<std::string, std::vector<std::string>>> names;
        for (const ViewNote& v : list.views)
            names.push_back({v.name, v.aliases});
        // "Main Navigator" is a navigator, not a view. "(Defauet View)" is how the sample's
        // damaged byte left it.
        const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
            {"By Author", {"AuthorView"}},          {"($Profiles)", {"($Profiles)"}},
            {"(Defauet View)", {"(Default View)"}}, {"($All)", {}},
            {"By Category", {"By Category"}},       {"My Favorites", {"My Favorites"}},
            {"_Archiving", {"Archiving"}},
        };
        QCOMPARE(names, expected);

        QCOMPARE(findView(list.views, "AuthorView")->name, std::string("By Author"));
        QCOMPARE(findView(list.views, "  my FAVORITES ")->noteId, NoteId(0x182));
        QCOMPARE(findView(list.views, "archiving")->name, std::string("_Archiving"));
        QCOMPARE(findView(list.views, "By Author | AuthorView")->name, std::string("By Author"));
        QVERIFY(findView(list.views, "Main Navigator") == nullptr);
        QVERIFY(findView(list.views, "") == nullptr);

        // The file holds no documents: every view and the folder is empty, and that is
        // certain, whether or not the view stores an index.
        QVERIFY(db->dataNoteIds().ids.empty());
        for (const ViewNote& v : list.views) {
            const ViewEntries e = readViewEntries(*db, v.noteId);
            QCOMPARE(e.count(), std::size_t(0));
            QCOMPARE(e.completeness, Completeness::Complete);
            if (v.isFolder)
                QCOMPARE(e.membership, Membership::FolderTable);
            else if (!v.hasIndex)
                QCOMPARE(e.membership, Membership::NoDocumentsInFile);
        }
        QVERIFY_THROWS_EXCEPTION(FormatError, readViewEntries(*db, 0x116)); // not a view
    }

    void ftsearchViewsAgreeWithTheDocuments()
    {
        const auto db = openSample("ftsearch.nsf");
        const ViewList list = listViews(*db);
        std::map<NoteId, Note> docs;
        for (const NoteId id : db->dataNoteIds().ids)
            docs.emplace(id, db->readNote(id));
        QCOMPARE(docs.size(), std::size_t(16));

        const ViewEntries main = readViewEntries(*db, viewNamed(list, "Main View").noteId);
        const ViewEntries topics = readViewEntries(*db, viewNamed(list, "Main Topics Only").noteId);
        const ViewEntries byAuthor = readViewEntries(*db, viewNamed(list, "AuthorView").noteId);
        const ViewEntries categorized = readViewEntries(*db, viewNamed(list, "Categorized").noteId);
        for (const ViewEntries* e : {&main, &topics, &byAuthor, &categorized}) {
            QCOMPARE(e->completeness, Completeness::Complete);
            QCOMPARE(e->order, Order::ViewIndex);
            QCOMPARE(e->membership, Membership::ViewIndex);
            QCOMPARE(e->indexLayout, std::string("Notes 6"));
        }
        QCOMPARE(main.count(), std::size_t(16));
        QCOMPARE(std::set<NoteId>(byAuthor.documents.begin(), byAuthor.documents.end()).size(),
                 std::size_t(16));
        QCOMPARE(categorized.count(), std::size_t(16));

        // "Main Topics Only" holds the 6 documents that are not responses, in the order the
        // main view shows them (both sort on the same column; two separately stored indexes).
        std::vector<NoteId> mainTopics;
        for (const NoteId id : main.documents)
            if (docs.at(id).parentId == 0)
                mainTopics.push_back(id);
        QCOMPARE(topics.documents, mainTopics);
        QCOMPARE(topics.count(), std::size_t(6));

        // The main view shows responses under their parents: each follows its parent, inside
        // the parent's run of descendants.
        std::map<NoteId, std::size_t> position;
        for (std::size_t i = 0; i < main.documents.size(); ++i)
            position[main.documents[i]] = i;
        for (const NoteId id : main.documents) {
            const NoteId parent = docs.at(id).parentId;
            if (!parent)
                continue;
            QVERIFY(position.at(parent) < position.at(id));
            for (std::size_t i = position.at(parent) + 1; i < position.at(id); ++i) {
                NoteId up = main.documents[i];
                while (up && up != parent)
                    up = docs.at(up).parentId;
                QVERIFY2(up == parent, "a response is separated from its parent");
            }
        }

        // "By Author" is categorized by the author: each author's documents come together.
        std::vector<std::string> authors;
        for (const NoteId id : byAuthor.documents) {
            const std::string from = textItem(docs.at(id), "From");
            if (authors.empty() || authors.back() != from) {
                QVERIFY2(std::find(authors.begin(), authors.end(), from) == authors.end(),
                         from.c_str());
                authors.push_back(from);
            }
        }
        std::set<std::string> allAuthors;
        for (const auto& [id, note] : docs)
            allAuthors.insert(textItem(note, "From"));
        QCOMPARE(authors.size(), allAuthors.size());
        QVERIFY(authors.size() > 1);
    }

    void hierarchTwoLevelsAsNavigatePrintsIt()
    {
        // The C API sample "navigate" prints, for the second subcategory of the second main
        // category of hierarch.nsf's view "twolevels": 211A, 211E, 2122. One entry of the
        // sample's index is damaged (its offset points past its node): the reader gives the
        // rest in order and the lost document as unplaced, never as a complete view.
        const auto db = openSample("hierarch.nsf");
        const ViewList list = listViews(*db);
        const ViewEntries e = readViewEntries(*db, viewNamed(list, "twolevels").noteId);
        checkInvariants(*db, e, "twolevels");
        QCOMPARE(e.completeness, Completeness::Partial);
        QCOMPARE(e.unplaced, std::vector<NoteId>{0x2126});
        QCOMPARE(e.count(), db->dataNoteIds().ids.size());
        const NoteId printed[] = {0x211A, 0x211E, 0x2122};
        const auto at = std::search(e.documents.begin(), e.documents.end(), std::begin(printed),
                                    std::end(printed));
        QVERIFY(at != e.documents.end());
        // The category "Main A" (documents 20FE to 2112) comes before "Main B".
        QVERIFY(std::find(e.documents.begin(), e.documents.end(), NoteId(0x2112)) < at);
        for (const NoteId id : e.documents) {
            const NoteId parent = db->readNote(id).parentId;
            if (parent)
                QVERIFY(std::find(e.documents.begin(), e.documents.end(), parent) <
                        std::find(e.documents.begin(), e.documents.end(), id));
        }
        QVERIFY(std::any_of(e.problems.begin(), e.problems.end(), [](const std::string& p) {
            return p.find("does not lie in its node") != std::string::npos;
        }));
    }

    void sortedViewsFollowTheirSortFields()
    {
        // nf_doc.nsf (Notes 5 layout): "Table of Contents" sorts on the documents' Section.
        {
            const auto db = openSample("nf_doc.nsf");
            const ViewEntries e =
                readViewEntries(*db, viewNamed(listViews(*db), "Contents").noteId);
            QCOMPARE(e.indexLayout, std::string("Notes 5"));
            QCOMPARE(e.completeness, Completeness::Complete);
            std::vector<std::pair<std::string, NoteId>> bySection;
            for (const NoteId id : db->dataNoteIds().ids)
                bySection.push_back({textItem(db->readNote(id), "Section"), id});
            std::sort(bySection.begin(), bySection.end());
            std::vector<NoteId> expected;
            for (const auto& [section, id] : bySection)
                expected.push_back(id);
            QCOMPARE(e.documents, expected);
        }
        // pg_doc.nsf: sorted on SectionNumber, then Chapter. One document is in the index's ID
        // table but not in its tree: it is given as unplaced, the rest in sort order.
        {
            const auto db = openSample("pg_doc.nsf");
            const ViewEntries e =
                readViewEntries(*db, viewNamed(listViews(*db), "Table of Contents").noteId);
            QCOMPARE(e.completeness, Completeness::Partial);
            QCOMPARE(e.count(), db->dataNoteIds().ids.size());
            std::vector<std::pair<std::pair<double, double>, NoteId>> keys;
            for (const NoteId id : e.documents) {
                const Note note = db->readNote(id);
                keys.push_back({{decodeNumber(note.find("SectionNumber")->value),
                                 decodeNumber(note.find("Chapter")->value)},
                                id});
            }
            QVERIFY(std::is_sorted(keys.begin(), keys.end()));
            QCOMPARE(e.unplaced.size(), std::size_t(1));
        }
        // discuss.nsf's "Main View": one entry's length is damaged; its note ID is still read,
        // and each response follows its parent.
        {
            const auto db = openSample("discuss.nsf");
            const ViewEntries e =
                readViewEntries(*db, viewNamed(listViews(*db), "Main View").noteId);
            QCOMPARE(e.completeness, Completeness::Complete);
            QCOMPARE(e.count(), std::size_t(4));
            for (std::size_t i = 0; i < e.documents.size(); ++i) {
                const NoteId parent = db->readNote(e.documents[i]).parentId;
                if (parent)
                    QCOMPARE(e.documents[i - 1], parent);
            }
            QVERIFY(!e.warnings.empty());
        }
    }

    void viewsWithoutAnOrderOrWithoutAnIndex()
    {
        // discuss.nsf's "By Author" keeps an index of an older kind: the ID table of its
        // documents and no entry tree. Its documents come in note-ID order, said so.
        const auto discuss = openSample("discuss.nsf");
        const ViewList list = listViews(*discuss);
        const ViewEntries byAuthor = readViewEntries(*discuss, viewNamed(list, "By Author").noteId);
        QCOMPARE(byAuthor.membership, Membership::ViewIdTable);
        QCOMPARE(byAuthor.order, Order::NoteId);
        QCOMPARE(byAuthor.documents, discuss->dataNoteIds().ids);
        checkInvariants(*discuss, byAuthor, "By Author");

        // history.nsf's views other than the main one were never opened: no index, while the
        // file holds documents. That is an error naming the view, not an empty view.
        const auto history = openSample("history.nsf");
        const ViewList hv = listViews(*history);
        QVERIFY(!history->dataNoteIds().ids.empty());
        try {
            readViewEntries(*history, viewNamed(hv, "2. Assignments").noteId);
            QFAIL("a view without an index gave documents");
        } catch (const FormatError& e) {
            QCOMPARE(e.kind(), FailureKind::Unsupported);
            QVERIFY(std::string(e.what()).find("2. Assignments") != std::string::npos);
        }
    }

    void damagedEntryIdsAreMatchedByTheirUnid()
    {
        // In summary.nsf's "CategoryView" one entry names note 0x22FA (a damaged byte); the
        // UNID the entry stores is that of document 0x20FA, the one member the tree lacked.
        const auto db = openSample("summary.nsf");
        const ViewList list = listViews(*db);
        const ViewEntries e = readViewEntries(*db, viewNamed(list, "CategoryView").noteId);
        QCOMPARE(e.completeness, Completeness::Complete);
        std::vector<NoteId> sorted = e.documents;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(sorted, db->dataNoteIds().ids);
        QVERIFY(std::any_of(e.warnings.begin(), e.warnings.end(), [](const std::string& w) {
            return w.find("0x22FA") != std::string::npos && w.find("0x20FA") != std::string::npos;
        }));
    }

    void staleWhenDocumentsChangedAfterTheIndex()
    {
        const auto db = openSample("ftsearch.nsf");
        const NoteId view = viewNamed(listViews(*db), "Main View").noteId;
        const ViewEntries plain = readViewEntries(*db, view);
        QVERIFY(plain.indexUpdated.has_value());
        TimeDate after = *plain.indexUpdated;
        after.date += 1; // a day later
        TimeDate before = *plain.indexUpdated;
        before.date -= 1;
        QCOMPARE(readViewEntries(*db, view, {after}).completeness, Completeness::Stale);
        const ViewEntries fresh = readViewEntries(*db, view, {before});
        QCOMPARE(fresh.completeness, Completeness::Complete);
        QCOMPARE(fresh.documents, plain.documents);
    }

    void everyViewOfEverySampleReadsOrSaysWhyNot()
    {
        std::size_t fromIndex = 0, fromTable = 0, empty = 0, errors = 0;
        for (const QString& name : sampleNames()) {
            const auto db = Database::open(samplePath(name));
            for (const ViewNote& v : listViews(*db).views) {
                const std::string where = name.toStdString() + " " + v.title;
                const Note note = db->readNote(v.noteId);
                try {
                    const ViewEntries e = readViewEntries(*db, v.noteId);
                    checkInvariants(*db, e, where);
                    // Every index with entry pages is read as one.
                    if (note.find("$ViewContainer"))
                        QVERIFY2(e.order == Order::ViewIndex, where.c_str());
                    (e.order == Order::ViewIndex                     ? fromIndex
                     : e.membership == Membership::NoDocumentsInFile ? empty
                                                                     : fromTable)++;
                } catch (const FormatError& e) {
                    QVERIFY2(!note.find("$Collection"), (where + ": " + e.what()).c_str());
                    ++errors;
                }
            }
        }
        QVERIFY(fromIndex >= 50);
        QVERIFY(fromTable >= 8);
        QVERIFY(empty >= 5);
        QVERIFY(errors >= 30);
    }

    void handMadeTreeInViewOrder()
    {
        // A category with two documents, then a document with one response: categories and
        // responses are nested collections.
        IndexImage img;
        const auto catDocs = img.slot(0, IndexImage::node(0, {{0x10}, {0x14}}));
        const auto catColl = img.slot(0, IndexImage::record(catDocs, 2));
        const auto respNode = img.slot(0, IndexImage::node(0, {{0x1C}}));
        const auto respColl = img.slot(0, IndexImage::record(respNode, 1));
        const auto top =
            img.slot(0, IndexImage::node(0, {{0x80000004, catColl}, {0x18, respColl}}));
        const auto root = img.slot(0, IndexImage::record(top, 2));
        const IndexTree t = readImage(img, root);
        QVERIFY(t.problems.empty());
        QVERIFY(t.countsAgree);
        QCOMPARE(t.layout, std::string("Notes 6"));
        QCOMPARE(idsOf(t), (std::vector<std::uint32_t>{0x80000004, 0x10, 0x14, 0x18, 0x1C}));
        std::vector<int> depths;
        for (const IndexEntry& e : t.entries)
            depths.push_back(e.depth);
        QCOMPARE(depths, (std::vector<int>{0, 1, 1, 0, 1}));
        QVERIFY(!t.entries[0].unid); // categories carry none
        QCOMPARE(t.entries[1].unid->bytes[0], std::uint8_t(0x10));
        QCOMPARE(t.entries[1].unid->bytes[15], std::uint8_t(0x1F));
    }

    void handMadeBTreeAcrossPages()
    {
        // An inner node (level 1) filling page 2: its key 0x20 between a left leaf (page 0) and
        // a right leaf (page 1), the leaves' entries before and after the key.
        IndexImage img(3);
        const auto left = img.slot(0, IndexImage::node(0, {{0x10}, {0x14}}));
        const auto right = img.wholePage(1, IndexImage::node(0, {{0x30}, {0x34}}));
        const auto inner = img.wholePage(2, IndexImage::node(1, {{0x20, left}}, right));
        const auto root = img.slot(0, IndexImage::record(inner, 5));
        const IndexTree t = readImage(img, root);
        QVERIFY(t.problems.empty());
        QCOMPARE(idsOf(t), (std::vector<std::uint32_t>{0x10, 0x14, 0x20, 0x30, 0x34}));

        // A count that does not match the entries is reported.
        IndexImage img2(3);
        const auto l2 = img2.slot(0, IndexImage::node(0, {{0x10}}));
        const auto r2 = img2.wholePage(1, IndexImage::node(0, {{0x30}}));
        const auto i2 = img2.wholePage(2, IndexImage::node(1, {{0x20, l2}}, r2));
        const IndexTree t2 = readImage(img2, img2.slot(0, IndexImage::record(i2, 7)));
        QVERIFY(!t2.countsAgree);
        QCOMPARE(t2.problems.size(), std::size_t(1));
        QCOMPARE(idsOf(t2), (std::vector<std::uint32_t>{0x10, 0x20, 0x30}));

        // A leaf where an inner node belongs (the level does not step down) is damage.
        IndexImage img3(2);
        const auto l3 = img3.slot(0, IndexImage::node(1, {{0x10}}));
        const auto i3 = img3.wholePage(1, IndexImage::node(1, {{0x20, l3}}));
        const IndexTree t3 = readImage(img3, img3.slot(0, IndexImage::record(i3, 2)));
        QCOMPARE(idsOf(t3), std::vector<std::uint32_t>{0x20});
        QVERIFY(!t3.problems.empty());
    }

    void handMadeDamageKeepsTheRest()
    {
        // Loops: a document whose "children" are the root collection, an inner node whose left
        // subtree is itself.
        {
            IndexImage img;
            const auto rootRef = IndexImage::ref(0, 2); // the record is the second slot
            const auto top = img.slot(0, IndexImage::node(0, {{0x10, rootRef}, {0x14}}));
            QCOMPARE(img.slot(0, IndexImage::record(top, 2)), rootRef);
            const IndexTree t = readImage(img, rootRef);
            QCOMPARE(idsOf(t), (std::vector<std::uint32_t>{0x10, 0x14}));
            QCOMPARE(t.problems.size(), std::size_t(1));
            QVERIFY(std::string(t.problems[0].what()).find("loop") != std::string::npos);
        }
        {
            IndexImage img(2);
            const auto self = IndexImage::ref(1, 1);
            QCOMPARE(img.wholePage(1, IndexImage::node(1, {{0x20, self}})), self);
            const IndexTree t = readImage(img, img.slot(0, IndexImage::record(self, 1)));
            QCOMPARE(idsOf(t), std::vector<std::uint32_t>{0x20});
            QVERIFY(!t.problems.empty());
        }
        // References to a page the container does not list, to a slot past the slot table;
        // an entry placed past its node: each costs its own part only.
        {
            IndexImage img;
            const auto top = img.slot(0, IndexImage::node(0, {{0x10, IndexImage::ref(9, 1)},
                                                              {0x14, IndexImage::ref(0, 200)},
                                                              {0x18}}));
            const auto root = img.slot(0, IndexImage::record(top, 3));
            std::vector<std::uint8_t>& raw = img.raw();
            // The third descriptor's entry offset, far past the node.
            const std::size_t nodeAt = IndexImage::kBase + 32;
            raw[nodeAt + 17 + 2 * 24 + 6] = 0xF0;
            const IndexTree t = readImage(img, root);
            QCOMPARE(idsOf(t), (std::vector<std::uint32_t>{0x10, 0x14}));
            QCOMPARE(t.problems.size(), std::size_t(3));
            QVERIFY(t.countsAgree); // the lost entry was counted: its bytes are what is lost
        }
        // Nesting deeper than any view has: a chain of 300 documents each the only response
        // of the one before ends with a problem, not with the stack.
        {
            IndexImage img(8);
            std::array<std::uint8_t, 4> next = IndexImage::kNone;
            std::array<std::uint8_t, 4> root{};
            for (int i = 0; i < 300; ++i) {
                const int page = i / 40;
                const auto n =
                    img.slot(page, IndexImage::node(0, {{std::uint32_t(0x1000 + 4 * i), next}}));
                next = root = img.slot(page, IndexImage::record(n, 1));
            }
            const IndexTree t = readImage(img, root);
            QVERIFY(!t.problems.empty());
            QVERIFY(t.entries.size() >= 100 && t.entries.size() < 300);
        }
        // A descriptor count beyond the node, and a root that is not a collection record.
        {
            IndexImage img;
            std::vector<std::uint8_t> n = IndexImage::node(0, {{0x10}});
            n[4] = 0xFF;
            n[5] = 0xFF;
            const auto root = img.slot(0, IndexImage::record(img.slot(0, n), 1));
            const IndexTree t = readImage(img, root);
            QVERIFY(t.entries.empty());
            QVERIFY(!t.countsAgree);
            QVERIFY_THROWS_EXCEPTION(FormatError, readImage(img, IndexImage::ref(0, 1)));
        }
    }

    void handMadeContainersAndLayouts()
    {
        IndexImage img;
        const auto root =
            img.slot(0, IndexImage::record(img.slot(0, IndexImage::node(0, {{0x10}})), 1));
        const std::vector<std::uint8_t>& file = img.file();
        MemorySource source(file);
        std::vector<std::uint8_t> container = img.container();
        QCOMPARE(idsOf(readIndexTree(source, container, 0, refOf(root))),
                 std::vector<std::uint32_t>{0x10});
        // A page count beyond the object, an unknown version, no signature, a page that lies
        // past the end of the file.
        for (const auto& [at, value] : std::vector<std::pair<std::size_t, std::uint32_t>>{
                 {0x98, 0x7FFFFFFF}, {0x22, 0x11}, {0x20, 0}, {0xA0, 0x00FFFFFF}}) {
            std::vector<std::uint8_t> bad = container;
            for (int i = 0; i < 4 && at + i < bad.size(); ++i)
                bad[at + i] = std::uint8_t(value >> (8 * i));
            if (at == 0x22)
                bad[0x24] = bad[0x25] = 0;
            QVERIFY_THROWS_EXCEPTION(FormatError, readIndexTree(source, bad, 0, refOf(root)));
        }
        // The older container lists page positions only.
        ValueBytes old;
        while (old.size() < 0x20)
            old.u8(0);
        old.u16(0xFADE).u16(0x0F);
        while (old.size() < 0x98)
            old.u8(0);
        old.u32(1).u32(12).u32(IndexImage::kBase / 256);
        QCOMPARE(idsOf(readIndexTree(source, old, 0, refOf(root))),
                 std::vector<std::uint32_t>{0x10});

        // The Notes 8.5 layout: records of 44 bytes marked EB, nodes with a 20-byte header and
        // 28-byte descriptors.
        IndexImage img85;
        ValueBytes node;
        node.u8(0).u8(1).u16(0).u16(3);
        while (node.size() < 20)
            node.u8(0);
        const std::uint16_t first = 20 + 2 * 28 + 20;
        for (int i = 0; i < 2; ++i) {
            node.u32(0xFFFFFFFF).u16(0).u16(0).u16(std::uint16_t(first + (1 - i) * 24));
            node.u16(0x18).u16(24).u32(0xFFFFFFFF).raw({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        }
        node.u32(0xFFFFFFFF).u16(1).u16(0).u16(first).u16(0).u16(0).u32(0xFFFFFFFF).u16(0);
        node.u32(0x44).raw({0, 0, 0, 0}).u32(0).u32(0).u32(0).u32(0); // stored second
        node.u32(0x40).raw({0, 0, 0, 0}).u32(0).u32(0).u32(0).u32(0); // shown first
        std::vector<std::uint8_t> record =
            IndexImage::record(img85.slot(0, node.vector()), 2, 0xEB);
        record.insert(record.begin() + 26, {0, 0}); // the count moves to +28
        record.resize(44);
        const IndexTree t85 = readImage(img85, img85.slot(0, record));
        QCOMPARE(t85.layout, std::string("Notes 8.5"));
        QVERIFY(t85.problems.empty());
        QCOMPARE(idsOf(t85), (std::vector<std::uint32_t>{0x40, 0x44}));
    }

    void collectionHeaderByHand()
    {
        ValueBytes h;
        h.raw({0xCC, 0xCC, 0x6D, 0x00});
        while (h.size() < 0x1E)
            h.u8(0);
        h.raw({0, 0, 0, 4}).raw({0, 0, 0, 2}).raw({1, 0, 0, 5}); // the entry tree: page 1 slot 6
        h.u32(0x006DBBCB).u32(0x85256AF6);                       // updated
        while (h.size() < 0x60)
            h.u8(0);
        // Bytes shaped like a table but followed by more data, then the real one and filler.
        h.u32(4).u16(1).u16(1).u16(1).u32(0).u32(0).u8(0).u32(0x900).u16(0x1234);
        h.u32(4).u16(3).u16(2).u16(1).u32(0).u32(0).u8(1).u32(0x20FA).u8(0).u32(0x2200);
        for (int i = 0; i < 40; ++i)
            h.u8(0xBB);
        const CollectionHeader c = decodeCollectionHeader(h);
        QCOMPARE(c.version, std::uint8_t(0x6D));
        QCOMPARE(c.entryTree->page, std::uint32_t(1));
        QCOMPARE(c.entryTree->slot, std::uint16_t(6));
        QCOMPARE(c.updated.date, std::uint32_t(0x85256AF6));
        QVERIFY(c.members);
        QCOMPARE(c.members->ids, (std::vector<std::uint32_t>{0x20FA, 0x20FE, 0x2200}));

        // Variant 3 moves the references two bytes on.
        std::vector<std::uint8_t> v3 = h.vector();
        v3[3] = 3;
        v3.insert(v3.begin() + 0x1E, {0, 0});
        QCOMPARE(decodeCollectionHeader(v3).entryTree->slot, std::uint16_t(6));
        v3[3] = 7;
        QVERIFY_THROWS_EXCEPTION(FormatError, decodeCollectionHeader(v3));
        std::vector<std::uint8_t> bad = h.vector();
        bad[1] = 0xCD;
        QVERIFY_THROWS_EXCEPTION(FormatError, decodeCollectionHeader(bad));
        QVERIFY_THROWS_EXCEPTION(FormatError, decodeCollectionHeader(Bytes(h).first(0x20)));

        const std::array<std::uint8_t, 4> none = {0xFF, 0xFF, 0xFF, 0xFF};
        QVERIFY(!decodeIndexRef(none));
        const std::array<std::uint8_t, 4> r = {0x02, 0x01, 0x00, 0x0B};
        QCOMPARE(decodeIndexRef(r)->page, std::uint32_t(0x102));
        QCOMPARE(decodeIndexRef(r)->slot, std::uint16_t(12));
    }

    void damagedCopiesNeverCrash()
    {
        // Bytes changed in the index objects and pages of real samples, the file cut short
        // inside them: every view is read or fails with FormatError.
        std::mt19937 random(13);
        for (const char* name :
             {"ftsearch.nsf", "hierarch.nsf", "nf_doc.nsf", "majorversion.nsf", "billdrv.nsf"}) {
            const std::vector<std::uint8_t> bytes = readFile(samplePath(QString::fromLatin1(name)));
            QVERIFY(!bytes.empty());
            // Where the index structures lie: the objects' records and the pages they list.
            std::vector<std::pair<std::uint64_t, std::uint32_t>> regions;
            {
                const Database db(std::make_shared<MemorySource>(bytes));
                for (const ViewNote& v : listViews(db).views) {
                    const Note note = db.readNote(v.noteId);
                    for (const char* item : {"$Collection", "$ViewContainer", "$FolderIDTable"}) {
                        const Item* it = note.find(item);
                        if (!it)
                            continue;
                        const ObjectInfo info = db.objectInfo(decodeObjectRef(it->value).id);
                        regions.push_back({info.offset, info.recordSize});
                        if (std::string(item) == "$ViewContainer") {
                            auto s = db.openObject(info.id);
                            const std::vector<std::uint8_t> c = readAll(*s, 1 << 20);
                            for (std::size_t p = 0xA0; p + 4 <= c.size() && p < 0xA0 + 12 * 8;
                                 p += 12) {
                                const std::uint32_t pos = c[p] | c[p + 1] << 8 | c[p + 2] << 16;
                                if (pos)
                                    regions.push_back({std::uint64_t(pos) * 256, 0x2000});
                            }
                        }
                    }
                }
            }
            QVERIFY(!regions.empty());
            for (int round = 0; round < 150; ++round) {
                std::vector<std::uint8_t> copy = bytes;
                const auto& [start, size] = regions[random() % regions.size()];
                for (int c = 0; c < 1 + int(random() % 6); ++c) {
                    const std::uint64_t at = start + random() % size;
                    if (at < copy.size())
                        copy[at] = (random() % 3) ? std::uint8_t(random()) : 0xFF;
                }
                if (round % 10 == 0)
                    copy.resize(std::min<std::size_t>(copy.size(), start + random() % size));
                try {
                    const Database db(std::make_shared<MemorySource>(copy));
                    readAllViews(db);
                } catch (const FormatError&) {
                }
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestNsfViews)
#include "tst_nsfviews.moc"
