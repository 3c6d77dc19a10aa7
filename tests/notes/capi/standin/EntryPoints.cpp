// The exported entry points. Each takes the registry's lock, refuses a call before
// NotesInitExtended or from a thread that did not initialise, checks its handles, and
// reports misuse (counted, logged) instead of crashing.

#include "NotesCApi.h"
#include "Registry.h"
#include "Source.h"

#include "nsf/MimePart.h"
#include "nsf/ObjectItem.h"
#include "nsf/RichText.h"
#include "nsf/TextCodec.h"
#include "nsf/TimeDate.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace tarvik::standin;

namespace {

thread_local bool t_threadInitialized = false;

// Holds the lock for one call and answers whether the call may proceed.
class Call {
public:
    explicit Call(const char* name) : m_lock(Registry::instance().mutex), m_name(name) {}
    Registry& r() { return Registry::instance(); }
    // NOERROR when the runtime is up and this thread may use it.
    STATUS ready()
    {
        if (!r().initialized) {
            misuse("called before NotesInitExtended (or after NotesTerm)");
            return ERR_NOT_INITIALIZED;
        }
        if (!t_threadInitialized) {
            misuse("called from a thread that did not call NotesInitThread");
            return ERR_NOT_INITIALIZED;
        }
        return NOERROR;
    }
    void misuse(const std::string& what) { r().misuse(std::string(m_name) + ": " + what); }

private:
    std::lock_guard<std::mutex> m_lock;
    const char* m_name;
};

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::uint16_t word(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void putWord(std::vector<std::uint8_t>& out, std::uint16_t w)
{
    out.push_back(static_cast<std::uint8_t>(w & 0xff));
    out.push_back(static_cast<std::uint8_t>(w >> 8));
}

void putDword(std::vector<std::uint8_t>& out, std::uint32_t d)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(d >> (8 * i)));
}

// The entries of a text list value (without type word): LIST, lengths, texts.
std::vector<std::string_view> listEntries(const std::vector<std::uint8_t>& v)
{
    std::vector<std::string_view> out;
    if (v.size() < 2)
        return out;
    const std::size_t n = word(v.data());
    std::size_t text = 2 + 2 * n;
    if (text > v.size())
        return out;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t len = word(v.data() + 2 + 2 * i);
        if (text + len > v.size())
            break;
        out.emplace_back(reinterpret_cast<const char*>(v.data()) + text, len);
        text += len;
    }
    return out;
}

const SourceItem* findItem(const NoteObject& n, const char* name, std::size_t len,
                           std::size_t from = 0, std::size_t* index = nullptr)
{
    for (std::size_t i = from; i < n.note.items.size(); ++i) {
        if (name == nullptr || sameName(n.note.items[i].name, std::string_view(name, len))) {
            if (index)
                *index = i;
            return &n.note.items[i];
        }
    }
    return nullptr;
}

void fillItemInfo(const NoteObject& n, std::size_t index, BLOCKID* itemBid, WORD* type,
                  BLOCKID* valueBid, DWORD* len)
{
    const SourceItem& item = n.note.items[index];
    if (itemBid)
        *itemBid = BLOCKID{n.itemPool, static_cast<BLOCK>(index + 1)};
    if (type)
        *type = item.type;
    if (valueBid)
        *valueBid = BLOCKID{n.valuePools[index], 0};
    if (len)
        *len = static_cast<DWORD>(item.value.size() + 2);
}

void copyText(std::string_view text, char* buffer, std::size_t capacity, WORD* copied)
{
    const std::size_t n = std::min(text.size(), capacity);
    if (n)
        std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    *copied = static_cast<WORD>(n);
}

bool fileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The bytes of one file attachment, extracted through a temporary file.
std::string fileItemBytes(Registry& r, const NoteObject& n, const SourceItem& item)
{
    char path[] = "/tmp/tarvik-standin-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0)
        throw SourceError(ERR_FILE_WRITE, "no temporary file");
    ::close(fd);
    std::string bytes;
    try {
        r.database(n.db)->source->extract(n.note, item, path);
        if (std::FILE* f = std::fopen(path, "rb")) {
            char buffer[65536];
            std::size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
                bytes.append(buffer, got);
            std::fclose(f);
        }
    } catch (...) {
        std::remove(path);
        throw;
    }
    std::remove(path);
    return bytes;
}

} // namespace

// ---- Start-up and end -------------------------------------------------------------------

EXPORT STATUS LNPUBLIC NotesInitExtended(int argc, char** argv)
{
    Call call("NotesInitExtended");
    Registry& r = call.r();
    if (r.initialized) {
        call.misuse("the runtime is already initialised");
        return NOERROR;
    }
    if (argc < 1 || argv == nullptr || argv[0] == nullptr) {
        call.misuse("argc/argv must hold at least the program's path");
        return ERR_INIT_FAILED;
    }
    std::string ini;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] && argv[i][0] == '=')
            ini = argv[i] + 1;
    }
    if (const char* fail = std::getenv("TARVIK_STANDIN_INIT_FAIL"); fail && *fail)
        return ERR_INIT_FAILED;
    if (!ini.empty() && !fileExists(ini))
        return ERR_NOEXIST;
    r.iniPath = ini;
    r.dataDirectory.clear();
    if (!ini.empty()) {
        if (std::FILE* f = std::fopen(ini.c_str(), "r")) {
            char line[4096];
            while (std::fgets(line, sizeof line, f)) {
                std::string text(line);
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                    text.pop_back();
                if (text.size() > 10 && sameName(text.substr(0, 10), "Directory="))
                    r.dataDirectory = text.substr(10);
            }
            std::fclose(f);
        }
    }
    r.initialized = true;
    r.passwordGiven = false;
    t_threadInitialized = true;
    return NOERROR;
}

EXPORT void LNPUBLIC NotesTerm(void)
{
    Call call("NotesTerm");
    Registry& r = call.r();
    if (!r.initialized) {
        call.misuse("NotesTerm without NotesInitExtended");
        return;
    }
    r.closeAll();
    r.initialized = false;
    t_threadInitialized = false;
}

EXPORT STATUS LNPUBLIC NotesInitThread(void)
{
    Call call("NotesInitThread");
    if (!call.r().initialized) {
        call.misuse("called before NotesInitExtended");
        return ERR_NOT_INITIALIZED;
    }
    if (t_threadInitialized)
        call.misuse("this thread is already initialised");
    t_threadInitialized = true;
    return NOERROR;
}

EXPORT void LNPUBLIC NotesTermThread(void)
{
    Call call("NotesTermThread");
    if (!t_threadInitialized)
        call.misuse("this thread was not initialised");
    t_threadInitialized = false;
}

EXPORT STATUS LNPUBLIC SECKFMSwitchToIDFile(char* pIDFileName, char* pPassword, char* pUserName,
                                            WORD MaxUserNameLength, DWORD, void*)
{
    Call call("SECKFMSwitchToIDFile");
    if (STATUS s = call.ready())
        return s;
    if (pIDFileName == nullptr || !fileExists(pIDFileName))
        return ERR_NOEXIST;
    const char* expected = std::getenv("TARVIK_STANDIN_ID_PASSWORD");
    if (expected && *expected && (pPassword == nullptr || std::strcmp(pPassword, expected) != 0))
        return ERR_BSAFE_BADPASSWORD;
    if (pUserName && MaxUserNameLength > 0) {
        const std::string user = "Stand In/Tarvik";
        if (user.size() >= MaxUserNameLength)
            return ERR_BSAFE_BADPASSWORD + 1; // ERR_BSAFE_TOOSMALL in the reference
        std::memcpy(pUserName, user.c_str(), user.size() + 1);
    }
    call.r().passwordGiven = true;
    return NOERROR;
}

EXPORT DWORD LNPUBLIC TarvikStandinMisuseCount(void)
{
    std::lock_guard<std::mutex> lock(Registry::instance().mutex);
    return Registry::instance().misuseCount();
}

EXPORT WORD LNPUBLIC TarvikStandinMisuseText(char* retBuffer, WORD BufferLength)
{
    std::lock_guard<std::mutex> lock(Registry::instance().mutex);
    if (!retBuffer || BufferLength == 0)
        return 0;
    WORD copied = 0;
    copyText(Registry::instance().misuseText(), retBuffer, BufferLength - 1u, &copied);
    return copied;
}

// ---- Memory and messages ----------------------------------------------------------------

EXPORT void* LNPUBLIC OSLockObject(DHANDLE Handle)
{
    Call call("OSLockObject");
    if (call.ready())
        return nullptr;
    MemoryObject* m = call.r().memory(Handle);
    if (!m || m->itemTable) {
        call.misuse("handle " + std::to_string(Handle) + " is not a memory object");
        return nullptr;
    }
    ++m->locks;
    return m->bytes.data();
}

