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
};

constexpr unsigned short fakeWrongPassword = 0x1A2B;
// The text OSLoadString gives for fakeWrongPassword; others have none.
constexpr const char* fakeWrongPasswordText = "Wrong Password.";
