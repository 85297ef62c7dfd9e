#include "switches.h"

#include "console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

static bool settings = false;
static bool development = false;

const char *const switchesHelp =
    "Usage: remote [-d | -dd | -df] [-s] [-w] [-h]\n"
    "Starts the Lua application: remote/init.lua or remote.lua two folders above the program,\n"
    "or bundle.bin beside it.\n"
    "  -d      diagnostic output to the terminal the program was started from\n"
    "  -dd     the same (on Windows a console of its own)\n"
    "  -df     diagnostic output to log.txt in the current folder, unbuffered\n"
    "          (only the first of -d, -dd and -df acts)\n"
    "  -s      publish wantSettings = true to the application\n"
    "  -w      development mode: restart the application when one of its files is saved,\n"
    "          and show an error that would end the program in the window\n"
    "  -h, --help  print this text and exit\n";

bool settingsFlag()
{
    return settings;
}

bool developmentMode()
{
    return development;
}

bool wantsHelp(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (!strcmp(argv[i], "-h") || !strcmp(argv[i], "--help"))
            return true;
    return false;
}

// Standard output moves to log.txt only once the file is open; otherwise it stays as it was.
static void logtofile()
{
    const int file = open("log.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0)
        return;
    fflush(stdout);
    dup2(file, STDOUT_FILENO);
    close(file);
    setvbuf(stdout, nullptr, _IONBF, 0);
}

void applySwitches(const QStringList &arguments)
{
    bool latched = false;
    for (const QString &argument : arguments) {
        if (argument == "-s") {
            settings = true;
            continue;
        }
        if (argument == "-w") {
            development = true;
            continue;
        }
        if (latched)
            continue;
        if (argument == "-d")
            openConsole(true);
        else if (argument == "-dd")
            openConsole(false);
        else if (argument == "-df")
            logtofile();
        else
            continue;
        latched = true;
    }
}
