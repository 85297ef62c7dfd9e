#ifndef FAKEHIDAPI_H
#define FAKEHIDAPI_H

#include <string>

// The pedal tests link this stand-in for hidapi instead of the system library: one pedal that
// a test plugs in, feeds with input reports and pulls out while the worker reads it on its own
// thread. A program started by a test takes its pedal from the environment instead:
// FAKEHIDAPI_REPORTS="04 00" plugs in a pedal that sends these reports and then stays
// connected.
namespace fakehid
{
// What a plugged-in pedal fails at.
enum Failure {
    Manufacturer = 1,
    Product = 2,
    SerialNumber = 4,
    IndexedString = 8,
    Drain = 16,
    // Enumerated, but hid_open fails, as for a device node without permission.
    Open = 32,
    // The state request's write blocks until unblock().
    Write = 64,
};

// No pedal, no reports, all counts zero.
void reset();
// A fresh pedal: hid_open finds it, and no report is waiting.
void plug(int failures = 0);
// Input reports, read after the ones already queued: each word of hexadecimal digits is one
// report ("04 00 0102ff" is three).
void reports(const std::string &words);
// The pedal goes once the queued reports are read: that read fails, and opens find nothing.
void unplug();
// Ends a blocked write.
void unblock();

// What the worker did to the pedal so far.
struct Counts {
    int opens;
    // Opened and not yet closed.
    int openDevices;
    int exits;
    // The last output report written.
    std::string written;
};
Counts counts();
} // namespace fakehid

#endif
