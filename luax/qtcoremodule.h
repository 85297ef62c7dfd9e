#ifndef QTCOREMODULE_H
#define QTCOREMODULE_H

#include <lua.hpp>

int luaopen_qt_core(lua_State *L);

#endif
