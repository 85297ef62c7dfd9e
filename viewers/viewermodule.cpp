#include "viewermodule.h"

#include "luax/luax.h"
#include "luax/qtcoremodule.h"

// Without the QWidget class a viewer would not inherit __init, and its handle would never learn
// of the widget's death.
int openViewerModule(lua_State *L, const char *className, const luaL_Reg *functions)
{
    luaL_checkversion(L);
    luaL_requiref(L, "qt.core", luaopen_qt_core, 0);
    lua_pop(L, 1);
    luaX_createclass(L, className, functions, "QWidget", false, false);
    luaL_getmetatable(L, className);
    return 1;
}