EXPORT BOOL LNPUBLIC OSUnlockObject(DHANDLE Handle)
{
    Call call("OSUnlockObject");
    if (call.ready())
        return TRUE;
    MemoryObject* m = call.r().memory(Handle);
    if (!m || m->itemTable)
        call.misuse("handle " + std::to_string(Handle) + " is not a memory object");
    else if (m->locks == 0)
        call.misuse("handle " + std::to_string(Handle) + " is not locked");
    else
        --m->locks;
    return TRUE;
}

EXPORT STATUS LNPUBLIC OSMemFree(DHANDLE Handle)
{
    Call call("OSMemFree");
    if (STATUS s = call.ready())
        return s;
    MemoryObject* m = call.r().memory(Handle);
    if (!m) {
        call.misuse("handle " + std::to_string(Handle) + " is not a memory object");
        return ERR_PROTECTED;
    }
    if (m->owner != NULLHANDLE) {
        call.misuse("handle " + std::to_string(Handle) +
                    " belongs to an open note; NSFNoteClose frees it");
        return ERR_PROTECTED;
    }
    if (m->locks > 0) {
        call.misuse("handle " + std::to_string(Handle) + " is still locked");
        return ERR_PROTECTED;
    }
    call.r().releaseMemory(Handle);
    return NOERROR;
}

