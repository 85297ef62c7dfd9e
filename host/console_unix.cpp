#include "console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

// There is no console to create here: the controlling terminal, when there is one, serves both
// as the parent's console and as a new one.
bool openConsole(bool)
{
    const int terminal = open("/dev/tty", O_WRONLY | O_NOCTTY);
    if (terminal < 0)
        return false;
    fflush(stdout);
    dup2(terminal, STDOUT_FILENO);
    close(terminal);
    printf("\033]0;Debug Console\007");
    fflush(stdout);
    return true;
}
