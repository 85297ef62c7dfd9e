#ifndef DEBUGOUTPUT_H
#define DEBUGOUTPUT_H

// Sends one line of text to the platform's debugger output.
void debugOutput(const char *text);

#endif
