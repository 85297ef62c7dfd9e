#ifndef PAINTER_H
#define PAINTER_H

#include <lua.hpp>

class QPainter;
class QPixmap;

QPainter *checkpainter(lua_State *L, int index);
QPixmap *checkimage(lua_State *L, int index);

const luaL_Reg *imageFunctions();
const luaL_Reg *painterFunctions();

#endif
