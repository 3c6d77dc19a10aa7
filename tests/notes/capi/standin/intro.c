/* A C program written from the reference the way its intro sample works: initialise, open the
 * database named on the command line, print its title from the database information, count
 * the views and folders of its design collection, close, end. It reports the stand-in's
 * misuse count and fails when it is not zero. Linked against libnotes.so as a C program
 * would be. */
#include "NotesCApi.h"

#include <stdio.h>
#include <string.h>

int main(int argc, char* argv[])
{
    DBHANDLE db = NULLHANDLE;
    HCOLLECTION coll = 0;
    COLLECTIONPOSITION pos;
    DHANDLE buffer = NULLHANDLE;
    DWORD found = 0;
    DWORD views = 0;
    WORD signal = 0;
    char info[NSF_INFO_SIZE] = "";
    char title[NSF_INFO_SIZE] = "";
    char message[256] = "";
    STATUS error;

    if (argc < 2) {
        fprintf(stderr, "usage: %s DATABASE\n", argv[0]);
        return 2;
    }
    if ((error = NotesInitExtended(argc, argv)) != NOERROR) {
        fprintf(stderr, "Error initializing Notes.\n");
        return 1;
    }
    if ((error = NSFDbOpen(argv[1], &db)) != NOERROR) {
        OSLoadString(NULL, ERR(error), message, sizeof message - 1);
        fprintf(stderr, "NSFDbOpen: %s\n", message);
        NotesTerm();
        return 1;
    }
    if ((error = NSFDbInfoGet(db, info)) == NOERROR)
        NSFDbInfoParse(info, INFOPARSE_TITLE, title, NSF_INFO_SIZE - 1);
    printf("title: %s\n", title);

    error = NIFOpenCollection(db, db, NOTE_ID_SPECIAL + NOTE_CLASS_DESIGN, OPEN_DO_NOT_CREATE,
                              NULLHANDLE, &coll, NULL, NULL, NULL, NULL);
    if (error == NOERROR) {
        memset(&pos, 0, sizeof pos);
        do {
            DWORD i;
            const BYTE* p;
            error = NIFReadEntries(coll, &pos, NAVIGATE_NEXT, 1L, NAVIGATE_NEXT, 0xFFFFFFFF,
                                   READ_MASK_NOTECLASS, &buffer, NULL, NULL, &found, &signal);
            if (error != NOERROR || buffer == NULLHANDLE)
                break;
            p = (const BYTE*)OSLockObject(buffer);
            for (i = 0; i < found; ++i) {
                WORD noteClass;
                memcpy(&noteClass, p + 2 * i, sizeof noteClass);
                if (noteClass & NOTE_CLASS_VIEW)
                    ++views;
            }
            OSUnlockObject(buffer);
            OSMemFree(buffer);
        } while (signal & SIGNAL_MORE_TO_DO);
        NIFCloseCollection(coll);
    }
    printf("views: %u\n", (unsigned)views);
    NSFDbClose(db);
    NotesTerm();
    printf("misuse: %u\n", (unsigned)TarvikStandinMisuseCount());
    return TarvikStandinMisuseCount() == 0 && error == NOERROR ? 0 : 1;
}
