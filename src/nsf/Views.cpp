#include "nsf/Views.h"

#include "nsf/ObjectItem.h"
#include "nsf/Values.h"
#include "nsf/ViewIndex.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace tarvik::nsf {

namespace {

constexpr char kFolderFlag = 'F';
constexpr char kNavigatorFlag = 'G';
constexpr std::size_t kIndexObjectLimit = 4u << 20;  // a $Collection or $ViewContainer
constexpr std::size_t kMemberTableLimit = 64u << 20; // a folder's table of members
constexpr std::size_t kRepairReadLimit = 1024;       // notes read to match entries by UNID

std::string hexId(std::uint32_t id)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", id);
    return buf;
}

std::string trimmed(std::string_view s)
{
    const auto space = [](char c) {
        return c == ' ' || c == '\t';
    };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return std::string(s);
}

bool sameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](unsigned char c) {
            return c >= 'A' && c <= 'Z' ? c + 32 : c;
        };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string textOf(const Item& item)
{
    if (item.type == kTypeTextList) {
        std::string out;
        for (const std::string& part : decodeTextList(item.value))
            out += (out.empty() ? "" : "|") + part;
        return out;
    }
    return decodeText(item.value);
}

std::string viewLabel(const Note& note)
{
    const Item* title = note.find("$TITLE");
    if (title && title->ok()) {
        try {
            return "view \"" + textOf(*title) + "\" (note " + hexId(note.id) + ")";
        } catch (const FormatError&) {
        }
    }
    return "view note " + hexId(note.id);
}

// The object an object item names, read whole.
struct LoadedObject {
    ObjectInfo info;
    std::vector<std::uint8_t> bytes;
};

std::optional<std::uint32_t> objectIdOf(const Note& note, std::string_view name)
{
    const Item* item = note.find(name);
    if (!item)
        return std::nullopt;
    if (!item->ok())
        throw *item->error;
    if (item->type != kTypeObject)
        throw FormatError(FailureKind::Damaged, "item " + std::string(name), item->valueOffset,
                          "is of type " + std::to_string(item->type) + ", not an object");
    return decodeObjectRef(item->value).id;
}

LoadedObject loadObject(const Database& db, std::uint32_t id, std::size_t limit)
{
    LoadedObject o;
    o.info = db.objectInfo(id);
    auto stream = db.openObject(id);
    o.bytes = readAll(*stream, limit);
    return o;
}

bool later(const TimeDate& a, const TimeDate& b)
{
    const auto x = utcHundredths(a);
    const auto y = utcHundredths(b);
    return x && y && *x > *y;
}

// What the view note offers, each part read independently so that one failure leaves the
// others usable.
struct Sources {
    std::optional<NoteIdList> folderTable;
    std::optional<CollectionHeader> header;
    std::optional<IndexTree> tree;
    bool hasCollection = false;
    bool hasContainer = false;
    bool hasFolderTable = false;
    std::vector<std::string> failures; // parts of the index present but unreadable
    std::string folderTableFailure;    // the folder's table present but unreadable
};

Sources gatherSources(const Database& db, const Note& note, bool folder)
{
    Sources s;
    const auto note_failure = [&](const std::string& what, const FormatError& e) {
        s.failures.push_back(what + " cannot be read: " + e.what());
    };
    if (folder) {
        try {
            if (const auto id = objectIdOf(note, "$FolderIDTable")) {
                s.hasFolderTable = true;
                const LoadedObject o = loadObject(db, *id, kMemberTableLimit);
                s.folderTable = decodeNoteIdList(o.bytes, o.info.dataOffset());
            }
        } catch (const FormatError& e) {
            s.folderTableFailure =
                std::string("the folder's table of members cannot be read: ") + e.what();
        }
    }
    std::optional<LoadedObject> collection;
    try {
        if (const auto id = objectIdOf(note, "$Collection")) {
            s.hasCollection = true;
            collection = loadObject(db, *id, kIndexObjectLimit);
            s.header = decodeCollectionHeader(collection->bytes, collection->info.dataOffset());
        }
    } catch (const FormatError& e) {
        note_failure("the view's index ($Collection)", e);
    }
    try {
        if (const auto id = objectIdOf(note, "$ViewContainer")) {
            s.hasContainer = true;
            if (s.header && s.header->entryTree) {
                const LoadedObject c = loadObject(db, *id, kIndexObjectLimit);
                s.tree =
                    readIndexTree(db.source(), c.bytes, c.info.dataOffset(), *s.header->entryTree);
            } else if (s.header) {
                s.failures.push_back("the view's index names no entry tree");
            }
        }
    } catch (const FormatError& e) {
        note_failure("the view's index pages ($ViewContainer)", e);
    }
    return s;
}

