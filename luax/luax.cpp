#include "luax.h"

#include "scriptguard.h"

#include <QObject>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

// The registry itself maps an address to its cached handle, so finding a handle is one lookup.
// Owned and cached handles go into a weak-valued table beside it instead: held strongly, Lua
// could never collect them and so never delete their objects. That table's reference is kept in
// the state's extra space.
static int &ownedtableref(lua_State *L)
{
    static_assert(sizeof(int) <= LUA_EXTRASPACE, "the owned table reference must fit");
    return *static_cast<int *>(lua_getextraspace(L));
}

static int pushhandletable(lua_State *L, bool owned)
{
    if (!owned)
        return LUA_REGISTRYINDEX;
    lua_rawgeti(L, LUA_REGISTRYINDEX, ownedtableref(L));
    return lua_gettop(L);
}

static void pophandletable(lua_State *L, int table)
{
    if (table != LUA_REGISTRYINDEX)
        lua_remove(L, table);
}

static bool pushcached(lua_State *L, const void *object)
{
    if (lua_rawgetp(L, LUA_REGISTRYINDEX, object) == LUA_TUSERDATA)
        return true;
    lua_pop(L, 1);
    const int owned = pushhandletable(L, true);
    if (lua_rawgetp(L, owned, object) == LUA_TUSERDATA) {
        lua_remove(L, owned);
        return true;
    }
    lua_pop(L, 2);
    return false;
}

static void cachehandle(lua_State *L, const void *object, bool owned)
{
    const int table = pushhandletable(L, owned);
    lua_pushvalue(L, table == LUA_REGISTRYINDEX ? -1 : -2);
    lua_rawsetp(L, table, object);
    pophandletable(L, table);
}

static void callinit(lua_State *L)
{
    if (!lua_getmetatable(L, -1))
        return;
    if (lua_getfield(L, -1, "__init") == LUA_TNIL) {
        lua_pop(L, 2);
        return;
    }
    lua_remove(L, -2);
    lua_pushvalue(L, -2);
    lua_call(L, 1, 1);
    lua_pop(L, 1);
}

void luaX_pushobject(lua_State *L, void *object, const char *className, int flags)
{
    if ((flags & LUAX_OWNED) && !(flags & LUAX_CACHE))
        flags |= LUAX_NOCACHE;
    const bool cached = !(flags & LUAX_NOCACHE);
    if (cached && pushcached(L, object))
        return;
    // An object is only pushed by address when it already has a handle; never invent a
    // classless one.
    if (!className || !object) {
        lua_pushnil(L);
        return;
    }
    auto *handle = static_cast<LuaXHandle *>(lua_newuserdata(L, sizeof(LuaXHandle)));
    handle->object = object;
    handle->flags = flags;
    if (luaL_getmetatable(L, className) == LUA_TTABLE)
        lua_setmetatable(L, -2);
    else
        lua_pop(L, 1);
    if (cached)
        cachehandle(L, object, flags & LUAX_OWNED);
    callinit(L);
}

void luaX_pushqobject(lua_State *L, QObject *object)
{
    if (!object) {
        lua_pushnil(L);
        return;
    }
    luaX_pushobject(L, object, object->metaObject()->className(), LUAX_BORROWED);
}

static void forgetin(lua_State *L, void *object, bool owned)
{
    const int table = pushhandletable(L, owned);
    if (lua_rawgetp(L, table, object) == LUA_TUSERDATA)
        static_cast<LuaXHandle *>(lua_touserdata(L, -1))->object = nullptr;
    lua_pop(L, 1);
    lua_pushnil(L);
    lua_rawsetp(L, table, object);
    pophandletable(L, table);
}

void luaX_forget(lua_State *L, void *object)
{
    forgetin(L, object, false);
    forgetin(L, object, true);
}

void luaX_forgetborrowed(lua_State *L, void *object)
{
    forgetin(L, object, false);
}

