#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

#include <lua.hpp>

#include <vector>

// Benchmarks run headless unless told otherwise.
void useOffscreenUnlessSet();
// An interpreter with qt.core loaded and bound to the global qt.
lua_State *newQtCoreState();
double median(std::vector<double> values);

#endif
