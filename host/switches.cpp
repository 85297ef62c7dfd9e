#include "switches.h"

#include "console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

static bool settings = false;

bool settingsFlag()
{
    return settings;
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
