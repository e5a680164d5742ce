/* A caller that breaks the rule to close its lines first: it unloads
 * tarvpcan3.dll with line 0 open, then ends the process with the line still
 * open. Neither may wait for the line's reader thread: FreeLibrary must
 * return, and the process must end (the test's time limit catches a hang).
 * Usage: line_left_open <library> */
#include "tarvpcan3.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

static DWORD WINAPI unload(LPVOID library)
{
    return FreeLibrary((HMODULE)library) ? 0 : 1;
}

/* Resolved bytewise, as the C caller does. */
static int openLine(HMODULE library)
{
    TarvConnectCANHw2DriverFn connect = NULL;
    TarvExtendedInitCanFn open = NULL;
    FARPROC symbol = GetProcAddress(library, "ConnectCANHw2Driver");
    memcpy(&connect, &symbol, sizeof connect);
    symbol = GetProcAddress(library, "ExtendedInitCan");
    memcpy(&open, &symbol, sizeof open);
    char text[64] = "leftOpen";
    return connect != NULL && open != NULL && connect(TARVPCAN3_KIND_USB) == 1 && open(0, 250, 0, 0, text) == 1;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: line_left_open <library>\n");
        return 2;
    }
    HMODULE library = LoadLibraryA(argv[1]);
    if (library == NULL || !openLine(library)) {
        fprintf(stderr, "cannot open line 0 through %s\n", argv[1]);
        return 1;
    }
    HANDLE thread = CreateThread(NULL, 0, unload, library, 0, NULL);
    const DWORD waited = thread != NULL ? WaitForSingleObject(thread, 10000) : WAIT_FAILED;
    DWORD unloaded = 1;
    if (waited != WAIT_OBJECT_0 || !GetExitCodeThread(thread, &unloaded) || unloaded != 0) {
        fprintf(stderr, "FreeLibrary with line 0 open did not return within 10 s\n");
        return 1;
    }
    printf("line_left_open: FreeLibrary returned; ending the process with line 0 open\n");
    fflush(stdout);
    return 0;
}
