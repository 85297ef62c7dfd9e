#ifndef OSC_H
#define OSC_H

#include <lua.hpp>

// The osc table of net.core: OSC 1.0 messages and bundles to and from Lua strings, through
// liblo's message (de)serialisation; the sockets carry them.
void pushOscTable(lua_State *L);

#endif