// Walks from the value's metatable up the base chain until it meets the class table.
LuaXHandle *luaX_tohandle(lua_State *L, int index, const char *className)
{
    index = lua_absindex(L, index);
    if (lua_type(L, index) != LUA_TUSERDATA || !lua_getmetatable(L, index))
        return nullptr;
    luaL_getmetatable(L, className);
    for (int depth = 0; !lua_rawequal(L, -1, -2); ++depth) {
        if (depth == 64 || !lua_getmetatable(L, -2)) {
            lua_pop(L, 2);
            return nullptr;
        }
        lua_pushliteral(L, "__index");
        lua_rawget(L, -2);
        lua_replace(L, -4);
        lua_pop(L, 1);
    }
    lua_pop(L, 2);
    return static_cast<LuaXHandle *>(lua_touserdata(L, index));
}

void *luaX_testclass(lua_State *L, int index, const char *className)
{
    LuaXHandle *handle = luaX_tohandle(L, index, className);
    return handle ? handle->object : nullptr;
}

void *luaX_testclass(lua_State *L, int index, const char *className, int mask)
{
    LuaXHandle *handle = luaX_tohandle(L, index, className);
    if (!handle)
        return nullptr;
    if (mask && handle->flags && !(mask & handle->flags))
        return nullptr;
    return handle->object;
}

void *luaX_takeowned(lua_State *L, int index, const char *className)
{
    LuaXHandle *handle = luaX_tohandle(L, index, className);
    if (!handle || !(handle->flags & LUAX_OWNED))
        return nullptr;
    void *object = handle->object;
    handle->object = nullptr;
    return object;
}

// A handle of the class, dead or alive; anything else raises the class check's error.
static LuaXHandle *checkhandle(lua_State *L, int index, const char *className)
{
    LuaXHandle *handle = luaX_tohandle(L, index, className);
    if (!handle) {
        const char *type = luaL_typename(L, index);
        luaL_argerror(L, index, lua_pushfstring(L, "%s expected, got %s", className, type));
    }
    return handle;
}

void *luaX_checkclass(lua_State *L, int index, const char *className)
{
    LuaXHandle *handle = checkhandle(L, index, className);
    if (!handle->object)
        luaL_argerror(L, index, lua_pushfstring(L, "attempting to access deleted %s", className));
    return handle->object;
}

static void copybasefunctions(lua_State *L, int cls, const char *baseName)
{
    if (luaL_getmetatable(L, baseName) != LUA_TTABLE) {
        lua_pop(L, 1);
        return;
    }
    const int base = lua_gettop(L);
    lua_pushnil(L);
    while (lua_next(L, base)) {
        lua_pushvalue(L, -2);
        const bool present = lua_rawget(L, cls) != LUA_TNIL;
        lua_pop(L, 1);
        if (lua_isfunction(L, -1) && !present) {
            lua_pushvalue(L, -2);
            lua_pushvalue(L, -2);
            lua_rawset(L, cls);
        }
        lua_pop(L, 1);
    }
    lua_newtable(L);
    lua_pushvalue(L, base);
    lua_setfield(L, -2, "__index");
    lua_setmetatable(L, cls);
    lua_pop(L, 1);
}

static bool hasrawfield(lua_State *L, const char *field)
{
    lua_pushstring(L, field);
    const bool present = lua_rawget(L, -2) != LUA_TNIL;
    lua_pop(L, 1);
    return present;
}

// The per-instance field functions carry their class name, so that called directly with
// something other than a handle of the class they fail the class check.
static void setinstancefunction(lua_State *L, const char *field, lua_CFunction function,
                                const char *className)
{
    lua_pushstring(L, className);
    lua_pushcclosure(L, function, 1);
    lua_setfield(L, -2, field);
}

