#ifndef MODULELOCATOR_H
#define MODULELOCATOR_H

#include <lua.hpp>

// Runs the embedded module-locating chunk: unpacks bundlepath/bundlename when present, else
// points the search paths at basepath. A null cpaths is replaced by paths. Failures are reported
// as "Locate modules" and start-up goes on.
void locateModules(lua_State *L, const char *bundlepath, const char *bundlename,
                   const char *basepath, const char *paths, const char *cpaths);

#endif