namespace {

std::string convert(const char* to, const char* from, std::string_view in)
{
    UErrorCode status = U_ZERO_ERROR;
    std::string out(in.size() * 4 + 8, '\0');
    const int32_t n = ucnv_convert(to, from, out.data(), static_cast<int32_t>(out.size()),
                                   in.data(), static_cast<int32_t>(in.size()), &status);
    if (U_FAILURE(status))
        return {};
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// How many bytes of `text` fit in `room` without cutting a character: UTF-8 by its lead bytes,
// UTF-16 by its surrogates, LMBCS by its group bytes.
std::size_t fitting(std::string_view text, std::size_t room, WORD mode)
{
    if (text.size() <= room)
        return text.size();
    std::size_t n = room;
    auto byte = [&text](std::size_t i) {
        return static_cast<std::uint8_t>(text[i]);
    };
    if (mode == OS_TRANSLATE_LMBCS_TO_UTF8 || mode == OS_TRANSLATE_LMBCS_TO_NATIVE) {
        while (n > 0 && (byte(n) & 0xc0) == 0x80)
            --n;
    } else if (mode == OS_TRANSLATE_LMBCS_TO_UNICODE) {
        n &= ~std::size_t(1);
        if (n >= 2 && (byte(n - 1) & 0xfc) == 0xd8) // a high surrogate before the cut
            n -= 2;
    } else {
        // LMBCS: walk whole characters (a group byte below 0x20 takes one or two more).
        std::size_t at = 0;
        while (at < text.size()) {
            const std::uint8_t b = byte(at);
            std::size_t len = 1;
            if (b >= 0x10 && b <= 0x14)
                len = 3; // a double-byte group, or UTF-16 (0x14)
            else if (b >= 0x01 && b < 0x20)
                len = 2;
            // A high surrogate in group 0x14 goes with the low one after it.
            if (b == 0x14 && at + 1 < text.size() && (byte(at + 1) & 0xfc) == 0xd8)
                len = 6;
            if (at + len > room)
                break;
            at += len;
        }
        n = at;
    }
    return n;
}

} // namespace

EXPORT WORD LNPUBLIC OSTranslate(WORD TranslateMode, const char* In, WORD InLength, char* Out,
                                 WORD OutLength)
{
    if (!In || !Out || OutLength == 0)
        return 0;
    const std::string_view in(In, InLength == MAXWORD ? std::strlen(In) : InLength);
    std::string out;
    switch (TranslateMode) {
    case OS_TRANSLATE_LMBCS_TO_UTF8:
    case OS_TRANSLATE_LMBCS_TO_NATIVE: // the native character set here is UTF-8
        out = tarvik::nsf::lmbcsToUtf8(in);
        break;
    case OS_TRANSLATE_UTF8_TO_LMBCS:
    case OS_TRANSLATE_NATIVE_TO_LMBCS:
        out = utf8ToLmbcs(std::string(in));
        break;
    case OS_TRANSLATE_LMBCS_TO_UNICODE:
        out = convert("UTF-16LE", "UTF-8", tarvik::nsf::lmbcsToUtf8(in));
        break;
    case OS_TRANSLATE_UNICODE_TO_LMBCS:
        out = utf8ToLmbcs(convert("UTF-8", "UTF-16LE", in));
        break;
    default: {
        std::lock_guard<std::mutex> lock(Registry::instance().mutex);
        Registry::instance().misuse("OSTranslate: mode " + std::to_string(TranslateMode) +
                                    " is not served by the stand-in");
        return 0;
    }
    }
    const std::size_t n = fitting(out, OutLength, TranslateMode);
    std::memcpy(Out, out.data(), n);
    if (n < OutLength)
        Out[n] = '\0';
    return static_cast<WORD>(n);
}

EXPORT WORD LNPUBLIC OSLoadString(HMODULE, STATUS StringCode, char* retBuffer, WORD BufferLength)
{
    if (!retBuffer || BufferLength == 0)
        return 0;
    const char* text = nullptr;
    switch (ERR(StringCode)) {
    case ERR_NOT_NSF:
        text = "File is not a database";
        break;
    case ERR_NOEXIST:
        text = "File does not exist";
        break;
    case ERR_PROTECTED:
        text = "Invalid handle";
        break;
    case ERR_NOT_INITIALIZED:
        text = "The Notes runtime is not initialized";
        break;
    case ERR_FILE_WRITE:
        text = "Cannot write the file";
        break;
    case ERR_ITEM_NOT_FOUND:
        text = "Note item not found";
        break;
    case ERR_INVALID_NOTE:
        text = "Invalid or nonexistent document";
        break;
    case ERR_SPECIAL_ID:
        text = "Special database object cannot be located";
        break;
    case ERR_NOTE_NOT_SEALED:
        text = "Document is not encrypted";
        break;
    case ERR_NOEXTRACT_ENCRYPTED:
        text = "You must supply the decryption key in order to extract this file";
        break;
    case ERR_DATATYPE:
        text = "Wrong data type";
        break;
    case ERR_NOTE_DELETED:
        text = "Document has been deleted";
        break;
    case ERR_ENCODING:
        text = "Unknown type of compression technique";
        break;
    case ERR_ODS_NO_SUCH_ENTRY:
        text = "No such entry";
        break;
    case ERR_NOT_FOUND:
        text = "Entry not found in index";
        break;
    case ERR_COLLECTION_NOT_CREATED:
        text = "Collection object was not created";
        break;
    case ERR_BSAFE_USER_ABORT:
        text = "The password was not given";
        break;
    case ERR_BSAFE_BADPASSWORD:
        text = "Wrong Password";
        break;
    case ERR_BSAFE_NOKEY:
        text = "You don't have any of the keys required to decrypt this document";
        break;
    case ERR_INIT_FAILED:
        text = "Unable to initialize the Notes runtime";
        break;
    default:
        return 0;
    }
    WORD copied = 0;
    copyText(text, retBuffer, BufferLength - 1u, &copied);
    return copied;
}

// ---- Databases ----------------------------------------------------------------------------

EXPORT STATUS LNPUBLIC NSFDbOpen(const char* PathName, DBHANDLE* rethDB)
{
    Call call("NSFDbOpen");
    if (STATUS s = call.ready())
        return s;
    if (!rethDB) {
        call.misuse("rethDB is NULL");
        return ERR_PROTECTED;
    }
    *rethDB = NULLHANDLE;
    if (!PathName) {
        call.misuse("the stand-in has no data directory (PathName NULL)");
        return ERR_NOEXIST;
    }
    const char* password = std::getenv("TARVIK_STANDIN_ID_PASSWORD");
    if (password && *password && !call.r().passwordGiven)
        return ERR_BSAFE_USER_ABORT;
    // A relative path starts in the data directory; ".nsf" may be left out.
    std::string path = PathName;
    if (!path.empty() && path[0] != '/' && !call.r().dataDirectory.empty())
        path = call.r().dataDirectory + "/" + path;
    const std::size_t slash = path.find_last_of('/');
    if (!fileExists(path) &&
        path.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos)
        path += ".nsf";
    try {
        DatabaseObject db;
        db.source = openSource(path);
        db.path = path;
        *rethDB = call.r().add(std::move(db));
        return NOERROR;
    } catch (const SourceError& e) {
        return e.status;
    }
}

EXPORT STATUS LNPUBLIC NSFDbClose(DBHANDLE hDB)
{
    Call call("NSFDbClose");
    if (STATUS s = call.ready())
        return s;
    if (!call.r().database(hDB)) {
        call.misuse("handle " + std::to_string(hDB) + " is not an open database");
        return ERR_PROTECTED;
    }
    call.r().releaseDatabase(hDB);
    return NOERROR;
}

EXPORT STATUS LNPUBLIC NSFDbInfoGet(DBHANDLE hDB, char* retBuffer)
{
    Call call("NSFDbInfoGet");
    if (STATUS s = call.ready())
        return s;
    DatabaseObject* db = call.r().database(hDB);
    if (!db || !retBuffer) {
        call.misuse("not an open database, or no buffer");
        return ERR_PROTECTED;
    }
    const std::string info = db->source->infoBuffer().substr(0, NSF_INFO_SIZE - 1);
    std::memcpy(retBuffer, info.c_str(), info.size() + 1);
    return NOERROR;
}

EXPORT void LNPUBLIC NSFDbInfoParse(char* Info, WORD What, char* Buffer, WORD Length)
{
    if (!Info || !Buffer)
        return;
    std::string_view info(Info, strnlen(Info, NSF_INFO_SIZE));
    std::vector<std::string_view> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = info.find('\n', start);
        lines.push_back(info.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    std::string_view result;
    if (What == INFOPARSE_TITLE) {
        result = lines[0];
    } else if (What == INFOPARSE_CATEGORIES) {
        if (lines.size() > 1 && !lines[1].starts_with('#'))
            result = lines[1];
    } else {
        const std::string_view prefix = What == INFOPARSE_CLASS ? "#1" : "#2";
        for (std::size_t i = 1; i < lines.size(); ++i)
            if (lines[i].starts_with(prefix))
                result = lines[i].substr(2);
    }
    WORD copied = 0;
    copyText(result, Buffer, Length, &copied);
}

EXPORT STATUS LNPUBLIC NSFDbGetSpecialNoteID(DBHANDLE hDB, WORD Index, NOTEID* retNoteID)
{
    Call call("NSFDbGetSpecialNoteID");
    if (STATUS s = call.ready())
        return s;
    DatabaseObject* db = call.r().database(hDB);
    if (!db || !retNoteID) {
        call.misuse("not an open database, or no result pointer");
        return ERR_PROTECTED;
    }
    if (!(Index & SPECIAL_ID_NOTE))
        call.misuse("Index without SPECIAL_ID_NOTE");
    const auto id = db->source->specialNote(Index & ~SPECIAL_ID_NOTE);
    if (!id)
        return ERR_SPECIAL_ID;
    *retNoteID = *id;
    return NOERROR;
}

// ---- Views, folders and the design collection ------------------------------------------

namespace {

std::string titleText(const std::vector<std::uint8_t>& typed)
{
    if (typed.size() < 2)
        return {};
    const std::vector<std::uint8_t> v(typed.begin() + 2, typed.end());
    if (word(typed.data()) == TYPE_TEXT)
        return std::string(v.begin(), v.end());
    if (word(typed.data()) == TYPE_TEXT_LIST) {
        std::string out;
        for (auto e : listEntries(v))
            out += (out.empty() ? "" : "|") + std::string(e);
        return out;
    }
    return {};
}

// A view's name and aliases: the parts of its title between '|', without surrounding blanks.
std::vector<std::string> titleNames(const std::string& title)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = title.find('|', start);
        std::string part = title.substr(start, end == std::string::npos ? end : end - start);
        const auto first = part.find_first_not_of(" \t");
        const auto last = part.find_last_not_of(" \t");
        if (first != std::string::npos)
            out.push_back(part.substr(first, last - first + 1));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

std::vector<std::uint8_t> summaryOf(const DesignEntry& d)
{
    std::vector<std::pair<std::string, const std::vector<std::uint8_t>*>> items;
    if (!d.title.empty())
        items.emplace_back("$TITLE", &d.title);
    if (!d.flags.empty())
        items.emplace_back("$Flags", &d.flags);
    std::vector<std::uint8_t> out;
    putWord(out, 0); // length, set below
    putWord(out, static_cast<std::uint16_t>(items.size()));
    for (const auto& [name, value] : items) {
        putWord(out, static_cast<std::uint16_t>(name.size()));
        putWord(out, static_cast<std::uint16_t>(value->size()));
    }
    for (const auto& [name, value] : items) {
        out.insert(out.end(), name.begin(), name.end());
        out.insert(out.end(), value->begin(), value->end());
    }
    out[0] = static_cast<std::uint8_t>(out.size() & 0xff);
    out[1] = static_cast<std::uint8_t>(out.size() >> 8);
    return out;
}

// What Notes does to MIME parts unless asked for them raw: the parts of a field become one
// rich-text item. Here its text is the message's first text/plain part (else text/html, as
// it stands); the parts are kept for the MIME stream.
void mimeToComposite(SourceNote& note, std::vector<SourceItem>& raw)
{
    std::vector<SourceItem> items;
    std::vector<std::string> converted;
    for (SourceItem& item : note.items) {
        if (item.type != TYPE_MIME_PART) {
            items.push_back(std::move(item));
            continue;
        }
        raw.push_back(item);
        if (std::find_if(converted.begin(), converted.end(), [&item](const std::string& n) {
                return sameName(n, item.name);
            }) != converted.end())
            continue;
        converted.push_back(item.name);
        std::optional<std::string> plain, html;
        for (const SourceItem& part : note.items) {
            if (part.type != TYPE_MIME_PART || !sameName(part.name, item.name))
                continue;
            try {
                const auto decoded = tarvik::nsf::decodeMimePart(part.value);
                const auto text = tarvik::nsf::mimePartText(decoded);
                const auto type = tarvik::nsf::parseMimeHeaderValue(
                    tarvik::nsf::mimeHeader(decoded.headers, "Content-Type").value_or(""));
                if (text && type.value == "text/html" && !html)
                    html = text;
                else if (text && !plain && type.value != "text/html")
                    plain = text;
            } catch (const std::exception&) {
            }
        }
        SourceItem composite;
        composite.name = item.name;
        composite.type = TYPE_COMPOSITE;
        composite.flags = item.flags & ~ITEM_SUMMARY;
        composite.value = compositeFromText(plain.value_or(html.value_or("")));
        items.push_back(std::move(composite));
    }
    note.items = std::move(items);
}

NOTEHANDLE openNote(Registry& r, DBHANDLE hDb, SourceNote note, DWORD flags = 0)
{
    NoteObject n;
    n.db = hDb;
    if (!(flags & OPEN_RAW_MIME_PART))
        mimeToComposite(note, n.rawMime);
    MemoryObject table;
    table.itemTable = true;
    table.bytes.resize(4);
    n.note = std::move(note);
    for (const SourceItem& item : n.note.items) {
        MemoryObject value;
        putWord(value.bytes, item.type);
        value.bytes.insert(value.bytes.end(), item.value.begin(), item.value.end());
        n.valuePools.push_back(r.add(std::move(value)));
    }
    n.itemPool = r.add(std::move(table));
    const std::vector<DHANDLE> pools = n.valuePools;
    const DHANDLE itemPool = n.itemPool;
    const NOTEHANDLE h = r.add(std::move(n));
    for (DHANDLE pool : pools)
        r.memory(pool)->owner = h;
    r.memory(itemPool)->owner = h;
    return h;
}

} // namespace

EXPORT STATUS LNPUBLIC NSFSearch(DBHANDLE hDB, FORMULAHANDLE hFormula, char*, WORD SearchFlags,
                                 WORD NoteClassMask, TIMEDATE* Since, NSFSEARCHPROC EnumRoutine,
                                 void* EnumRoutineParameter, TIMEDATE* retUntil)
{
    std::vector<NOTEID> ids;
    {
        Call call("NSFSearch");
        if (STATUS s = call.ready())
            return s;
        DatabaseObject* db = call.r().database(hDB);
        if (!db || !EnumRoutine) {
            call.misuse("not an open database, or no action routine");
            return ERR_PROTECTED;
        }
        if (hFormula != NULLHANDLE || Since != nullptr || (SearchFlags & ~SEARCH_SUMMARY))
            call.misuse("the stand-in searches without formula, date or flags other than "
                        "SEARCH_SUMMARY");
        ids = db->source->allNoteIds();
        if (retUntil)
            std::memset(retUntil, 0, sizeof *retUntil);
    }
    for (NOTEID id : ids) {
        // Each note is read under the lock; the routine runs without it (it calls the API).
        SEARCH_MATCH match{};
        std::vector<std::uint8_t> summary;
        {
            std::lock_guard<std::mutex> lock(Registry::instance().mutex);
            DatabaseObject* db = Registry::instance().database(hDB);
            if (!db) {
                Registry::instance().misuse("NSFSearch: the database was closed during the search");
                return ERR_PROTECTED;
            }
            SourceNote note;
            try {
                note = db->source->readNote(id);
            } catch (const SourceError&) {
                continue; // deleted or unreadable: not a match
            }
            if (!(note.noteClass & NoteClassMask & NOTE_CLASS_ALL))
                continue;
            match.ID.NoteID = id;
            std::memcpy(&match.OriginatorID, note.unid.data(), 16);
            match.NoteClass = note.noteClass;
            match.SERetFlags = SE_FMATCH;
            if (SearchFlags & SEARCH_SUMMARY) {
                std::vector<const SourceItem*> items;
                // A summary buffer's lengths are words: items past 64K are left out.
                std::size_t total = 4;
                for (const SourceItem& item : note.items) {
                    if (!(item.flags & ITEM_SUMMARY))
                        continue;
                    total += 4 + item.name.size() + 2 + item.value.size();
                    if (total > 0xffff)
                        break;
                    items.push_back(&item);
                }
                putWord(summary, 0);
                putWord(summary, static_cast<std::uint16_t>(items.size()));
                for (const SourceItem* item : items) {
                    putWord(summary, static_cast<std::uint16_t>(item->name.size()));
                    putWord(summary, static_cast<std::uint16_t>(item->value.size() + 2));
                }
                for (const SourceItem* item : items) {
                    summary.insert(summary.end(), item->name.begin(), item->name.end());
                    putWord(summary, item->type);
                    summary.insert(summary.end(), item->value.begin(), item->value.end());
                }
                summary[0] = static_cast<std::uint8_t>(summary.size() & 0xff);
                summary[1] = static_cast<std::uint8_t>(summary.size() >> 8);
                match.SummaryLength = static_cast<WORD>(summary.size());
            }
        }
        if (STATUS s = EnumRoutine(EnumRoutineParameter, &match,
                                   summary.empty() ? nullptr
                                                   : reinterpret_cast<ITEM_TABLE*>(summary.data())))
            return s;
    }
    return NOERROR;
}

EXPORT STATUS LNPUBLIC NIFFindDesignNote(DBHANDLE hFile, const char* Name, WORD Class,
                                         NOTEID* retNoteID)
{
    Call call("NIFFindDesignNote");
    if (STATUS s = call.ready())
        return s;
    DatabaseObject* db = call.r().database(hFile);
    if (!db || !Name || !retNoteID) {
        call.misuse("not an open database, or no name or result pointer");
        return ERR_PROTECTED;
    }
    const WORD classes[] = {NOTE_CLASS_FORM, NOTE_CLASS_VIEW, NOTE_CLASS_FILTER, NOTE_CLASS_FIELD,
                            NOTE_CLASS_ALL};
    if (std::find(std::begin(classes), std::end(classes), Class) == std::end(classes)) {
        call.misuse("class " + std::to_string(Class) + " is not one NIFFindDesignNote takes");
        return ERR_NOT_FOUND;
    }
    const auto notes = db->source->designNotes();
    // A view's name first, then its aliases, as Notes looks them up.
    for (int pass = 0; pass < 2; ++pass) {
        for (const DesignEntry& d : notes) {
            if (Class != NOTE_CLASS_ALL && !(d.noteClass & Class))
                continue;
            const auto names = titleNames(titleText(d.title));
            for (std::size_t i = 0; i < names.size(); ++i) {
                if ((pass == 0) == (i == 0) && sameName(names[i], Name)) {
                    *retNoteID = d.id;
                    return NOERROR;
                }
            }
        }
    }
    return ERR_NOT_FOUND;
}

EXPORT STATUS LNPUBLIC NIFFindDesignNoteExt(DBHANDLE hFile, const char* Name, WORD Class,
                                            const char*, NOTEID* retNoteID, DWORD)
{
    // The flags pattern is not applied (docs/notes-api-standin.md).
    return NIFFindDesignNote(hFile, Name, Class, retNoteID);
}

EXPORT STATUS LNPUBLIC NIFFindView(DBHANDLE hFile, const char* Name, NOTEID* retNoteID)
{
    return NIFFindDesignNote(hFile, Name, NOTE_CLASS_VIEW, retNoteID);
}

EXPORT STATUS LNPUBLIC NIFOpenCollection(DBHANDLE hViewDB, DBHANDLE hDataDB, NOTEID ViewNoteID,
                                         WORD OpenFlags, DHANDLE hUnreadList,
                                         HCOLLECTION* rethCollection, NOTEHANDLE* rethViewNote,
                                         UNID* retViewUNID, DHANDLE* rethCollapsedList,
                                         DHANDLE* rethSelectedList)
{
    Call call("NIFOpenCollection");
    if (STATUS s = call.ready())
        return s;
    Registry& r = call.r();
    DatabaseObject* db = r.database(hViewDB);
    if (!db || !r.database(hDataDB) || !rethCollection) {
        call.misuse("not an open database, or no collection pointer");
        return ERR_PROTECTED;
    }
    if (hViewDB != hDataDB)
        call.misuse("the stand-in serves views and data from one database handle only");
    if (hUnreadList != NULLHANDLE)
        call.misuse("unread lists are not served by the stand-in");
    if (rethCollapsedList)
        *rethCollapsedList = NULLHANDLE;
    if (rethSelectedList)
        *rethSelectedList = NULLHANDLE;
    CollectionObject c;
    c.db = hViewDB;
    NOTEID viewId = ViewNoteID;
    try {
        if (ViewNoteID == (NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN)) {
            for (const DesignEntry& d : db->source->designNotes())
                c.entries.push_back({d.id, d.noteClass, d.unid, summaryOf(d)});
            const auto special = db->source->specialNote(NOTE_CLASS_DESIGN);
            viewId = special.value_or(0);
        } else {
            const SourceNote view = db->source->readNote(ViewNoteID);
            if (!(view.noteClass & NOTE_CLASS_VIEW))
                return ERR_INVALID_NOTE;
            for (NOTEID id : db->source->viewEntries(ViewNoteID)) {
                CollectionEntry e;
                e.id = id;
                e.noteClass = NOTE_CLASS_DOCUMENT;
                try {
                    e.unid = db->source->readNote(id).unid;
                } catch (const SourceError&) {
                }
                e.summary = {4, 0, 0, 0};
                c.entries.push_back(std::move(e));
            }
        }
        std::optional<SourceNote> viewNote;
        if (viewId != 0 && (rethViewNote || retViewUNID))
            viewNote = db->source->readNote(viewId);
        if (retViewUNID) {
            std::memset(retViewUNID, 0, sizeof(UNID));
            if (viewNote)
                std::memcpy(retViewUNID, viewNote->unid.data(), sizeof(UNID));
        }
        if (rethViewNote) {
            *rethViewNote = viewNote ? openNote(r, hViewDB, std::move(*viewNote)) : NULLHANDLE;
            if (OpenFlags & OPEN_SHARED_VIEW_NOTE)
                c.sharedViewNote = *rethViewNote;
        }
    } catch (const SourceError& e) {
        return e.status;
    }
    const HCOLLECTION h = r.add(std::move(c));
    if (h == 0)
        return ERR_PROTECTED;
    if (NoteObject* shared = r.note(r.collection(h)->sharedViewNote))
        shared->ownedBy = h;
    *rethCollection = h;
    return NOERROR;
}

EXPORT STATUS LNPUBLIC NIFCloseCollection(HCOLLECTION hCollection)
{
    Call call("NIFCloseCollection");
    if (STATUS s = call.ready())
        return s;
    if (!call.r().collection(hCollection)) {
        call.misuse("handle " + std::to_string(hCollection) + " is not an open collection");
        return ERR_PROTECTED;
    }
    call.r().releaseCollection(hCollection);
    return NOERROR;
}

EXPORT STATUS LNPUBLIC NIFReadEntries(HCOLLECTION hCollection, COLLECTIONPOSITION* IndexPos,
                                      WORD SkipNavigator, DWORD SkipCount, WORD ReturnNavigator,
                                      DWORD ReturnCount, DWORD ReturnMask, DHANDLE* rethBuffer,
                                      WORD* retBufferLength, DWORD* retNumEntriesSkipped,
                                      DWORD* retNumEntriesReturned, WORD* retSignalFlags)
{
    Call call("NIFReadEntries");
    if (STATUS s = call.ready())
        return s;
    Registry& r = call.r();
    CollectionObject* c = r.collection(hCollection);
    if (!c || !IndexPos) {
        call.misuse("not an open collection, or no position");
        return ERR_PROTECTED;
    }
    if (rethBuffer)
        *rethBuffer = NULLHANDLE;
    if (retBufferLength)
        *retBufferLength = 0;
    if (retNumEntriesSkipped)
        *retNumEntriesSkipped = 0;
    if (retNumEntriesReturned)
        *retNumEntriesReturned = 0;
    if (retSignalFlags)
        *retSignalFlags = 0;
    constexpr DWORD supported =
        READ_MASK_NOTEID | READ_MASK_NOTEUNID | READ_MASK_NOTECLASS | READ_MASK_INDEXSIBLINGS |
        READ_MASK_INDEXCHILDREN | READ_MASK_INDEXDESCENDANTS | READ_MASK_INDEXANYUNREAD |
        READ_MASK_INDENTLEVELS | READ_MASK_INDEXUNREAD | READ_MASK_COLLECTIONSTATS |
        READ_MASK_INDEXPOSITION | READ_MASK_SUMMARY;
    if (ReturnMask & ~supported)
        call.misuse("READ_MASK bits the stand-in does not serve: " +
                    std::to_string(ReturnMask & ~supported));
    const WORD skipNav = SkipNavigator & NAVIGATE_MASK;
    const WORD returnNav = ReturnNavigator & NAVIGATE_MASK;
    auto navigable = [](WORD nav) {
        return nav == NAVIGATE_CURRENT || nav == NAVIGATE_NEXT || nav == NAVIGATE_PREV;
    };
    if (!navigable(skipNav) || !navigable(returnNav)) {
        call.misuse("navigators other than CURRENT, NEXT and PREV are not served");
        return ERR_NOT_FOUND;
    }
    if (IndexPos->Level != 0) {
        call.misuse("the stand-in's collections are flat (Level 0 only)");
        return ERR_NOT_FOUND;
    }
    const std::int64_t count = static_cast<std::int64_t>(c->entries.size());
    std::int64_t pos = IndexPos->Tumbler[0]; // 1-based; 0 is before the first entry
    const bool cont = (SkipNavigator & NAVIGATE_CONTINUE) || (ReturnNavigator & NAVIGATE_CONTINUE);
    DWORD skipped = 0;
    if (skipNav != NAVIGATE_CURRENT && SkipCount > 0) {
        const std::int64_t step = skipNav == NAVIGATE_NEXT ? 1 : -1;
        std::int64_t target = pos + step * static_cast<std::int64_t>(SkipCount);
        if (target > count)
            target = cont ? count : count + 1;
        if (target < 1)
            target = cont ? std::min<std::int64_t>(1, count) : 0;
        skipped = static_cast<DWORD>(target > pos ? target - pos : pos - target);
        pos = target;
    }
    if (retNumEntriesSkipped)
        *retNumEntriesSkipped = skipped;
    if (pos < 1 || pos > count) {
        IndexPos->Tumbler[0] = static_cast<DWORD>(std::clamp<std::int64_t>(pos, 0, count + 1));
        // Past either end (an empty view, or the entry after the last): nothing to return,
        // which is not an error; no buffer is given.
        return NOERROR;
    }

    std::size_t limit = 0xffff;
    std::size_t entryLimit = SIZE_MAX;
    if (const char* env = std::getenv("TARVIK_STANDIN_READ_LIMIT"); env && *env)
        entryLimit = std::max(1ul, std::strtoul(env, nullptr, 10));
    std::vector<std::uint8_t> buffer;
    if (ReturnMask & READ_MASK_COLLECTIONSTATS) {
        putDword(buffer, static_cast<DWORD>(count)); // COLLECTIONSTATS.TopLevelEntries
        putDword(buffer, 0);                         // LastModifiedTime: 0
    }
    DWORD returned = 0;
    bool more = false;
    std::int64_t last = pos;
    for (std::int64_t at = pos; at >= 1 && at <= count && returned < ReturnCount;) {
        const CollectionEntry& e = c->entries[static_cast<std::size_t>(at - 1)];
        std::vector<std::uint8_t> one;
        if (ReturnMask & READ_MASK_NOTEID)
            putDword(one, e.id);
        if (ReturnMask & READ_MASK_NOTEUNID)
            one.insert(one.end(), e.unid.begin(), e.unid.end());
        if (ReturnMask & READ_MASK_NOTECLASS)
            putWord(one, e.noteClass);
        if (ReturnMask & READ_MASK_INDEXSIBLINGS)
            putDword(one, static_cast<DWORD>(count));
        if (ReturnMask & READ_MASK_INDEXCHILDREN)
            putDword(one, 0);
        if (ReturnMask & READ_MASK_INDEXDESCENDANTS)
            putDword(one, 0);
        if (ReturnMask & READ_MASK_INDEXANYUNREAD)
            putWord(one, 0);
        if (ReturnMask & READ_MASK_INDENTLEVELS)
            putWord(one, 0);
        if (ReturnMask & READ_MASK_INDEXUNREAD)
            putWord(one, 0);
        if (ReturnMask & READ_MASK_INDEXPOSITION) {
            putWord(one, 0); // Level
            one.push_back(0);
            one.push_back(0);
            putDword(one, static_cast<DWORD>(at));
        }
        if (ReturnMask & READ_MASK_SUMMARY)
            one.insert(one.end(), e.summary.begin(), e.summary.end());
        if (buffer.size() + one.size() > limit || returned >= entryLimit) {
            more = true;
            break;
        }
        buffer.insert(buffer.end(), one.begin(), one.end());
        ++returned;
        last = at;
        if (returnNav == NAVIGATE_CURRENT)
            break;
        at += returnNav == NAVIGATE_NEXT ? 1 : -1;
    }
    IndexPos->Tumbler[0] = static_cast<DWORD>(last);
    if (retNumEntriesReturned)
        *retNumEntriesReturned = returned;
    if (retSignalFlags && more)
        *retSignalFlags |= SIGNAL_MORE_TO_DO;
    if (retBufferLength)
        *retBufferLength = static_cast<WORD>(buffer.size());
    if (rethBuffer && ReturnMask != 0) {
        MemoryObject m;
        m.bytes = std::move(buffer);
        *rethBuffer = r.add(std::move(m));
    }
    return NOERROR;
}

// ---- Notes and items -----------------------------------------------------------------------

EXPORT STATUS LNPUBLIC NSFNoteOpenExt(DBHANDLE hDB, NOTEID NoteID, DWORD flags,
                                      NOTEHANDLE* rethNote)
{
    Call call("NSFNoteOpen");
    if (STATUS s = call.ready())
        return s;
    Registry& r = call.r();
    DatabaseObject* db = r.database(hDB);
    if (!db || !rethNote) {
        call.misuse("not an open database, or no result pointer");
        return ERR_PROTECTED;
    }
    *rethNote = NULLHANDLE;
    NOTEID id = NoteID;
    if ((NoteID & NOTE_ID_SPECIAL) == NOTE_ID_SPECIAL) {
        const auto special = db->source->specialNote(NoteID & 0x7fff);
        if (!special)
            return ERR_SPECIAL_ID;
        id = *special;
    }
    try {
        *rethNote = openNote(r, hDB, db->source->readNote(id), flags);
        return NOERROR;
    } catch (const SourceError& e) {
        return e.status;
    }
}

EXPORT STATUS LNPUBLIC NSFNoteOpen(DBHANDLE db_handle, NOTEID note_id, WORD open_flags,
                                   NOTEHANDLE* note_handle)
{
    // The WORD flags cannot ask for raw MIME.
    return NSFNoteOpenExt(db_handle, note_id, open_flags, note_handle);
}

EXPORT STATUS LNPUBLIC NSFNoteClose(NOTEHANDLE note_handle)
{
    Call call("NSFNoteClose");
    if (STATUS s = call.ready())
        return s;
    NoteObject* n = call.r().note(note_handle);
    if (!n) {
        call.misuse("handle " + std::to_string(note_handle) + " is not an open note");
        return NOERROR; // always NOERROR, as the reference says
    }
    if (n->ownedBy != 0 && call.r().collection(n->ownedBy)) {
        call.misuse("the view note was opened shared: its collection closes it");
        return NOERROR;
    }
    call.r().releaseNote(note_handle);
    return NOERROR;
}

EXPORT STATUS LNPUBLIC NSFItemInfo(NOTEHANDLE note_handle, const char* item_name, WORD name_len,
                                   BLOCKID* item_blockid, WORD* value_datatype,
                                   BLOCKID* value_blockid, DWORD* value_len)
{
    Call call("NSFItemInfo");
    if (STATUS s = call.ready())
        return s;
    NoteObject* n = call.r().note(note_handle);
    if (!n) {
        call.misuse("handle " + std::to_string(note_handle) + " is not an open note");
        return ERR_PROTECTED;
    }
    if (value_datatype)
        *value_datatype = TYPE_INVALID_OR_UNKNOWN;
    std::size_t index = 0;
    if (!findItem(*n, item_name, name_len, 0, &index))
        return ERR_ITEM_NOT_FOUND;
    fillItemInfo(*n, index, item_blockid, value_datatype, value_blockid, value_len);
    return NOERROR;
}

EXPORT STATUS LNPUBLIC NSFItemInfoNext(NOTEHANDLE note_handle, BLOCKID NextItem,
                                       const char* item_name, WORD name_len,
                                       BLOCKID* item_blockid_ptr, WORD* value_type_ptr,
                                       BLOCKID* value_blockid_ptr, DWORD* value_len_ptr)
{
    Call call("NSFItemInfoNext");
    if (STATUS s = call.ready())
        return s;
    NoteObject* n = call.r().note(note_handle);
    if (!n) {
        call.misuse("handle " + std::to_string(note_handle) + " is not an open note");
        return ERR_PROTECTED;
    }
    if (value_type_ptr)
        *value_type_ptr = TYPE_INVALID_OR_UNKNOWN;
    if (NextItem.pool != n->itemPool || NextItem.block == 0 ||
        NextItem.block > n->note.items.size()) {
        call.misuse("NextItem is not an item BLOCKID of this note");
        return ERR_PROTECTED;
    }
    std::size_t index = 0;
    if (!findItem(*n, item_name, name_len, NextItem.block, &index))
        return ERR_ITEM_NOT_FOUND;
    fillItemInfo(*n, index, item_blockid_ptr, value_type_ptr, value_blockid_ptr, value_len_ptr);
    return NOERROR;
}

namespace {

// The note for a call that returns a value rather than a STATUS; null after reporting misuse.
NoteObject* noteFor(Call& call, NOTEHANDLE h, const char* name)
{
    if (call.ready())
        return nullptr;
    NoteObject* n = call.r().note(h);
    if (!n)
        call.misuse("handle " + std::to_string(h) + " is not an open note");
    else if (!name)
        call.misuse("no item name");
    return name ? n : nullptr;
}

} // namespace

EXPORT WORD LNPUBLIC NSFItemGetText(NOTEHANDLE note_handle, const char* item_name, char* item_text,
                                    WORD text_len)
{
    Call call("NSFItemGetText");
    NoteObject* n = noteFor(call, note_handle, item_name);
    if (!n || !item_text || text_len == 0)
        return 0;
    item_text[0] = '\0';
    const SourceItem* item = findItem(*n, item_name, std::strlen(item_name));
    if (!item)
        return 0;
    std::string text;
    if (item->type == TYPE_TEXT) {
        text.assign(item->value.begin(), item->value.end());
    } else if (item->type == TYPE_TEXT_LIST) {
        // Simplified: the entries joined by "; ".
        for (auto e : listEntries(item->value))
            text += (text.empty() ? "" : "; ") + std::string(e);
    } else {
        return 0; // simplified: numbers and times are not turned into text
    }
    WORD copied = 0;
    copyText(text, item_text, text_len - 1u, &copied);
    return copied;
}

EXPORT WORD LNPUBLIC NSFItemGetTextListEntries(NOTEHANDLE note_handle, const char* item_name)
{
    Call call("NSFItemGetTextListEntries");
    NoteObject* n = noteFor(call, note_handle, item_name);
    if (!n)
        return 0;
    const SourceItem* item = findItem(*n, item_name, std::strlen(item_name));
    if (!item)
        return 0;
    if (item->type == TYPE_TEXT)
        return 1;
    if (item->type == TYPE_TEXT_LIST)
        return static_cast<WORD>(listEntries(item->value).size());
    return 0;
}

EXPORT WORD LNPUBLIC NSFItemGetTextListEntry(NOTEHANDLE note_handle, const char* item_name,
                                             WORD entry_position, char* entry_text, WORD text_len)
{
    Call call("NSFItemGetTextListEntry");
    NoteObject* n = noteFor(call, note_handle, item_name);
    if (!n || !entry_text)
        return 0;
    entry_text[0] = '\0';
    const SourceItem* item = findItem(*n, item_name, std::strlen(item_name));
    if (!item)
        return 0;
    std::string_view text;
    if (item->type == TYPE_TEXT && entry_position == 0) {
        text =
            std::string_view(reinterpret_cast<const char*>(item->value.data()), item->value.size());
    } else if (item->type == TYPE_TEXT_LIST) {
        const auto entries = listEntries(item->value);
        if (entry_position >= entries.size())
            return 0;
        text = entries[entry_position];
    } else {
        return 0;
    }
    WORD copied = 0;
    copyText(text, entry_text, text_len, &copied);
    return copied;
}

EXPORT BOOL LNPUBLIC NSFItemGetNumber(NOTEHANDLE hNote, const char* ItemName, NUMBER* retNumber)
{
    Call call("NSFItemGetNumber");
    NoteObject* n = noteFor(call, hNote, ItemName);
    if (!n || !retNumber)
        return FALSE;
    const SourceItem* item = findItem(*n, ItemName, std::strlen(ItemName));
    if (!item)
        return FALSE;
    std::size_t at = 0;
    if (item->type == TYPE_NUMBER_RANGE) {
        if (item->value.size() < 4 || word(item->value.data()) == 0)
            return FALSE;
        at = 4;
    } else if (item->type != TYPE_NUMBER) {
        return FALSE;
    }
    if (item->value.size() < at + 8)
        return FALSE;
    std::memcpy(retNumber, item->value.data() + at, 8);
    return TRUE;
}

EXPORT BOOL LNPUBLIC NSFItemGetTime(NOTEHANDLE note_handle, const char* td_item_name,
                                    TIMEDATE* td_item_value)
{
    Call call("NSFItemGetTime");
    NoteObject* n = noteFor(call, note_handle, td_item_name);
    if (!n || !td_item_value)
        return FALSE;
    const SourceItem* item = findItem(*n, td_item_name, std::strlen(td_item_name));
    if (!item)
        return FALSE;
    std::size_t at = 0;
    if (item->type == TYPE_TIME_RANGE) {
        if (item->value.size() < 4 || word(item->value.data()) == 0)
            return FALSE;
        at = 4;
    } else if (item->type != TYPE_TIME) {
        return FALSE;
    }
    if (item->value.size() < at + 8)
        return FALSE;
    std::memcpy(td_item_value, item->value.data() + at, 8);
    return TRUE;
}

EXPORT STATUS LNPUBLIC NSFItemScan(NOTEHANDLE note_handle, NSFITEMSCANPROC ActionRoutine,
                                   void* func_param)
{
    NoteObject* n = nullptr;
    std::vector<DHANDLE> pools;
    {
        Call call("NSFItemScan");
        if (STATUS s = call.ready())
            return s;
        n = call.r().note(note_handle);
        if (!n || !ActionRoutine) {
            call.misuse("not an open note, or no action routine");
            return ERR_PROTECTED;
        }
        pools = n->valuePools;
    }
    // The routine runs without the lock held: it calls the API itself.
    for (std::size_t i = 0; i < pools.size(); ++i) {
        std::uint8_t* value = nullptr;
        DWORD length = 0;
        std::string name;
        WORD flags = 0;
        {
            std::lock_guard<std::mutex> lock(Registry::instance().mutex);
            n = Registry::instance().note(note_handle);
            MemoryObject* m = Registry::instance().memory(pools[i]);
            if (!n || !m) {
                Registry::instance().misuse("NSFItemScan: the note was closed during the scan");
                return ERR_PROTECTED;
            }
            value = m->bytes.data();
            length = static_cast<DWORD>(m->bytes.size());
            name = n->note.items[i].name;
            flags = n->note.items[i].flags;
        }
        if (STATUS s = ActionRoutine(0, flags, name.data(), static_cast<WORD>(name.size()), value,
                                     length, func_param))
            return s;
    }
    return NOERROR;
}

EXPORT BOOL LNPUBLIC NSFNoteHasObjects(NOTEHANDLE hNote, BLOCKID* bhFirstObjectItem)
{
    Call call("NSFNoteHasObjects");
    if (call.ready())
        return FALSE;
    NoteObject* n = call.r().note(hNote);
    if (!n) {
        call.misuse("handle " + std::to_string(hNote) + " is not an open note");
        return FALSE;
    }
    for (std::size_t i = 0; i < n->note.items.size(); ++i) {
        if (n->note.items[i].type == TYPE_OBJECT) {
            if (bhFirstObjectItem)
                *bhFirstObjectItem = BLOCKID{n->itemPool, static_cast<BLOCK>(i + 1)};
            return TRUE;
        }
    }
    return FALSE;
}

EXPORT STATUS LNPUBLIC NSFNoteExtractFile(NOTEHANDLE note_handle, BLOCKID item_blockid,
                                          const char* file_name, ENCRYPTION_KEY* DecryptionKey)
{
    Call call("NSFNoteExtractFile");
    if (STATUS s = call.ready())
        return s;
    Registry& r = call.r();
    NoteObject* n = r.note(note_handle);
    if (!n || !file_name) {
        call.misuse("not an open note, or no file name");
        return ERR_PROTECTED;
    }
    if (item_blockid.pool != n->itemPool || item_blockid.block == 0 ||
        item_blockid.block > n->note.items.size()) {
        call.misuse("item_blockid is not an item BLOCKID of this note (a value BLOCKID?)");
        return ERR_PROTECTED;
    }
    const SourceItem& item = n->note.items[item_blockid.block - 1u];
    if (item.type != TYPE_OBJECT)
        return ERR_DATATYPE;
    if (DecryptionKey)
        call.misuse("no decryption key can come from the stand-in's NSFNoteDecrypt");
    try {
        r.database(n->db)->source->extract(n->note, item, file_name);
    } catch (const SourceError& e) {
        return e.status;
    }
    return NOERROR;
}

EXPORT STATUS LNPUBLIC NSFNoteDecrypt(NOTEHANDLE hNote, WORD, ENCRYPTION_KEY*)
{
    Call call("NSFNoteDecrypt");
    if (STATUS s = call.ready())
        return s;
    NoteObject* n = call.r().note(hNote);
    if (!n) {
        call.misuse("handle " + std::to_string(hNote) + " is not an open note");
        return ERR_PROTECTED;
    }
    // The stand-in holds no ID keys: every encrypted note is sealed for someone else.
    return n->note.sealed ? ERR_BSAFE_NOKEY : ERR_NOTE_NOT_SEALED;
}

EXPORT STATUS LNPUBLIC ListGetText(void* pList, BOOL fPrefixDataType, WORD EntryNumber,
                                   char** retTextPointer, WORD* retTextLength)
{
    if (!pList || !retTextPointer || !retTextLength)
        return ERR_ODS_NO_SUCH_ENTRY;
    auto* p = static_cast<std::uint8_t*>(pList);
    if (fPrefixDataType)
        p += 2;
    const WORD n = word(p);
    if (EntryNumber >= n)
        return ERR_ODS_NO_SUCH_ENTRY;
    std::size_t offset = 2 + 2u * n;
    for (WORD i = 0; i < EntryNumber; ++i)
        offset += word(p + 2 + 2 * i);
    *retTextPointer = reinterpret_cast<char*>(p + offset);
    *retTextLength = word(p + 2 + 2 * EntryNumber);
    return NOERROR;
}

EXPORT STATUS LNPUBLIC ConvertItemToText(BLOCKID ItemValue, DWORD ItemValueLength,
                                         const char* LineDelimiter, WORD, DHANDLE* rethBuffer,
                                         DWORD* retBufferLength, BOOL)
{
    Call call("ConvertItemToText");
    if (STATUS s = call.ready())
        return s;
    Registry& r = call.r();
    MemoryObject* m = r.memory(ItemValue.pool);
    if (!m || m->itemTable || ItemValue.block + std::size_t(ItemValueLength) > m->bytes.size() ||
        ItemValueLength < 2 || !rethBuffer || !retBufferLength) {
        call.misuse("ItemValue is not a value BLOCKID of that length, or no result pointers");
        return ERR_PROTECTED;
    }
    const std::uint8_t* value = m->bytes.data() + ItemValue.block;
    const WORD type = word(value);
    std::string text;
    if (type == TYPE_TEXT) {
        text.assign(reinterpret_cast<const char*>(value) + 2, ItemValueLength - 2);
        std::replace(text.begin(), text.end(), '\0', '\n');
    } else if (type == TYPE_COMPOSITE) {
        const tarvik::nsf::Bytes bytes(value + 2, ItemValueLength - 2);
        text = utf8ToLmbcs(tarvik::nsf::richTextContent(bytes).text);
    } else {
        return ERR_DATATYPE;
    }
    const std::string delimiter =
        LineDelimiter && *LineDelimiter ? std::string(LineDelimiter) : std::string(1, '\0');
    std::string out;
    for (char ch : text) {
        if (ch == '\n')
            out += delimiter;
        else
            out += ch;
    }
    MemoryObject buffer;
    buffer.bytes.assign(out.begin(), out.end());
    *retBufferLength = static_cast<DWORD>(out.size());
    *rethBuffer = r.add(std::move(buffer));
    return NOERROR;
}

// ---- MIME streams ------------------------------------------------------------------------

namespace {

// The bytes of the attachment a MIME body is kept in, through a temporary file.
std::string objectBytes(Registry& r, const NoteObject& n, const std::string& fileName)
{
    for (const SourceItem& item : n.note.items) {
        if (item.type != TYPE_OBJECT || !sameName(item.name, "$FILE"))
            continue;
        try {
            if (tarvik::nsf::decodeFileObject(item.value).name != fileName)
                continue;
        } catch (const std::exception&) {
            continue;
        }
        return fileItemBytes(r, n, item);
    }
    throw SourceError(ERR_ITEM_NOT_FOUND, "no attachment " + fileName + " for a MIME body");
}

} // namespace

EXPORT STATUS LNPUBLIC MIMEStreamOpen(NOTEHANDLE hNote, char* pchItemName, WORD wItemNameLen,
                                      DWORD dwOpenFlags, MIMEHANDLE* rethMIMEStream)
{
    Call call("MIMEStreamOpen");
    if (rethMIMEStream)
        *rethMIMEStream = nullptr;
    if (STATUS s = call.ready())
        return s;
    Registry& r = call.r();
    NoteObject* n = r.note(hNote);
    if (!n || !pchItemName || !rethMIMEStream) {
        call.misuse("not an open note, or no item name or result pointer");
        return ERR_PROTECTED;
    }
    if (!(dwOpenFlags & MIME_STREAM_OPEN_READ)) {
        call.misuse("the stand-in serves MIME streams for reading only");
        return ERR_PROTECTED;
    }
    const std::string_view name(pchItemName, wItemNameLen);
    const bool mimeHeaders = (dwOpenFlags & MIME_STREAM_MIME_INCLUDE_HEADERS) != 0;
    MimeStreamObject stream;
    bool first = true;
    try {
        for (const SourceItem& item : n->rawMime.empty() ? n->note.items : n->rawMime) {
            if (item.type != TYPE_MIME_PART || !sameName(item.name, name))
                continue;
            const tarvik::nsf::MimePart part = tarvik::nsf::decodeMimePart(item.value);
            // The outermost entity's headers only when asked for; the parts inside a
            // multipart are its body, boundaries and headers included.
            if (!first || mimeHeaders) {
                stream.data += part.boundary;
                stream.data += part.headers;
            }
            if (part.bodyInObject()) {
                const auto object = part.objectName();
                if (!object)
                    return ERR_ITEM_NOT_FOUND;
                stream.data += objectBytes(r, *n, *object);
            } else {
                stream.data += part.body;
            }
            first = false;
        }
    } catch (const SourceError& e) {
        return e.status;
    } catch (const std::exception&) {
        return ERR_DATATYPE;
    }
    if (first)
        return ERR_ITEM_NOT_FOUND;
    *rethMIMEStream =
        reinterpret_cast<MIMEHANDLE>(static_cast<std::uintptr_t>(r.add(std::move(stream))));
    return NOERROR;
}

EXPORT int LNPUBLIC MIMEStreamRead(unsigned char* pchData, unsigned int* puiDataLen,
                                   unsigned int uiMaxDataLen, MIMEHANDLE hMIMEStream)
{
    Call call("MIMEStreamRead");
    if (call.ready())
        return MIME_STREAM_IO;
    MimeStreamObject* m =
        call.r().mimeStream(static_cast<DHANDLE>(reinterpret_cast<std::uintptr_t>(hMIMEStream)));
    if (!m || !pchData || !puiDataLen || uiMaxDataLen < 2) {
        call.misuse("not an open MIME stream, or no buffer (room for at least one byte and the "
                    "NUL)");
        return MIME_STREAM_IO;
    }
    const std::size_t n = std::min<std::size_t>(uiMaxDataLen - 1u, m->data.size() - m->read);
    std::memcpy(pchData, m->data.data() + m->read, n);
    pchData[n] = '\0';
    m->read += n;
    *puiDataLen = static_cast<unsigned int>(n);
    return n == 0 ? MIME_STREAM_EOS : MIME_STREAM_SUCCESS;
}

EXPORT void LNPUBLIC MIMEStreamClose(MIMEHANDLE hMIMEStream)
{
    Call call("MIMEStreamClose");
    if (call.ready())
        return;
    const auto h = static_cast<DHANDLE>(reinterpret_cast<std::uintptr_t>(hMIMEStream));
    if (!call.r().mimeStream(h)) {
        call.misuse("not an open MIME stream");
        return;
    }
    call.r().releaseMimeStream(h);
}

// ---- Environment, times, item details, attachments to a callback -------------------------

namespace {

// A notes.ini variable's value, names compared without case.
std::optional<std::string> iniValue(const std::string& iniPath, std::string_view name)
{
    std::optional<std::string> value;
    if (iniPath.empty())
        return value;
    std::FILE* f = std::fopen(iniPath.c_str(), "r");
    if (!f)
        return value;
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        const std::size_t eq = text.find('=');
        if (eq != std::string::npos && sameName(std::string_view(text).substr(0, eq), name))
            value = text.substr(eq + 1);
    }
    std::fclose(f);
    return value;
}

constexpr std::int64_t hundredthsPerDay = 24LL * 60 * 60 * 100;

// Expands Time->GM, shifted by the given minutes east of Greenwich, into Time's components.
// TRUE (failure) for a value without date and time.
BOOL expandTime(TIME* time, int minutesEast)
{
    const TIMEDATE td = time->GM;
    const bool hasTime = td.Innards[0] != ALLDAY;
    const bool hasDate = td.Innards[1] != ANYDAY;
    if ((!hasTime && !hasDate) || (hasTime && td.Innards[0] >= hundredthsPerDay))
        return TRUE;
    std::int64_t day = hasDate ? std::int64_t(td.Innards[1] & 0x00FFFFFF) : 0;
    std::int64_t clock = hasTime ? std::int64_t(td.Innards[0]) : 0;
    if (hasTime && hasDate) {
        clock += std::int64_t(minutesEast) * 60 * 100;
        while (clock < 0) {
            clock += hundredthsPerDay;
            --day;
        }
        while (clock >= hundredthsPerDay) {
            clock -= hundredthsPerDay;
            ++day;
        }
    }
    if (hasDate) {
        if (day < 0)
            return TRUE;
        const tarvik::nsf::CivilDate civil =
            tarvik::nsf::civilFromJulianDay(static_cast<std::uint32_t>(day));
        time->year = static_cast<int>(civil.year);
        time->month = static_cast<int>(civil.month);
        time->day = static_cast<int>(civil.day);
        time->weekday = static_cast<int>((day + 1) % 7) + 1; // Sunday is 1
    } else {
        time->year = time->month = time->day = time->weekday = 0;
    }
    time->hour = static_cast<int>(clock / 360000);
    time->minute = static_cast<int>(clock / 6000 % 60);
    time->second = static_cast<int>(clock / 100 % 60);
    time->hundredth = static_cast<int>(clock % 100);
    return FALSE;
}

// The item an item BLOCKID names; null after reporting misuse.
const SourceItem* itemFor(Call& call, const NoteObject& n, BLOCKID item)
{
    if (item.pool != n.itemPool || item.block == 0 || item.block > n.note.items.size()) {
        call.misuse("not an item BLOCKID of this note (a value BLOCKID?)");
        return nullptr;
    }
    return &n.note.items[item.block - 1u];
}

} // namespace

EXPORT BOOL LNPUBLIC OSGetEnvironmentString(const char* VariableName, char* retValueBuffer,
                                            WORD BufferLength)
{
    Call call("OSGetEnvironmentString");
    if (call.ready())
        return FALSE;
    if (!VariableName || !retValueBuffer) {
        call.misuse("no variable name or no buffer");
        return FALSE;
    }
    retValueBuffer[0] = '\0';
    const std::optional<std::string> value = iniValue(call.r().iniPath, VariableName);
    if (!value)
        return FALSE;
    WORD copied = 0;
    copyText(*value, retValueBuffer, BufferLength, &copied); // BufferLength leaves room for NUL
    return TRUE;
}

EXPORT WORD LNPUBLIC OSGetDataDirectory(char* retPathName)
{
    Call call("OSGetDataDirectory");
    if (call.ready())
        return 0;
    if (!retPathName) {
        call.misuse("no buffer");
        return 0;
    }
    std::string directory = call.r().dataDirectory;
    if (directory.empty()) {
        char cwd[MAXPATH];
        if (::getcwd(cwd, sizeof cwd))
            directory = cwd;
    }
    WORD copied = 0;
    copyText(directory, retPathName, MAXPATH - 1, &copied);
    return copied;
}

EXPORT BOOL LNPUBLIC TimeGMToLocal(TIME* Time)
{
    Call call("TimeGMToLocal");
    if (call.ready())
        return TRUE;
    if (!Time) {
        call.misuse("no TIME");
        return TRUE;
    }
    // The zone the value was written in, which the TIMEDATE carries in its top byte.
    tarvik::nsf::TimeDate td;
    td.time = Time->GM.Innards[0];
    td.date = Time->GM.Innards[1];
    const int east = td.zoneMinutesEast();
    if (expandTime(Time, east))
        return TRUE;
    Time->zone = -east / 60; // Notes counts zones west of Greenwich as positive
    Time->dst = td.daylightSaving() ? TRUE : FALSE;
    return FALSE;
}

EXPORT BOOL LNPUBLIC TimeGMToLocalZone(TIME* Time)
{
    Call call("TimeGMToLocalZone");
    if (call.ready())
        return TRUE;
    if (!Time) {
        call.misuse("no TIME");
        return TRUE;
    }
    if (Time->zone < -12 || Time->zone > 12) {
        call.misuse("zone outside -12..12");
        return TRUE;
    }
    // No daylight-saving rules here: dst TRUE is taken as one hour ahead all year.
    return expandTime(Time, -Time->zone * 60 + (Time->dst ? 60 : 0));
}

EXPORT void LNPUBLIC NSFItemQuery(NOTEHANDLE note_handle, BLOCKID item_bid, char* item_name,
                                  WORD return_buf_len, WORD* name_len_ptr, WORD* item_flags_ptr,
                                  WORD* value_datatype_ptr, BLOCKID* value_bid_ptr,
                                  DWORD* value_len_ptr)
{
    Call call("NSFItemQuery");
    if (call.ready())
        return;
    NoteObject* n = call.r().note(note_handle);
    if (!n) {
        call.misuse("handle " + std::to_string(note_handle) + " is not an open note");
        return;
    }
    const SourceItem* item = itemFor(call, *n, item_bid);
    if (!item)
        return;
    const std::size_t index = item_bid.block - 1u;
    if (item_name && return_buf_len > 0) {
        WORD copied = 0;
        copyText(item->name, item_name, return_buf_len - 1u, &copied);
        if (name_len_ptr)
            *name_len_ptr = copied;
    } else if (name_len_ptr) {
        *name_len_ptr = 0;
    }
    if (item_flags_ptr)
        *item_flags_ptr = item->flags;
    fillItemInfo(*n, index, nullptr, value_datatype_ptr, value_bid_ptr, value_len_ptr);
}

EXPORT BOOL LNPUBLIC NSFNoteIsSignedOrSealed(NOTEHANDLE note_handle, BOOL* signed_flag_ptr,
                                             BOOL* sealed_flag_ptr)
{
    Call call("NSFNoteIsSignedOrSealed");
    if (call.ready())
        return FALSE;
    NoteObject* n = call.r().note(note_handle);
    if (!n) {
        call.misuse("handle " + std::to_string(note_handle) + " is not an open note");
        return FALSE;
    }
    const bool isSigned = findItem(*n, "$Signature", 10) != nullptr;
    const bool isSealed = n->note.sealed;
    if (signed_flag_ptr)
        *signed_flag_ptr = isSigned ? TRUE : FALSE;
    if (sealed_flag_ptr)
        *sealed_flag_ptr = isSealed ? TRUE : FALSE;
    return (isSigned || isSealed) ? TRUE : FALSE;
}

EXPORT STATUS LNPUBLIC NSFNoteExtractWithCallback(NOTEHANDLE hNote, BLOCKID bhItem,
                                                  ENCRYPTION_KEY* DecryptionKey, WORD,
                                                  NOTEEXTRACTCALLBACK pNoteExtractCallback,
                                                  void* pParam)
{
    Call call("NSFNoteExtractWithCallback");
    if (STATUS s = call.ready())
        return s;
    Registry& r = call.r();
    NoteObject* n = r.note(hNote);
    if (!n || !pNoteExtractCallback) {
        call.misuse("not an open note, or no callback");
        return ERR_PROTECTED;
    }
    const SourceItem* item = itemFor(call, *n, bhItem);
    if (!item)
        return ERR_PROTECTED;
    if (item->type != TYPE_OBJECT)
        return ERR_DATATYPE;
    if (DecryptionKey)
        call.misuse("no decryption key can come from the stand-in's NSFNoteDecrypt");
    std::string bytes;
    try {
        bytes = fileItemBytes(r, *n, *item);
    } catch (const SourceError& e) {
        return e.status;
    }
    // Pieces of a few kilobytes, as a caller must expect more than one call.
    constexpr std::size_t piece = 8192;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const std::size_t len = std::min(piece, bytes.size() - at);
        if (STATUS s = pNoteExtractCallback(reinterpret_cast<const BYTE*>(bytes.data() + at),
                                            static_cast<DWORD>(len), pParam))
            return s;
    }
    return NOERROR;
}

EXPORT BOOL NSFIsFileItemMimePart(NOTEHANDLE hNote, BLOCKID bhMIMEItem)
{
    Call call("NSFIsFileItemMimePart");
    if (call.ready())
        return FALSE;
    NoteObject* n = call.r().note(hNote);
    if (!n) {
        call.misuse("handle " + std::to_string(hNote) + " is not an open note");
        return FALSE;
    }
    const SourceItem* item = itemFor(call, *n, bhMIMEItem);
    if (!item || item->type != TYPE_OBJECT)
        return FALSE;
    std::string fileName;
    try {
        fileName = tarvik::nsf::decodeFileObject(item->value).name;
    } catch (const std::exception&) {
        return FALSE;
    }
    for (const SourceItem& part : n->rawMime.empty() ? n->note.items : n->rawMime) {
        if (part.type != TYPE_MIME_PART)
            continue;
        try {
            const tarvik::nsf::MimePart mime = tarvik::nsf::decodeMimePart(part.value);
            if (mime.bodyInObject() && mime.objectName() == fileName)
                return TRUE;
        } catch (const std::exception&) {
        }
    }
    return FALSE;
}