void luaX_createclass(lua_State *L, const char *className, const luaL_Reg *functions,
                      const char *baseName, bool instanceFields, bool publish)
{
    printf("luaX_createclass %s:%s\n", className, baseName ? baseName : "-");
    luaL_newmetatable(L, className);
    const int cls = lua_gettop(L);
    if (baseName)
        copybasefunctions(L, cls, baseName);
    if (functions)
        luaL_setfuncs(L, functions, 0);
    if (instanceFields) {
        if (hasrawfield(L, "__newindex"))
            printf("luaX_newindex not installed in class: __newindex already exists\n");
        else
            setinstancefunction(L, "__newindex", luaX_newindex, className);
        if (hasrawfield(L, "__index"))
            printf("luaX_index not installed in class; __index already exists\n");
        else
            setinstancefunction(L, "__index", luaX_index, className);
    }
    lua_pushstring(L, className);
    lua_setfield(L, cls, "__classname");
    if (!hasrawfield(L, "__index")) {
        lua_pushvalue(L, cls);
        lua_setfield(L, cls, "__index");
    }
    if (publish)
        lua_setfield(L, -2, className);
    else
        lua_pop(L, 1);
}

// Argument 1 of the per-instance field functions: a handle of their class (or, without a
// class name, any full userdata), never a value whose user value cannot be read.
static void checkinstance(lua_State *L)
{
    const char *className = lua_tostring(L, lua_upvalueindex(1));
    if (className)
        checkhandle(L, 1, className);
    else
        luaL_checktype(L, 1, LUA_TUSERDATA);
}

int luaX_index(lua_State *L)
{
    checkinstance(L);
    if (lua_getuservalue(L, 1) == LUA_TTABLE) {
        lua_pushvalue(L, 2);
        if (lua_rawget(L, -2) != LUA_TNIL)
            return 1;
    }
    if (!lua_getmetatable(L, 1))
        return 0;
    lua_pushvalue(L, 2);
    lua_gettable(L, -2);
    return 1;
}

int luaX_newindex(lua_State *L)
{
    checkinstance(L);
    if (lua_getuservalue(L, 1) != LUA_TTABLE) {
        lua_pop(L, 1);
        lua_newtable(L);
        lua_pushvalue(L, -1);
        lua_setuservalue(L, 1);
    }
    lua_pushvalue(L, 2);
    lua_pushvalue(L, 3);
    lua_rawset(L, -3);
    return 0;
}

int luaX_pushargs(lua_State *L, const char *format, va_list args, int *extraResults)
{
    int pushed = 0;
    int extra = 0;
    for (const char *p = format; p && *p; ++p) {
        if (*p != '%')
            continue;
        const char directive = *++p;
        if (!directive)
            break;
        switch (directive) {
        case 'd':
            lua_pushinteger(L, va_arg(args, int));
            ++pushed;
            break;
        case 'f':
            lua_pushnumber(L, va_arg(args, double));
            ++pushed;
            break;
        case 's':
            lua_pushstring(L, va_arg(args, const char *));
            ++pushed;
            break;
        case 'i':
            lua_pushvalue(L, va_arg(args, int));
            ++pushed;
            break;
        case 'o':
            luaX_pushobject(L, va_arg(args, void *), nullptr, LUAX_BORROWED);
            ++pushed;
            break;
        case 'r':
            extra = va_arg(args, int);
            break;
        default:
            if (directive >= '0' && directive <= '9')
                extra = directive - '0';
            break;
        }
    }
    if (extraResults)
        *extraResults = extra;
    return pushed;
}

int luaX_pushargsf(lua_State *L, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int pushed = luaX_pushargs(L, format, args, nullptr);
    va_end(args);
    return pushed;
}

static luaX_FatalHandler fatalHandler = nullptr;
static luaX_ErrorHandler errorHandler = nullptr;
static const lua_State *haltedState = nullptr;

void luaX_setfatalhandler(luaX_FatalHandler handler)
{
    fatalHandler = handler;
}

void luaX_seterrorhandler(luaX_ErrorHandler handler)
{
    errorHandler = handler;
}

void luaX_reporterror(lua_State *L, const char *callback, const char *message)
{
    if (errorHandler)
        errorHandler(L, callback, message ? message : "(error object is not a string)");
}

void luaX_sethalted(lua_State *L)
{
    haltedState = L;
}

bool luaX_halted(const lua_State *L)
{
    return L == haltedState;
}

int luaX_vpcallat(lua_State *L, int handler, int nargs, int nresults, const char *format,
                  va_list args)
{
    int extra = 0;
    const int pushed = luaX_pushargs(L, format, args, &extra);
    return luaX_pcallat(L, handler, nargs + pushed, nresults + extra, format);
}

