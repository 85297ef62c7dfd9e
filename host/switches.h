#ifndef SWITCHES_H
#define SWITCHES_H

#include <QStringList>

// Applies the command-line switches -d, -dd, -df (only the first of these acts) and -s.
void applySwitches(const QStringList &arguments);

// The settings flag, set by -s and published to Lua as wantSettings.
bool settingsFlag();

#endif
