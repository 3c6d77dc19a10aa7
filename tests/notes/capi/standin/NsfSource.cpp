// A Notes database file as the stand-in's source: every value passed through as the file
// stores it, with the type word in front.

#include "NotesCApi.h"
#include "Source.h"

#include "nsf/Database.h"
#include "nsf/FormatError.h"
#include "nsf/ObjectItem.h"
#include "nsf/ObjectStream.h"
#include "nsf/Views.h"

#include <cstdio>
#include <cstring>

namespace tarvik::standin {
namespace {

using nsf::Database;
using nsf::FormatError;

std::vector<std::uint8_t> withTypeWord(const nsf::Item& item)
{
    std::vector<std::uint8_t> out(2 + item.value.size());
    out[0] = static_cast<std::uint8_t>(item.type & 0xff);
    out[1] = static_cast<std::uint8_t>(item.type >> 8);
    if (!item.value.empty())
        std::memcpy(out.data() + 2, item.value.data(), item.value.size());
    return out;
}

class NsfSource final : public Source {
public:
    explicit NsfSource(std::unique_ptr<Database> db) : m_db(std::move(db)) {}

    std::string infoBuffer() const override
    {
        const auto& buffer = m_db->info().infoBuffer;
        return std::string(buffer.begin(), buffer.end());
    }

    std::vector<std::uint32_t> allNoteIds() const override { return m_db->noteIds(); }

    std::vector<DesignEntry> designNotes() const override
    {
        std::vector<DesignEntry> out;
        for (const nsf::RrvEntry& entry : m_db->relocationMap()) {
            if (!entry.nonData)
                continue;
            nsf::Note note;
            try {
                note = m_db->readNote(entry.id);
            } catch (const FormatError&) {
                continue; // an object ID or an unreadable note: not listed
            }
            if (note.stub || (note.noteClass & NOTE_CLASS_DOCUMENT))
                continue;
            DesignEntry d;
            d.id = note.id;
            d.noteClass = note.noteClass;
            d.unid = note.unid.bytes;
            if (const nsf::Item* title = note.find("$TITLE"); title && title->ok())
                d.title = withTypeWord(*title);
            if (const nsf::Item* flags = note.find("$Flags"); flags && flags->ok())
                d.flags = withTypeWord(*flags);
            out.push_back(std::move(d));
        }
        return out;
    }

    std::vector<std::uint32_t> viewEntries(std::uint32_t viewId) const override
    {
        try {
            const nsf::ViewEntries entries = nsf::readViewEntries(*m_db, viewId);
            return entries.allDocuments();
        } catch (const FormatError& e) {
            throw SourceError(ERR_COLLECTION_NOT_CREATED, e.what());
        }
    }

    SourceNote readNote(std::uint32_t id) const override
    {
        nsf::Note note;
        try {
            note = m_db->readNote(id);
        } catch (const FormatError& e) {
            throw SourceError(ERR_INVALID_NOTE, e.what());
        }
        if (note.stub)
            throw SourceError(ERR_NOTE_DELETED, "the note was deleted");
        SourceNote out;
        out.id = note.id;
        out.noteClass = note.noteClass;
        out.unid = note.unid.bytes;
        for (const nsf::Item& item : note.items) {
            if (!item.ok())
                continue; // what the file lost, the API cannot give either
            if (item.type == nsf::kTypeSeal || item.type == nsf::kTypeSealData)
                out.sealed = true;
            SourceItem s;
            s.name = item.name;
            s.type = item.type;
            s.flags = item.flags;
            s.value = item.value;
            out.items.push_back(std::move(s));
        }
        if (note.find("$Seal") || note.find("$SealData"))
            out.sealed = true;
        return out;
    }

    std::optional<std::uint32_t> specialNote(std::uint16_t noteClass) const override
    {
        for (std::size_t slot = 0; slot < 16; ++slot) {
            if (noteClass == (1u << slot)) {
                const std::uint32_t id = m_db->info().specialNoteIds[slot];
                if (id != 0)
                    return id;
            }
        }
        return std::nullopt;
    }

    void extract(const SourceNote& note, const SourceItem& fileItem,
                 const std::string& path) const override
    {
        if (note.sealed && (fileItem.flags & ITEM_SEAL))
            throw SourceError(ERR_NOEXTRACT_ENCRYPTED, "the attachment is encrypted");
        nsf::FileObject file;
        try {
            file = nsf::decodeFileObject(fileItem.value);
        } catch (const FormatError& e) {
            throw SourceError(ERR_DATATYPE, e.what());
        }
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (!out)
            throw SourceError(ERR_FILE_WRITE, "cannot create " + path);
        try {
            std::unique_ptr<nsf::ObjectStream> stream;
            try {
                stream = m_db->openObject(file.object.id, file.compression, file.size);
            } catch (const FormatError& e) {
                // Stored bytes whose count differs from the recorded size are all the file
                // holds of the attachment: they are given, as Notes gives what it stores.
                if (file.compression != nsf::FileObject::kCompressNone ||
                    e.kind() != nsf::FailureKind::Damaged)
                    throw;
                stream = m_db->openObject(file.object.id, file.compression);
            }
            std::vector<std::uint8_t> buffer(64 * 1024);
            for (;;) {
                const std::size_t n = stream->read(buffer);
                if (n == 0)
                    break;
                if (std::fwrite(buffer.data(), 1, n, out) != n)
                    throw SourceError(ERR_FILE_WRITE, "cannot write " + path);
            }
        } catch (const FormatError& e) {
            std::fclose(out);
            std::remove(path.c_str());
            throw SourceError(ERR_ENCODING, e.what());
        } catch (...) {
            std::fclose(out);
            std::remove(path.c_str());
            throw;
        }
        if (std::fclose(out) != 0) {
            std::remove(path.c_str());
            throw SourceError(ERR_FILE_WRITE, "cannot write " + path);
        }
    }

private:
    std::unique_ptr<Database> m_db;
};

} // namespace

std::unique_ptr<Source> openNsfSource(const std::string& path)
{
    try {
        return std::make_unique<NsfSource>(Database::open(path));
    } catch (const FormatError& e) {
        throw SourceError(ERR_NOT_NSF, e.what());
    }
}

} // namespace tarvik::standin
