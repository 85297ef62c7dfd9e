#ifndef LUAX_H
#define LUAX_H

#include <lua.hpp>

#include <QColor>
#include <QRect>
#include <QVariant>

#include <cstdarg>

class QObject;

enum {
    LUAX_OWNED = 1,
    LUAX_BORROWED = 2,
    LUAX_NOCACHE = 4,
    LUAX_CACHE = 8,
};

// The userdata behind every handle: the native object (null once it died) and its flags.
struct LuaXHandle {
    void *object;
    intptr_t flags;
};

lua_State *luaX_newstate();
void luaX_preload(lua_State *L, const luaL_Reg *modules);

void luaX_createclass(lua_State *L, const char *className, const luaL_Reg *functions,
                      const char *baseName, bool instanceFields, bool publish);
int luaX_index(lua_State *L);
int luaX_newindex(lua_State *L);

void luaX_pushobject(lua_State *L, void *object, const char *className, int flags);
void luaX_pushqobject(lua_State *L, QObject *object);
void *luaX_testclass(lua_State *L, int index, const char *className);
void *luaX_testclass(lua_State *L, int index, const char *className, int mask);
void *luaX_checkclass(lua_State *L, int index, const char *className);
LuaXHandle *luaX_tohandle(lua_State *L, int index, const char *className);
void luaX_forget(lua_State *L, void *object);
// For __gc: the object of an owning handle, which the handle then gives up (null otherwise).
void *luaX_takeowned(lua_State *L, int index, const char *className);

int luaX_pushargs(lua_State *L, const char *format, va_list args, int *extraResults);
int luaX_pushargsf(lua_State *L, const char *format, ...);
int luaX_pcall(lua_State *L, int nargs, int nresults, const char *format, ...);
int luaX_vpcall(lua_State *L, int nargs, int nresults, const char *format, va_list args);
// As luaX_vpcall, with luaX_traceback already at the absolute index handler below the function;
// the handler stays on the stack.
int luaX_vpcallat(lua_State *L, int handler, int nargs, int nresults, const char *format,
                  va_list args);
int luaX_callmethod(lua_State *L, void *object, const char *method, const char *format, ...);
int luaX_dostring(lua_State *L, const char *chunk, const char *format, ...);
int luaX_traceback(lua_State *L);
void luaX_report(lua_State *L, const char *label);
void luaX_clearstack(lua_State *L);

QRect luaX_torect(lua_State *L, int index);
QVariant luaX_tovariant(lua_State *L, int index);
int luaX_pushvariant(lua_State *L, const QVariant &value);
QColor luaX_tocolor(lua_State *L, int index, const char *defaultName);

int luaX_truncate(lua_Number n);
int luaX_checkint(lua_State *L, int index);
int luaX_optint(lua_State *L, int index, int def);
bool luaX_optflag(lua_State *L, int index);
QString luaX_checkqstring(lua_State *L, int index);

#endif
