#include "font.h"

#include "luax/luax.h"

QFont *checkfont(lua_State *L, int index)
{
    return static_cast<QFont *>(luaX_checkclass(L, index, "QFont"));
}
