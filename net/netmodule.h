#ifndef NETMODULE_H
#define NETMODULE_H

#include <lua.hpp>

int luaopen_net_core(lua_State *L);

#endif
