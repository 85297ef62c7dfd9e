#ifndef CONSOLE_H
#define CONSOLE_H

// Reopens standard output on a console titled "Debug Console"; returns whether one was found.
// attachToParent prefers the console of the parent process where the platform tells them apart.
bool openConsole(bool attachToParent);

#endif
