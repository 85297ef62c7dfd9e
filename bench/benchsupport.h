#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

#include <lua.hpp>

#include <QByteArray>

#include <vector>

// Benchmarks run headless unless told otherwise.
void useOffscreenUnlessSet();
// An interpreter with qt.core loaded and bound to the global qt.
lua_State *newQtCoreState();
double median(std::vector<double> values);

// A pseudo-terminal, both sides open and raw; false when the system gives none. The slave side
// is held open all along, so the line stays raw whoever else opens it by its path.
struct PtyPair {
    int master = -1;
    int slave = -1;
    QByteArray path;
};
bool openptypair(PtyPair *pair);

#endif
