#pragma once

// Where the stand-in's databases come from: a Notes database file read through tarvik_nsf, or
// a local store. Values are given in the binary forms the C API hands out.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvik::standin {

// A failure with the STATUS the API returns for it.
struct SourceError : std::runtime_error {
    SourceError(std::uint16_t status, const std::string& what)
        : std::runtime_error(what), status(status)
    {}
    std::uint16_t status;
};

struct SourceItem {
    std::string name; // LMBCS as the API gives names (ASCII for every name seen)
    std::uint16_t type = 0;
    std::uint16_t flags = 0;
    std::vector<std::uint8_t> value; // without the type word
};

struct SourceNote {
    std::uint32_t id = 0;
    std::uint16_t noteClass = 0;
    std::array<std::uint8_t, 16> unid{};
    bool sealed = false; // encrypted ($Seal present)
    std::vector<SourceItem> items;
};

struct DesignEntry {
    std::uint32_t id = 0;
    std::uint16_t noteClass = 0;
    std::array<std::uint8_t, 16> unid{};
    std::vector<std::uint8_t> title; // $TITLE value with its type word, empty if none
    std::vector<std::uint8_t> flags; // $Flags value with its type word, empty if none
};

class Source {
public:
    virtual ~Source() = default;
    // The database information buffer (LMBCS, at most 127 bytes, no NUL).
    virtual std::string infoBuffer() const = 0;
    // Every note ID, design notes and documents, ascending.
    virtual std::vector<std::uint32_t> allNoteIds() const = 0;
    // Every design note, in note-ID order.
    virtual std::vector<DesignEntry> designNotes() const = 0;
    // The documents of a view or folder in its order. Throws SourceError when the ID is not a
    // view or its entries cannot be given.
    virtual std::vector<std::uint32_t> viewEntries(std::uint32_t viewId) const = 0;
    // Throws SourceError(ERR_INVALID_NOTE) when there is no such note.
    virtual SourceNote readNote(std::uint32_t id) const = 0;
    // The note ID kept for a special class (NOTE_CLASS_xxx), if any.
    virtual std::optional<std::uint32_t> specialNote(std::uint16_t noteClass) const = 0;
    // Writes the attachment of a $FILE item (value without type word) to `path`. Throws
    // SourceError.
    virtual void extract(const SourceNote& note, const SourceItem& fileItem,
                         const std::string& path) const = 0;
};

// Opens a .nsf file or a local store by its content. Throws SourceError.
std::unique_ptr<Source> openSource(const std::string& path);
std::unique_ptr<Source> openNsfSource(const std::string& path);
std::unique_ptr<Source> openStoreSource(const std::string& path);

// Helpers for sources: text in the API's forms (UTF-8 in, LMBCS out).
std::string utf8ToLmbcs(const std::string& utf8);
// Rich text (TYPE_COMPOSITE, without type word) of plain text: a paragraph record and a text
// record for each line.
std::vector<std::uint8_t> compositeFromText(const std::string& utf8);

} // namespace tarvik::standin
