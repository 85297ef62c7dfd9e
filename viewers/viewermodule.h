#ifndef VIEWERMODULE_H
#define VIEWERMODULE_H

#include <lua.hpp>

// The opener of a viewer module: registers the widget class (base QWidget, which qt.core
// provides and is loaded for) and leaves the class table as the module's value.
int openViewerModule(lua_State *L, const char *className, const luaL_Reg *functions);

#endif