int luaX_pcallat(lua_State *L, int handler, int nargs, int nresults, const char *format)
{
    ScriptGuard::enter(L, ScriptGuard::Call);
    const int status = lua_pcall(L, nargs, nresults, handler);
    ScriptGuard::leave();
    if (status == LUA_OK)
        return 0;
    if (format && !strchr(format, '!'))
        return status;
    if (!fatalHandler) {
        luaX_report(L, "Call failed");
        exit(1);
    }
    lua_pushvalue(L, -1);
    luaX_report(L, "Call failed");
    fatalHandler(L, lua_tostring(L, -1));
    return status;
}

int luaX_vpcall(lua_State *L, int nargs, int nresults, const char *format, va_list args)
{
    const int handler = lua_gettop(L) - nargs;
    lua_pushcfunction(L, luaX_traceback);
    lua_insert(L, handler);
    const int status = luaX_vpcallat(L, handler, nargs, nresults, format, args);
    lua_remove(L, handler);
    return status;
}

int luaX_pcall(lua_State *L, int nargs, int nresults, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int status = luaX_vpcall(L, nargs, nresults, format, args);
    va_end(args);
    return status;
}

// Calls the method of the handle on top of the stack, which it pops, and drops the error of a
// failed call (its traceback has been printed).
static int callmethod(lua_State *L, const char *method, const char *format, va_list args)
{
    if (luaX_halted(L) || !luaL_getmetafield(L, -1, "__index")) {
        lua_pop(L, 1);
        return 0;
    }
    lua_pop(L, 1);
    if (lua_getfield(L, -1, method) == LUA_TNIL) {
        lua_pop(L, 2);
        return 0;
    }
    lua_insert(L, -2);
    const int status = luaX_vpcall(L, 1, 0, format, args);
    if (status == LUA_OK)
        return status;
    if (format && !strchr(format, '!'))
        luaX_reporterror(L, method, lua_tostring(L, -1));
    lua_pop(L, 1);
    return status;
}

int luaX_callmethod(lua_State *L, void *object, const char *method, const char *format, ...)
{
    luaX_pushobject(L, object, nullptr, LUAX_BORROWED);
    va_list args;
    va_start(args, format);
    const int status = callmethod(L, method, format, args);
    va_end(args);
    return status;
}

int luaX_callmethodat(lua_State *L, int index, const char *method, const char *format, ...)
{
    lua_pushvalue(L, index);
    va_list args;
    va_start(args, format);
    const int status = callmethod(L, method, format, args);
    va_end(args);
    return status;
}

int luaX_dostring(lua_State *L, const char *chunk, const char *format, ...)
{
    const int status = luaL_loadstring(L, chunk);
    if (status != LUA_OK) {
        printf("[%s]\n", lua_tostring(L, -1));
        fflush(stdout);
        lua_pop(L, 1);
        return status;
    }
    va_list args;
    va_start(args, format);
    const int result = luaX_vpcall(L, 0, 0, format, args);
    va_end(args);
    return result;
}

int luaX_traceback(lua_State *L)
{
    if (!lua_isstring(L, 1))
        return 1;
    printf("ERROR(traceback): %s\n", lua_tostring(L, 1));
    if (lua_getglobal(L, "debug") != LUA_TTABLE ||
        lua_getfield(L, -1, "traceback") != LUA_TFUNCTION) {
        lua_settop(L, 1);
        return 1;
    }
    lua_pushvalue(L, 1);
    lua_pushinteger(L, 2);
    lua_call(L, 2, 1);
    printf("ERROR(traceback): %s\n", lua_tostring(L, -1));
    return 1;
}

void luaX_report(lua_State *L, const char *label)
{
    const char *text = lua_tostring(L, -1);
    if (label)
        printf("Error: %s\n", label);
    if (text)
        printf("[%s]\n", text);
    else
        printf("[(error object is a %s value)]\n", luaL_typename(L, -1));
    fflush(stdout);
    lua_pop(L, 1);
}

