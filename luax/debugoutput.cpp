#include "debugoutput.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>

void debugOutput(const char *text)
{
#ifdef _WIN32
    OutputDebugStringA(text);
#else
    // No debugger channel here: standard error is where a developer watches.
    fprintf(stderr, "%s\n", text);
#endif
}
