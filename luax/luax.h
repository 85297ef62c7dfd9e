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
// Kills the cached handle of an object that belongs to the native side; owned handles stay.
void luaX_forgetborrowed(lua_State *L, void *object);
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
// As luaX_vpcallat with the arguments pushed already: the format only tells whether a failure is
// fatal.
int luaX_pcallat(lua_State *L, int handler, int nargs, int nresults, const char *format);
int luaX_callmethod(lua_State *L, void *object, const char *method, const char *format, ...);
// As luaX_callmethod, on the handle at the given stack index (which may be a dead handle).
int luaX_callmethodat(lua_State *L, int index, const char *method, const char *format, ...);
int luaX_dostring(lua_State *L, const char *chunk, const char *format, ...);
int luaX_traceback(lua_State *L);
void luaX_report(lua_State *L, const char *label);
// Replaces the end of the process after a failed fatal call: the handler gets the error
// message, and the error stays on the stack for the caller as after any other failed call.
using luaX_FatalHandler = void (*)(lua_State *L, const char *message);
void luaX_setfatalhandler(luaX_FatalHandler handler);
// Told of every failed callback that does not end the program: the callback's name and the
// error's text, traceback included. It must not call into Lua.
using luaX_ErrorHandler = void (*)(lua_State *L, const char *callback, const char *message);
void luaX_seterrorhandler(luaX_ErrorHandler handler);
void luaX_reporterror(lua_State *L, const char *callback, const char *message);
// A halted interpreter gets no more callbacks (events, timers, __deleted) until it is closed;
// null halts none.
void luaX_sethalted(lua_State *L);
bool luaX_halted(const lua_State *L);
void luaX_clearstack(lua_State *L);

QRect luaX_torect(lua_State *L, int index);
QVariant luaX_tovariant(lua_State *L, int index);
int luaX_pushvariant(lua_State *L, const QVariant &value);
QColor luaX_tocolor(lua_State *L, int index, const char *defaultName);

// The numbers Lua may hand to the toolkit: coordinates (and painter extents) within a 16-bit
// signed range, which keeps every sum of two of them inside an int; sizes of windows and
// images up to 16384 pixels a side; font pixel sizes up to 2048.
enum {
    LUAX_MINCOORD = -32768,
    LUAX_MAXCOORD = 32767,
    LUAX_MAXSIZE = 16384,
    LUAX_MAXFONTSIZE = 2048,
};

int luaX_truncate(lua_Number n);
// A number truncated toward zero; NaN, infinities and values outside [min, max] raise the
// argument error "out of range".
int luaX_checkrange(lua_State *L, int index, int min, int max);
int luaX_checkint(lua_State *L, int index);
// A number truncated toward zero and clamped into [min, max]; NaN counts as 0.
int luaX_checkclamped(lua_State *L, int index, int min, int max);
int luaX_optint(lua_State *L, int index, int def);
int luaX_checkcoord(lua_State *L, int index);
int luaX_checksize(lua_State *L, int index);
// An integer argument (Lua's integer check) within [min, max].
int luaX_checkinteger(lua_State *L, int index, lua_Integer min, lua_Integer max);
bool luaX_optflag(lua_State *L, int index);
QString luaX_checkqstring(lua_State *L, int index);
// A text that goes to C code as a zero-terminated name: one holding a zero byte is refused.
const char *luaX_checkname(lua_State *L, int index);
// As luaX_checkname, with def (which may be null) for an absent or nil argument.
const char *luaX_optname(lua_State *L, int index, const char *def);
// luaL_checkoption comparing the whole text, so "red\0" is not "red".
int luaX_checkoption(lua_State *L, int index, const char *def, const char *const names[]);
void luaX_pushtext(lua_State *L, const QByteArray &text);

#endif
