#ifndef SWITCHES_H
#define SWITCHES_H

#include <QStringList>

// Applies the command-line switches -d, -dd, -df (only the first of these acts) and -s.
void applySwitches(const QStringList &arguments);

// The settings flag, set by -s and published to Lua as wantSettings.
bool settingsFlag();

// Development mode, set by -w: the application restarts when its files change, and an error
// that would end the program is shown in the window instead.
bool developmentMode();

// True when the command line asks for help (-h or --help); the text lists the switches.
bool wantsHelp(int argc, char **argv);
extern const char *const switchesHelp;

#endif
