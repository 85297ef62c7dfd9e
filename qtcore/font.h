#ifndef FONT_H
#define FONT_H

#include <lua.hpp>

#include <QFont>

QFont *checkfont(lua_State *L, int index);
const luaL_Reg *fontFunctions();

#endif