// A document entry on its way to the result: its ID once known to be a document of the file.
struct Placed {
    std::uint32_t id;
    std::optional<Unid> unid;
    bool document; // the ID names a document of the file
};

} // namespace

std::vector<NoteId> ViewEntries::allDocuments() const
{
    std::vector<NoteId> out = documents;
    out.insert(out.end(), unplaced.begin(), unplaced.end());
    return out;
}

ViewList listViews(const Database& db)
{
    ViewList list;
    for (const NoteId id : db.noteIds()) {
        const RrvEntry* e = db.findRrv(id);
        if (!e || !e->nonData)
            continue;
        Note note;
        try {
            note = db.readNote(id);
        } catch (const FormatError& err) {
            list.unreadable.push_back(err);
            continue;
        }
        if ((note.noteClass & ~noteclass::kDefault) != noteclass::kView)
            continue;
        ViewNote v;
        v.noteId = id;
        v.isDefault = (note.noteClass & noteclass::kDefault) != 0;
        if (const Item* flags = note.find("$Flags")) {
            try {
                if (!flags->ok())
                    throw *flags->error;
                v.designFlags = textOf(*flags);
            } catch (const FormatError& err) {
                v.problems.push_back(std::string("its design flags cannot be read: ") + err.what());
            }
        }
        if (v.designFlags.find(kNavigatorFlag) != std::string::npos)
            continue;
        v.isFolder = v.designFlags.find(kFolderFlag) != std::string::npos;
        v.hasIndex = note.find("$Collection") != nullptr;
        const Item* title = note.find("$TITLE");
        try {
            if (!title)
                throw FormatError(FailureKind::Damaged, "view note", note.offset,
                                  "it has no $TITLE item");
            if (!title->ok())
                throw *title->error;
            v.title = textOf(*title);
        } catch (const FormatError& err) {
            v.problems.push_back(std::string("its title cannot be read: ") + err.what());
        }
        std::size_t start = 0;
        bool first = true;
        for (;;) {
            const std::size_t bar = v.title.find('|', start);
            const std::string part = trimmed(std::string_view(v.title).substr(
                start, bar == std::string::npos ? std::string::npos : bar - start));
            if (first)
                v.name = part;
            else if (!part.empty())
                v.aliases.push_back(part);
            first = false;
            if (bar == std::string::npos)
                break;
            start = bar + 1;
        }
        list.views.push_back(std::move(v));
    }
    return list;
}

const ViewNote* findView(const std::vector<ViewNote>& views, std::string_view nameOrAlias)
{
    const std::string wanted = trimmed(nameOrAlias);
    if (wanted.empty())
        return nullptr;
    for (const ViewNote& v : views)
        if (sameText(v.name, wanted))
            return &v;
    for (const ViewNote& v : views)
        for (const std::string& alias : v.aliases)
            if (sameText(alias, wanted))
                return &v;
    for (const ViewNote& v : views)
        if (sameText(trimmed(v.title), wanted))
            return &v;
    return nullptr;
}

