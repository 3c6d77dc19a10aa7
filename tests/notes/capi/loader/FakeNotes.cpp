// A small library with the entry points of the Notes C API, for the loader's tests: it
// starts, ends, switches IDs and names errors as FakeNotesState tells it, and reads no
// database. Built twice: whole, and without NIFReadEntries (FAKE_NOTES_WITHOUT_READ_ENTRIES).

#include "FakeNotesState.h"
#include "notes/capi/NotesCApi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace tarvik::notes::capi;

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT FakeNotesState tarvikFakeNotes;
FakeNotesState tarvikFakeNotes;

#ifdef FAKE_NOTES_NEEDS_DEPENDENCY
extern "C" int tarvikFakeDependency();
#endif

namespace {

constexpr STATUS notSupported = 0x0001;

void copyText(char* to, std::size_t size, const char* from)
{
    std::strncpy(to, from ? from : "", size - 1);
    to[size - 1] = 0;
}

} // namespace

// A program run by a test is told through the environment: FAKE_NOTES_PASSWORD is the ID's
// password (others are refused), FAKE_NOTES_KEYFILE the ID notes.ini names.
FAKE_EXPORT STATUS NotesInitExtended(int argc, char** argv)
{
    if (const char* password = std::getenv("FAKE_NOTES_PASSWORD")) {
        copyText(tarvikFakeNotes.password, sizeof tarvikFakeNotes.password, password);
        tarvikFakeNotes.passwordStatus = fakeWrongPassword;
    }
    if (const char* id = std::getenv("FAKE_NOTES_KEYFILE"))
        copyText(tarvikFakeNotes.keyFileName, sizeof tarvikFakeNotes.keyFileName, id);
#ifdef FAKE_NOTES_NEEDS_DEPENDENCY
    tarvikFakeDependency();
#endif
    ++tarvikFakeNotes.initCalls;
    tarvikFakeNotes.initArgc = argc;
    copyText(tarvikFakeNotes.initArg1, sizeof tarvikFakeNotes.initArg1, argc > 1 ? argv[1] : "");
    return tarvikFakeNotes.initStatus;
}
FAKE_EXPORT void NotesTerm()
{
    ++tarvikFakeNotes.termCalls;
}
FAKE_EXPORT STATUS NotesInitThread()
{
    ++tarvikFakeNotes.initThreadCalls;
    return tarvikFakeNotes.initThreadStatus;
}
FAKE_EXPORT void NotesTermThread()
{
    ++tarvikFakeNotes.termThreadCalls;
}
FAKE_EXPORT WORD OSLoadString(HMODULE_, STATUS code, char* buffer, WORD length)
{
    if (code != fakeWrongPassword || length == 0)
        return 0;
    copyText(buffer, length, fakeWrongPasswordText);
    return WORD(std::strlen(buffer));
}
// Text is ASCII here: both ways it stays as it is.
FAKE_EXPORT WORD OSTranslate(WORD, const char* in, WORD inLength, char* out, WORD outLength)
{
    const WORD n = std::min(inLength, outLength);
    std::memcpy(out, in, n);
    return n;
}
FAKE_EXPORT void* OSLockObject(DHANDLE)
{
    return nullptr;
}
FAKE_EXPORT BOOL OSUnlockObject(DHANDLE)
{
    return 0;
}
FAKE_EXPORT STATUS OSMemFree(DHANDLE)
{
    return NOERROR;
}
FAKE_EXPORT BOOL OSGetEnvironmentString(const char* name, char* value, WORD length)
{
    if (std::strcmp(name, "KeyFileName") != 0 || !tarvikFakeNotes.keyFileName[0])
        return 0;
    copyText(value, std::size_t(length) + 1, tarvikFakeNotes.keyFileName);
    return 1;
}
FAKE_EXPORT WORD OSGetDataDirectory(char* path)
{
    path[0] = 0;
    return 0;
}
FAKE_EXPORT STATUS SECKFMSwitchToIDFile(char* idFile, char* password, char* userName,
                                        WORD maxUserName, DWORD, void*)
{
    ++tarvikFakeNotes.switchCalls;
    if (std::strcmp(password, tarvikFakeNotes.password) != 0)
        return tarvikFakeNotes.passwordStatus;
    copyText(tarvikFakeNotes.switchedId, sizeof tarvikFakeNotes.switchedId, idFile);
    copyText(userName, maxUserName, tarvikFakeNotes.userName);
    return NOERROR;
}
FAKE_EXPORT STATUS NSFDbOpen(const char*, DBHANDLE*)
{
    return notSupported;
}
FAKE_EXPORT STATUS NSFDbClose(DBHANDLE)
{
    return NOERROR;
}
FAKE_EXPORT STATUS NSFDbInfoGet(DBHANDLE, char*)
{
    return notSupported;
}
FAKE_EXPORT void NSFDbInfoParse(char*, WORD, char* buffer, WORD)
{
    buffer[0] = 0;
}
FAKE_EXPORT STATUS NIFOpenCollection(DBHANDLE, DBHANDLE, NOTEID, WORD, DHANDLE, HCOLLECTION*,
                                     NOTEHANDLE*, UNIVERSALNOTEID*, DHANDLE*, DHANDLE*)
{
    return notSupported;
}
#ifndef FAKE_NOTES_WITHOUT_READ_ENTRIES
FAKE_EXPORT STATUS NIFReadEntries(HCOLLECTION, COLLECTIONPOSITION*, WORD, DWORD, WORD, DWORD, DWORD,
                                  DHANDLE*, WORD*, DWORD*, DWORD*, WORD*)
{
    return notSupported;
}
#endif
FAKE_EXPORT STATUS NIFCloseCollection(HCOLLECTION)
{
    return NOERROR;
}
FAKE_EXPORT STATUS NSFNoteOpenExt(DBHANDLE, NOTEID, DWORD, NOTEHANDLE*)
{
    return notSupported;
}
FAKE_EXPORT STATUS NSFNoteClose(NOTEHANDLE)
{
    return NOERROR;
}
FAKE_EXPORT BOOL NSFNoteIsSignedOrSealed(NOTEHANDLE, BOOL*, BOOL*)
{
    return 0;
}
FAKE_EXPORT STATUS NSFNoteDecrypt(NOTEHANDLE, WORD, ENCRYPTION_KEY*)
{
    return notSupported;
}
FAKE_EXPORT STATUS NSFItemInfo(NOTEHANDLE, const char*, WORD, BLOCKID*, WORD*, BLOCKID*, DWORD*)
{
    return notSupported;
}
FAKE_EXPORT STATUS NSFItemInfoNext(NOTEHANDLE, BLOCKID, const char*, WORD, BLOCKID*, WORD*,
                                   BLOCKID*, DWORD*)
{
    return notSupported;
}
FAKE_EXPORT void NSFItemQuery(NOTEHANDLE, BLOCKID, char*, WORD, WORD*, WORD*, WORD*, BLOCKID*,
                              DWORD*)
{}
FAKE_EXPORT BOOL NSFIsFileItemMimePart(NOTEHANDLE, BLOCKID)
{
    return 0;
}
FAKE_EXPORT STATUS ConvertItemToText(BLOCKID, DWORD, const char*, WORD, DHANDLE*, DWORD*, BOOL)
{
    return notSupported;
}
FAKE_EXPORT BOOL TimeGMToLocalZone(TIME*)
{
    return 1;
}
FAKE_EXPORT BOOL TimeGMToLocal(TIME*)
{
    return 1;
}
FAKE_EXPORT STATUS MIMEStreamOpen(NOTEHANDLE, char*, WORD, DWORD, MIMEHANDLE*)
{
    return notSupported;
}
FAKE_EXPORT int MIMEStreamRead(unsigned char*, unsigned int* length, unsigned int, MIMEHANDLE)
{
    *length = 0;
    return MIME_STREAM_IO;
}
FAKE_EXPORT void MIMEStreamClose(MIMEHANDLE)
{}
FAKE_EXPORT STATUS NSFNoteExtractWithCallback(NOTEHANDLE, BLOCKID, ENCRYPTION_KEY*, WORD,
                                              NOTEEXTRACTCALLBACK, void*)
{
    return notSupported;
}