// Leftovers on the base level are dropped; while a Lua function is running (an event sent from
// inside a call, a nested event loop) the stack belongs to that call and is left alone.
void luaX_clearstack(lua_State *L)
{
    lua_Debug running;
    if (!lua_getstack(L, 0, &running))
        lua_settop(L, 0);
}

int luaX_truncate(lua_Number n)
{
    if (std::isnan(n))
        return 0;
    if (n <= std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    if (n >= std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    return static_cast<int>(n);
}

int luaX_checkrange(lua_State *L, int index, int min, int max)
{
    const lua_Number n = luaL_checknumber(L, index);
    // Written so that NaN fails too.
    if (!(n > min - 1.0 && n < max + 1.0))
        luaL_argerror(L, index, "out of range");
    return static_cast<int>(n);
}

int luaX_checkint(lua_State *L, int index)
{
    return luaX_checkrange(L, index, std::numeric_limits<int>::min(),
                           std::numeric_limits<int>::max());
}

int luaX_checkclamped(lua_State *L, int index, int min, int max)
{
    const lua_Number n = luaL_checknumber(L, index);
    if (std::isnan(n))
        return qBound(min, 0, max);
    if (n <= min)
        return min;
    if (n >= max)
        return max;
    return static_cast<int>(n);
}

int luaX_checkcoord(lua_State *L, int index)
{
    return luaX_checkrange(L, index, LUAX_MINCOORD, LUAX_MAXCOORD);
}

int luaX_checksize(lua_State *L, int index)
{
    return luaX_checkrange(L, index, 0, LUAX_MAXSIZE);
}

int luaX_checkinteger(lua_State *L, int index, lua_Integer min, lua_Integer max)
{
    const lua_Integer value = luaL_checkinteger(L, index);
    if (value < min || value > max)
        luaL_argerror(L, index, "out of range");
    return static_cast<int>(value);
}

int luaX_optint(lua_State *L, int index, int def)
{
    return lua_isnoneornil(L, index) ? def : luaX_checkint(L, index);
}

bool luaX_optflag(lua_State *L, int index)
{
    return lua_isnone(L, index) || lua_toboolean(L, index);
}

QString luaX_checkqstring(lua_State *L, int index)
{
    size_t length;
    const char *text = luaL_checklstring(L, index, &length);
    if (length > static_cast<size_t>(std::numeric_limits<int>::max()))
        luaL_argerror(L, index, "text too long");
    return QString::fromUtf8(text, static_cast<int>(length));
}

static const char *checkzeroless(lua_State *L, int index, const char *text, size_t length)
{
    if (strlen(text) != length)
        luaL_argerror(L, index, "text holds a zero byte");
    return text;
}

const char *luaX_checkname(lua_State *L, int index)
{
    size_t length;
    const char *text = luaL_checklstring(L, index, &length);
    return checkzeroless(L, index, text, length);
}

const char *luaX_optname(lua_State *L, int index, const char *def)
{
    size_t length;
    const char *text = luaL_optlstring(L, index, def, &length);
    return text ? checkzeroless(L, index, text, length) : nullptr;
}

int luaX_checkoption(lua_State *L, int index, const char *def, const char *const names[])
{
    size_t length;
    const char *name =
        def ? luaL_optlstring(L, index, def, &length) : luaL_checklstring(L, index, &length);
    for (int i = 0; names[i]; ++i)
        if (strlen(names[i]) == length && memcmp(names[i], name, length) == 0)
            return i;
    return luaL_argerror(L, index, lua_pushfstring(L, "invalid option '%s'", name));
}

void luaX_pushtext(lua_State *L, const QByteArray &text)
{
    lua_pushlstring(L, text.constData(), static_cast<size_t>(text.size()));
}

// A field that is missing or not a number counts as 0; one outside the limits is an error.
static int rectfield(lua_State *L, int index, int argument, const char *field, int min, int max)
{
    lua_getfield(L, index, field);
    const lua_Number n = lua_tonumber(L, -1);
    lua_pop(L, 1);
    if (!(n > min - 1.0 && n < max + 1.0))
        luaL_argerror(L, argument, lua_pushfstring(L, "field '%s' out of range", field));
    return static_cast<int>(n);
}

QRect luaX_torect(lua_State *L, int index)
{
    if (!lua_istable(L, index))
        return QRect();
    index = lua_absindex(L, index);
    const int x = rectfield(L, index, index, "x", LUAX_MINCOORD, LUAX_MAXCOORD);
    const int y = rectfield(L, index, index, "y", LUAX_MINCOORD, LUAX_MAXCOORD);
    const int w = rectfield(L, index, index, "w", -LUAX_MAXSIZE, LUAX_MAXSIZE);
    const int h = rectfield(L, index, index, "h", -LUAX_MAXSIZE, LUAX_MAXSIZE);
    return QRect(x, y, w, h);
}

QVariant luaX_tovariant(lua_State *L, int index)
{
    switch (lua_type(L, index)) {
    case LUA_TNUMBER: {
        // lua_tostring converts in place; convert a copy so the caller's value stays a number
        lua_pushvalue(L, index);
        const QString text = QString::fromUtf8(lua_tostring(L, -1));
        lua_pop(L, 1);
        return text;
    }
    case LUA_TSTRING:
        return luaX_checkqstring(L, index);
    case LUA_TBOOLEAN:
        return lua_toboolean(L, index) ? 1 : 0;
    case LUA_TNIL:
    case LUA_TNONE:
        return QVariant();
    default:
        return 0.0;
    }
}

int luaX_pushvariant(lua_State *L, const QVariant &value)
{
    switch (value.type()) {
    case QVariant::Bool:
        lua_pushboolean(L, value.toBool());
        break;
    case QVariant::Int:
    case QVariant::UInt:
    case QVariant::LongLong:
    case QVariant::ULongLong:
        lua_pushinteger(L, value.toLongLong());
        break;
    case QVariant::Double:
        lua_pushnumber(L, value.toDouble());
        break;
    case QVariant::String:
        luaX_pushtext(L, value.toString().toLocal8Bit());
        break;
    default:
        lua_pushnil(L);
        break;
    }
    return 1;
}

static const char *const colorNames[] = {
    "off",      "on",          "white",      "black",       "darkGray",  "darkgray",
    "gray",     "lightgray",   "lightblue",  "red",         "green",     "blue",
    "cyan",     "magenta",     "yellow",     "darkRed",     "darkGreen", "darkBlue",
    "darkCyan", "darkMagenta", "darkYellow", "transparent", "purple",    "violet",
    "brown",    "orange",      "darkgreen",  "gold",        nullptr,
};

static const QColor colorTable[] = {
    Qt::white,       Qt::black,        Qt::white,
    Qt::black,       Qt::darkGray,     Qt::darkGray,
    Qt::gray,        Qt::lightGray,    QColor("lightSteelBlue"),
    Qt::red,         Qt::green,        Qt::blue,
    Qt::cyan,        Qt::magenta,      Qt::yellow,
    Qt::darkRed,     Qt::darkGreen,    Qt::darkBlue,
    Qt::darkCyan,    Qt::darkMagenta,  Qt::darkYellow,
    Qt::transparent, QColor("purple"), QColor("violet"),
    QColor("brown"), QColor("orange"), QColor("darkGreen"),
    QColor("gold"),
};

static lua_Integer tocolorvalue(lua_State *L, int index)
{
    int isInteger = 0;
    const lua_Integer value = lua_tointegerx(L, index, &isInteger);
    if (isInteger)
        return value;
    const lua_Number number = lua_tonumber(L, index);
    if (std::isnan(number) || std::fabs(number) >= 9.2e18)
        return 0;
    return static_cast<lua_Integer>(number);
}

QColor luaX_tocolor(lua_State *L, int index, const char *defaultName)
{
    if (lua_isnumber(L, index)) {
        const auto value = static_cast<quint32>(tocolorvalue(L, index));
        const int transparency = (value >> 24) & 0xFF;
        return QColor((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF, 255 - transparency);
    }
    return colorTable[luaX_checkoption(L, index, defaultName, colorNames)];
}

static int lloadstring(lua_State *L)
{
    size_t length;
    const char *chunk = luaL_checklstring(L, 1, &length);
    const char *name = luaL_optstring(L, 2, chunk);
    if (luaL_loadbuffer(L, chunk, length, name) == LUA_OK)
        return 1;
    lua_pushnil(L);
    lua_insert(L, -2);
    return 2;
}

// The guard hooks the coroutine a callback runs in, so a loop inside one is stopped as well.
static int lresume(lua_State *L)
{
    lua_State *coroutine = lua_tothread(L, 1);
    luaL_argcheck(L, coroutine, 1, "coroutine expected");
    const int count = lua_gettop(L);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_State *outer = ScriptGuard::resuming(coroutine);
    const int status = lua_pcall(L, count, LUA_MULTRET, 0);
    ScriptGuard::resumed(outer);
    if (status != LUA_OK)
        return lua_error(L);
    return lua_gettop(L);
}

// As the library's wrap, on the resume above: an error in the coroutine goes on in the caller,
// a text one with the caller's position in front.
static int lwrapped(lua_State *L)
{
    lua_pushvalue(L, lua_upvalueindex(2));
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_rotate(L, 1, 2);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    if (lua_toboolean(L, 1)) {
        lua_remove(L, 1);
        return lua_gettop(L);
    }
    if (lua_type(L, 2) == LUA_TSTRING) {
        luaL_where(L, 1);
        lua_insert(L, 2);
        lua_concat(L, 2);
    }
    lua_settop(L, 2);
    return lua_error(L);
}

static int lwrap(lua_State *L)
{
    luaL_checktype(L, 1, LUA_TFUNCTION);
    lua_State *coroutine = lua_newthread(L);
    lua_pushvalue(L, 1);
    lua_xmove(L, coroutine, 1);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_pushcclosure(L, lwrapped, 2);
    return 1;
}

static void guardcoroutines(lua_State *L)
{
    lua_getglobal(L, "coroutine");
    lua_getfield(L, -1, "resume");
    lua_pushcclosure(L, lresume, 1);
    lua_pushvalue(L, -1);
    lua_setfield(L, -3, "resume");
    lua_pushcclosure(L, lwrap, 1);
    lua_setfield(L, -2, "wrap");
    lua_pop(L, 1);
}

// The first object with a finalizer is finalized last when the state closes: the guard watches
// every callback made while the others go.
static int lguard_gc(lua_State *L)
{
    ScriptGuard::detach(L);
    return 0;
}

static void attachguard(lua_State *L)
{
    ScriptGuard::attach(L);
    lua_newuserdata(L, 1);
    lua_newtable(L);
    lua_pushcfunction(L, lguard_gc);
    lua_setfield(L, -2, "__gc");
    lua_setmetatable(L, -2);
    luaL_ref(L, LUA_REGISTRYINDEX);
}

lua_State *luaX_newstate()
{
    lua_State *L = luaL_newstate();
    attachguard(L);
    lua_newtable(L);
    lua_newtable(L);
    lua_pushliteral(L, "v");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    ownedtableref(L) = luaL_ref(L, LUA_REGISTRYINDEX);
    luaL_openlibs(L);
    guardcoroutines(L);
    lua_pushcfunction(L, lloadstring);
    lua_setglobal(L, "loadstring");
    const int top = lua_gettop(L);
    if (luaL_loadstring(L, "return setmetatable({}, {__mode='k'})") != LUA_OK ||
        lua_pcall(L, 0, 1, 0) != LUA_OK)
        luaX_report(L, "Set weak keys for _UV");
    else
        lua_setfield(L, LUA_REGISTRYINDEX, "_UV");
    lua_settop(L, top);
    return L;
}

void luaX_preload(lua_State *L, const luaL_Reg *modules)
{
    luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_PRELOAD_TABLE);
    for (; modules->func; ++modules) {
        lua_pushcfunction(L, modules->func);
        lua_setfield(L, -2, modules->name);
    }
    lua_pop(L, 1);
}