ViewEntries readViewEntries(const Database& db, NoteId viewNoteId, const ViewReadOptions& options)
{
    const Note note = db.readNote(viewNoteId);
    if ((note.noteClass & ~noteclass::kDefault) != noteclass::kView)
        throw FormatError(FailureKind::Damaged, "view note", note.offset,
                          "note " + hexId(viewNoteId) + " is of class " +
                              std::to_string(note.noteClass) + ", not a view");
    const std::string label = viewLabel(note);
    bool folder = false;
    if (const Item* flags = note.find("$Flags"); flags && flags->ok()) {
        try {
            folder = textOf(*flags).find(kFolderFlag) != std::string::npos;
        } catch (const FormatError&) {
        }
    }

    // The documents of the file, to tell documents from notes deleted since or damaged IDs.
    std::vector<NoteId> fileDocuments;
    bool documentsKnown = true;
    try {
        fileDocuments = db.dataNoteIds().ids;
        std::sort(fileDocuments.begin(), fileDocuments.end());
    } catch (const FormatError&) {
        documentsKnown = false;
    }
    const auto isDocument = [&](std::uint32_t id) {
        return !documentsKnown ||
               std::binary_search(fileDocuments.begin(), fileDocuments.end(), id);
    };

    Sources src = gatherSources(db, note, folder);
    ViewEntries out;
    if (src.header)
        out.indexUpdated = src.header->updated;

    // Members, where the file lists them: a folder's own table, else the index's ID table.
    std::optional<std::vector<NoteId>> members;
    if (src.folderTable) {
        members = src.folderTable->ids;
        out.membership = Membership::FolderTable;
    } else if (src.header && src.header->members) {
        members = src.header->members->ids;
        out.membership = src.tree ? Membership::ViewIndex : Membership::ViewIdTable;
    }
    bool stale = false;
    // Without its own table a folder's members are known only as its index saw them.
    bool partial = !src.folderTableFailure.empty();
    if (partial)
        out.problems.push_back(src.folderTableFailure);
    std::vector<NoteId> liveMembers;
    if (members) {
        std::size_t gone = 0;
        for (const NoteId id : *members) {
            if (isDocument(id))
                liveMembers.push_back(id);
            else
                ++gone;
        }
        std::sort(liveMembers.begin(), liveMembers.end());
        liveMembers.erase(std::unique(liveMembers.begin(), liveMembers.end()), liveMembers.end());
        if (gone) {
            stale = true;
            out.problems.push_back(std::string(folder && src.folderTable ? "the folder's table"
                                                                         : "the index's ID table") +
                                   " names " + std::to_string(gone) +
                                   " notes that are not documents of the file");
        }
    }

    if (src.tree) {
        const IndexTree& tree = *src.tree;
        out.indexLayout = tree.layout;
        out.order = Order::ViewIndex;
        if (!members)
            out.membership = Membership::ViewIndex;
        for (const FormatError& e : tree.warnings)
            out.warnings.push_back(e.what());

        std::vector<Placed> placed;
        for (const IndexEntry& e : tree.entries)
            if (e.isDocument())
                placed.push_back({e.id, e.unid, e.id != 0 && isDocument(e.id)});
        std::map<NoteId, std::size_t> occurrences;
        for (const Placed& p : placed)
            if (p.document)
                ++occurrences[p.id];

        // Members the tree does not place, and entries whose ID is doubtful (it names no
        // document, or a document placed more than once): an entry whose stored UNID is that
        // of exactly one such member is that member, its ID damaged.
        std::vector<NoteId> missing;
        for (const NoteId id : liveMembers)
            if (!occurrences.count(id))
                missing.push_back(id);
        const auto doubtful = [&](const Placed& p) {
            return !p.document || occurrences[p.id] > 1;
        };
        if (!missing.empty() && missing.size() <= kRepairReadLimit &&
            std::any_of(placed.begin(), placed.end(), doubtful)) {
            std::multimap<std::string, NoteId> byUnid;
            for (const NoteId id : missing) {
                try {
                    byUnid.emplace(db.readNote(id).unid.hex(), id);
                } catch (const FormatError&) {
                }
            }
            for (Placed& p : placed) {
                if (!p.unid || !doubtful(p))
                    continue;
                const std::string key = p.unid->hex();
                if (byUnid.count(key) != 1)
                    continue;
                const NoteId real = byUnid.find(key)->second;
                if (occurrences.count(real))
                    continue;
                out.warnings.push_back(
                    "an entry names note " + hexId(p.id) +
                    (p.document ? ", placed elsewhere too" : ", which is no document") +
                    "; the UNID it stores is that of note " + hexId(real) + ", taken in its place");
                if (p.document)
                    --occurrences[p.id];
                p.id = real;
                p.document = true;
                occurrences[real] = 1;
            }
        }
        std::size_t dropped = 0;
        for (const Placed& p : placed) {
            if (p.document)
                out.documents.push_back(p.id);
            else
                ++dropped;
        }
        if (dropped) {
            stale = true;
            out.problems.push_back("the index has " + std::to_string(dropped) +
                                   " entries naming notes that are not documents of the file "
                                   "(deleted since the index was updated, or damaged); left out");
        }
        // Damage in the tree costs documents only where the members show some missing; without
        // a table of members, any damage may have.
        bool lost = !tree.problems.empty() || !tree.countsAgree;
        if (members) {
            for (const NoteId id : liveMembers)
                if (!occurrences.count(id))
                    out.unplaced.push_back(id);
            std::size_t extra = 0;
            for (const auto& [id, n] : occurrences)
                if (!std::binary_search(liveMembers.begin(), liveMembers.end(), id))
                    ++extra;
            lost = !out.unplaced.empty();
            if (extra) {
                (out.membership == Membership::FolderTable ? stale : lost) = true;
                out.problems.push_back(std::to_string(extra) +
                                       " documents in the index's order are not among the " +
                                       (out.membership == Membership::FolderTable
                                            ? "folder's members"
                                            : "documents of the index's ID table"));
            }
        } else {
            out.warnings.push_back("the index's ID table was not found; the entries could not be "
                                   "checked against it");
        }
        for (const FormatError& e : tree.problems)
            (lost ? out.problems : out.warnings).push_back(e.what());
        if (!out.unplaced.empty())
            out.problems.push_back(std::to_string(out.unplaced.size()) +
                                   " members are not in the index's order; their place is "
                                   "unknown");
        // A folder's table is kept apart from its index: members the index lacks were added
        // after it was last updated. A view's ID table and tree are one index: disagreement is
        // damage.
        if (lost && out.membership == Membership::FolderTable && tree.problems.empty() &&
            tree.countsAgree)
            stale = true;
        else if (lost)
            partial = true;
        for (const std::string& f : src.failures)
            (members ? out.warnings : out.problems).push_back(f);
    } else if (members) {
        // Membership without an order.
        out.order = Order::NoteId;
        out.documents = liveMembers;
        for (const std::string& f : src.failures)
            out.warnings.push_back(f);
        if (src.hasContainer || (src.hasCollection && !src.header))
            out.warnings.push_back("the index's order could not be read; documents are given in "
                                   "note-ID order");
    } else if (documentsKnown && fileDocuments.empty()) {
        out.membership = Membership::NoDocumentsInFile;
        out.order = Order::NoteId;
        for (const std::string& f : src.failures)
            out.warnings.push_back(f);
    } else {
        std::string why;
        if (src.failures.empty())
            why = folder ? "the folder stores neither a table of its members nor an index"
                         : "the view stores no index (Notes builds it when the view is first "
                           "opened), so its documents and their order are not in the file";
        else
            for (const std::string& f : src.failures)
                why += (why.empty() ? "" : "; ") + f;
        throw FormatError(src.failures.empty() ? FailureKind::Unsupported : FailureKind::Damaged,
                          label, note.offset, "its documents cannot be read: " + why);
    }

    if (!folder && options.latestDocumentChange && out.indexUpdated &&
        later(*options.latestDocumentChange, *out.indexUpdated)) {
        stale = true;
        out.problems.push_back("documents were added or changed after the index was last updated");
    }
    out.completeness =
        partial ? Completeness::Partial : (stale ? Completeness::Stale : Completeness::Complete);
    return out;
}

} // namespace tarvik::nsf
