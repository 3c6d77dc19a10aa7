#pragma once

#include "nsf/Database.h"
#include "nsf/FormatError.h"
#include "nsf/TimeDate.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::nsf {

// One view or folder of a database: a design note of class view that is not a navigator.
struct ViewNote {
    NoteId noteId = 0;
    // $TITLE as stored, in UTF-8 (the entries of a text list joined by '|').
    std::string title;
    // The view's name as Notes gives it: the title before its first '|', without surrounding
    // spaces ("By Author | AuthorView" is "By Author"). Hidden views keep their parentheses.
    std::string name;
    // The other parts of the title, without surrounding spaces; empty parts left out.
    std::vector<std::string> aliases;
    std::string designFlags; // $Flags as stored
    bool isFolder = false;   // 'F' among the design flags
    bool isDefault = false;  // the database's default view (note class bit 0x8000)
    bool hasIndex = false;   // the note carries a stored index ($Collection)
    // What could not be read of the note (a damaged title, say); the view is still listed.
    std::vector<std::string> problems;
};

struct ViewList {
    // Every view and folder, in note-ID order (see docs/nsf-format.md for why that order).
    std::vector<ViewNote> views;
    // Design notes that could not be read at all, so that whether they are views is unknown.
    std::vector<FormatError> unreadable;
};

// The views and folders of the database. Only design notes are read (the record relocation
// map keeps them apart from documents), so the cost does not grow with the number of
// documents. Navigators (design flag 'G'), which Notes keeps as view notes too, are left out.
ViewList listViews(const Database& db);

// The view whose name, else one of whose aliases, else whose whole title equals `nameOrAlias`
// (ignoring surrounding spaces and ASCII case); the first in the list's order. Null if none.
const ViewNote* findView(const std::vector<ViewNote>& views, std::string_view nameOrAlias);

// Where the documents of a view came from.
enum class Membership {
    ViewIndex,         // the view's stored index (its entry tree, checked against its ID table)
    ViewIdTable,       // the ID table of the view's index; the index holds no readable tree
    FolderTable,       // the folder's own table of members ($FolderIDTable)
    NoDocumentsInFile, // the file holds no documents, so every view is empty
};

// Where their order came from.
enum class Order {
    ViewIndex, // the view's stored index: the order Notes shows
    NoteId,    // the file stores no readable order for them: ascending note ID, which is the
               // order the documents were added to the file in; not the order Notes shows
};

enum class Completeness {
    // Every document the view holds, as far as the file records it.
    Complete,
    // Read in full, but the index is older than the documents: it names notes that are no
    // longer documents of the file (deleted since), or documents changed after its last update
    // (when the caller gives that time). It may miss or misplace documents.
    Stale,
    // Parts could not be read (damage): the documents read are given, and the members whose
    // place is unknown are in `unplaced`.
    Partial,
};

struct ViewEntries {
    // The view's documents in its order: categories are not documents; responses are in it
    // where the view shows them, after their parent. A document a view shows in several
    // categories appears once for each.
    std::vector<NoteId> documents;
    // Documents known to belong to the view whose place in its order is not known (the index
    // lost them, or a folder gained them after its index was written), ascending.
    std::vector<NoteId> unplaced;
    Membership membership = Membership::ViewIndex;
    Order order = Order::ViewIndex;
    Completeness completeness = Completeness::Complete;
    // When the index was last brought up to date, where the view has one.
    std::optional<TimeDate> indexUpdated;
    std::string indexLayout; // "Notes 5", "Notes 6", "Notes 8.5"; empty without a tree
    // Why the result is not complete; empty when it is.
    std::vector<std::string> problems;
    // What was odd without costing a document (a repaired entry, an index not used, ...).
    std::vector<std::string> warnings;

    // The number of documents known to be in the view.
    std::size_t count() const noexcept { return documents.size() + unplaced.size(); }
    // The documents in order, then the unplaced ones.
    std::vector<NoteId> allDocuments() const;
};

struct ViewReadOptions {
    // The latest time a document of the file was added or changed, if the caller knows it: a
    // view (not a folder) whose index was last updated before it is reported as stale.
    std::optional<TimeDate> latestDocumentChange;
};

// The documents of a view or folder. Throws FormatError when none of them can be given: the
// note is not a view or cannot be read, or the view stores neither an index nor a table of
// members (Notes builds a view's index when the view is first opened) while the file holds
// documents, or everything it stores is unreadable. Never returns an empty list for a view
// whose documents are merely unknown.
ViewEntries readViewEntries(const Database& db, NoteId viewNoteId,
                            const ViewReadOptions& options = {});

} // namespace tarvik::nsf
