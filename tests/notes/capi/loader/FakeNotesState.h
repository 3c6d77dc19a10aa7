#pragma once

// What the loader tests' small Notes library records and how it is told to answer. The
// library exports one of these as "tarvikFakeNotes"; a test opens the same library file
// and reads or sets it.
struct FakeNotesState {
    // NotesInitExtended: its answer and what it was given.
    unsigned short initStatus = 0;
    int initCalls = 0;
    int termCalls = 0;
    int initArgc = 0;
    char initArg1[512] = {};
    // NotesInitThread and NotesTermThread.
    unsigned short initThreadStatus = 0;
    int initThreadCalls = 0;
    int termThreadCalls = 0;
    // SECKFMSwitchToIDFile accepts this password (an ID without one: empty) and answers
    // any other with passwordStatus.
    char password[64] = {};
    unsigned short passwordStatus = 0;
    int switchCalls = 0;
    char switchedId[512] = {};
    char userName[64] = {};
    // OSGetEnvironmentString("KeyFileName").
    char keyFileName[512] = {};
    // What the back-end has open of the database: each goes back to 0 when it closed all.
    int openDatabases = 0;
    int openNotes = 0;
    int openCollections = 0;
    int openStreams = 0;
    int buffersOut = 0;
};

#include <string>

constexpr unsigned short fakeWrongPassword = 0x1A2B;
// The text OSLoadString gives for fakeWrongPassword; others have none.
constexpr const char* fakeWrongPasswordText = "Wrong Password.";

// The database the library serves: any path ending in "fake.nsf". Views and folders by
// note ID: the Inbox folder "($Inbox)" (alias "$Inbox": a rich-text mail, a category, a MIME
// mail, a sealed mail, read two entries at a time), the folder "Projects\2008" (alias "P08":
// the MIME mail), the view "($All)" (empty), and a navigator, which is no view.
constexpr unsigned fakeInbox = 0x20;
constexpr unsigned fakeProjects = 0x24;
constexpr unsigned fakeAll = 0x28;
constexpr unsigned fakeRichMail = 0x100;
constexpr unsigned fakeMimeMail = 0x104;
constexpr unsigned fakeSealedMail = 0x108;

// The rich-text mail's attachment, report.pdf.
inline std::string fakeFileBytes()
{
    return "%PDF-1.4 fake attachment";
}

// The MIME mail's Body as the MIME stream gives it.
inline std::string fakeMimeMessage()
{
    return "Subject: MIME mail\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
           "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
           "Hello from MIME.\r\n"
           "--b1\r\nContent-Type: text/plain; name=\"notes.txt\"\r\n"
           "Content-Disposition: attachment; filename=\"notes.txt\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n"
           "bm90ZXMgaW5zaWRl\r\n"
           "--b1--\r\n";
}
