#ifndef NETMODULE_H
#define NETMODULE_H

#include <lua.hpp>

// C linkage: the host looks the opener up by name in the module's shared object.
extern "C" int luaopen_net_core(lua_State *L);

#endif
