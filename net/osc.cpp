#include "osc.h"

#include "luax/luax.h"

#include <lo/lo.h>
#include <lo/lo_lowlevel.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

static const char bundleHead[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
static const int maxBundleDepth = 8;

// A value of an explicit-type table ({type = 'd', 2.5}): the field at 1, or at 2 for a time
// tag's fraction. Raw reads only: nothing here may raise an error while a message is held.
static bool rawnumber(lua_State *L, int table, int at, lua_Number *number)
{
    lua_rawgeti(L, table, at);
    int isnum = 0;
    *number = lua_tonumberx(L, -1, &isnum);
    lua_pop(L, 1);
    return isnum != 0;
}

static bool rawinteger(lua_State *L, int table, int at, lua_Integer *integer)
{
    lua_rawgeti(L, table, at);
    int isint = 0;
    *integer = lua_tointegerx(L, -1, &isint);
    lua_pop(L, 1);
    return isint != 0;
}

// A string holding no zero byte, as OSC strings cannot.
static const char *plainstring(lua_State *L, int index)
{
    size_t length;
    const char *text = lua_tolstring(L, index, &length);
    return text && strlen(text) == length ? text : nullptr;
}

static bool addtyped(lua_State *L, lo_message m, int table)
{
    lua_pushliteral(L, "type");
    lua_rawget(L, table);
    const char *type = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "";
    const char kind = strlen(type) == 1 ? type[0] : '?';
    lua_pop(L, 1);
    lua_Number n;
    lua_Integer i;
    switch (kind) {
    case 'i':
        return rawinteger(L, table, 1, &i) && i >= INT32_MIN && i <= INT32_MAX &&
               lo_message_add_int32(m, static_cast<int32_t>(i)) == 0;
    case 'h':
        return rawinteger(L, table, 1, &i) && lo_message_add_int64(m, i) == 0;
    case 'f':
        return rawnumber(L, table, 1, &n) && lo_message_add_float(m, static_cast<float>(n)) == 0;
    case 'd':
        return rawnumber(L, table, 1, &n) && lo_message_add_double(m, n) == 0;
    case 's': {
        lua_rawgeti(L, table, 1);
        const char *text = lua_type(L, -1) == LUA_TSTRING ? plainstring(L, -1) : nullptr;
        const bool added = text && lo_message_add_string(m, text) == 0;
        lua_pop(L, 1);
        return added;
    }
    case 'b': {
        lua_rawgeti(L, table, 1);
        size_t length = 0;
        const char *data = lua_type(L, -1) == LUA_TSTRING ? lua_tolstring(L, -1, &length) : nullptr;
        bool added = false;
        if (data && length <= static_cast<size_t>(INT32_MAX) / 2) {
            lo_blob blob = lo_blob_new(static_cast<int32_t>(length), data);
            added = blob && lo_message_add_blob(m, blob) == 0;
            lo_blob_free(blob);
        }
        lua_pop(L, 1);
        return added;
    }
    case 't': {
        lua_Integer sec, frac;
        if (!rawinteger(L, table, 1, &sec) || !rawinteger(L, table, 2, &frac) || sec < 0 ||
            sec > UINT32_MAX || frac < 0 || frac > UINT32_MAX)
            return false;
        const lo_timetag tag = {static_cast<uint32_t>(sec), static_cast<uint32_t>(frac)};
        return lo_message_add_timetag(m, tag) == 0;
    }
    case 'T':
        return lo_message_add_true(m) == 0;
    case 'F':
        return lo_message_add_false(m) == 0;
    case 'N':
        return lo_message_add_nil(m) == 0;
    case 'I':
        return lo_message_add_infinitum(m) == 0;
    default:
        return false;
    }
}

// Integers that fit go as 'i', larger ones as 'h'; floats as 'f'.
static bool addvalue(lua_State *L, lo_message m, int index)
{
    switch (lua_type(L, index)) {
    case LUA_TNIL:
        return lo_message_add_nil(m) == 0;
    case LUA_TBOOLEAN:
        return (lua_toboolean(L, index) ? lo_message_add_true(m) : lo_message_add_false(m)) == 0;
    case LUA_TNUMBER: {
        if (!lua_isinteger(L, index))
            return lo_message_add_float(m, static_cast<float>(lua_tonumber(L, index))) == 0;
        const lua_Integer i = lua_tointeger(L, index);
        if (i >= INT32_MIN && i <= INT32_MAX)
            return lo_message_add_int32(m, static_cast<int32_t>(i)) == 0;
        return lo_message_add_int64(m, i) == 0;
    }
    case LUA_TSTRING: {
        const char *text = plainstring(L, index);
        return text && lo_message_add_string(m, text) == 0;
    }
    case LUA_TTABLE:
        return addtyped(L, m, index);
    default:
        return false;
    }
}

// The packet, or nil and the reason; the argument that cannot be sent is named.
static int losc_encode(lua_State *L)
{
    const char *address = luaL_checkstring(L, 1);
    if (address[0] != '/' || !plainstring(L, 1))
        return luaL_argerror(L, 1, "an OSC address starts with '/' and holds no zero byte");
    const int count = lua_gettop(L);
    lo_message m = lo_message_new();
    int bad = 0;
    for (int i = 2; i <= count && !bad; ++i)
        if (!addvalue(L, m, i))
            bad = i;
    size_t size = 0;
    void *packet = bad ? nullptr : lo_message_serialise(m, address, nullptr, &size);
    lo_message_free(m);
    if (bad)
        return luaL_argerror(L, bad, "not an OSC value");
    if (!packet)
        return luaL_error(L, "the OSC message could not be made");
    lua_pushlstring(L, static_cast<const char *>(packet), size);
    free(packet);
    return 1;
}

static void pushtimetag(lua_State *L, uint32_t sec, uint32_t frac)
{
    lua_createtable(L, 2, 1);
    lua_pushliteral(L, "t");
    lua_setfield(L, -2, "type");
    lua_pushinteger(L, sec);
    lua_rawseti(L, -2, 1);
    lua_pushinteger(L, frac);
    lua_rawseti(L, -2, 2);
}

static void pushtyped(lua_State *L, const char *type, const char *data, size_t size)
{
    lua_createtable(L, 1, 1);
    lua_pushstring(L, type);
    lua_setfield(L, -2, "type");
    lua_pushlstring(L, data, size);
    lua_rawseti(L, -2, 1);
}

// liblo's arguments lie in the packet as it came, aligned to four bytes only: they are copied
// out rather than read through the union, which wants eight.
template <class T> static T load(const char *at)
{
    T value;
    memcpy(&value, at, sizeof value);
    return value;
}

static void pusharg(lua_State *L, char type, const lo_arg *arg)
{
    const char *at = reinterpret_cast<const char *>(arg);
    switch (type) {
    case 'i':
        lua_pushinteger(L, load<int32_t>(at));
        break;
    case 'h':
        lua_pushinteger(L, load<int64_t>(at));
        break;
    case 'f':
        lua_pushnumber(L, load<float>(at));
        break;
    case 'd':
        lua_pushnumber(L, load<double>(at));
        break;
    case 's':
    case 'S':
        lua_pushstring(L, at);
        break;
    case 'c':
        lua_pushlstring(L, at, 1);
        break;
    case 'b':
        pushtyped(L, "b", at + sizeof(int32_t), static_cast<size_t>(load<int32_t>(at)));
        break;
    case 'm':
        pushtyped(L, "m", at, 4);
        break;
    case 't':
        pushtimetag(L, load<uint32_t>(at), load<uint32_t>(at + sizeof(uint32_t)));
        break;
    case 'T':
        lua_pushboolean(L, 1);
        break;
    case 'F':
        lua_pushboolean(L, 0);
        break;
    case 'I':
        lua_createtable(L, 0, 1);
        lua_pushliteral(L, "I");
        lua_setfield(L, -2, "type");
        break;
    default:
        lua_pushnil(L);
        break;
    }
}

static uint32_t bigendian(const unsigned char *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// liblo takes a packet's bytes as writable: it gets a copy, on the stack when it is small.
struct PacketCopy {
    PacketCopy(const char *data, size_t size) : bytes(size <= sizeof small ? small : malloc(size))
    {
        memcpy(bytes, data, size);
    }
    ~PacketCopy()
    {
        if (bytes != small)
            free(bytes);
    }
    PacketCopy(const PacketCopy &) = delete;
    PacketCopy &operator=(const PacketCopy &) = delete;

    char small[512];
    void *bytes;
};

// Pushes the address and the arguments and returns how many, or pushes the reason and
// returns -1. No Lua error is raised while liblo's message is held.
static int pushmessage(lua_State *L, const char *data, size_t size)
{
    int result = 0;
    const PacketCopy copy(data, size);
    lo_message m = lo_message_deserialise(copy.bytes, size, &result);
    if (!m) {
        lua_pushfstring(L, "malformed OSC packet (liblo error %d)", result);
        return -1;
    }
    const char *types = lo_message_get_types(m);
    const int count = lo_message_get_argc(m);
    if (!lua_checkstack(L, count + 2)) {
        lo_message_free(m);
        lua_pushliteral(L, "too many OSC arguments");
        return -1;
    }
    lua_pushstring(L, static_cast<const char *>(copy.bytes));
    lo_arg **argv = lo_message_get_argv(m);
    for (int i = 0; i < count; ++i)
        pusharg(L, types[i], argv[i]);
    lo_message_free(m);
    return count + 1;
}

static int pushpacket(lua_State *L, const char *data, size_t size, int depth);

// "#bundle", its time tag, then each element as a table: {address, arguments...}, or for a
// bundle inside {"#bundle", time tag, elements...}.
static int pushbundle(lua_State *L, const char *data, size_t size, int depth)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    if (size < 16 || depth > maxBundleDepth) {
        lua_pushstring(L, size < 16 ? "malformed OSC bundle" : "OSC bundles nested too deep");
        return -1;
    }
    const int top = lua_gettop(L);
    lua_pushstring(L, "#bundle");
    pushtimetag(L, bigendian(bytes + 8), bigendian(bytes + 12));
    for (size_t at = 16; at < size;) {
        const uint32_t length = at + 4 <= size ? bigendian(bytes + at) : 0;
        if (length == 0 || length % 4 || length > size - at - 4 || !lua_checkstack(L, 4)) {
            lua_settop(L, top);
            lua_pushliteral(L, "malformed OSC bundle element");
            return -1;
        }
        lua_newtable(L);
        const int count = pushpacket(L, data + at + 4, length, depth + 1);
        if (count < 0) {
            lua_replace(L, top + 1);
            lua_settop(L, top + 1);
            return -1;
        }
        for (int i = count; i >= 1; --i)
            lua_rawseti(L, -(i + 1), i);
        at += 4 + length;
    }
    return lua_gettop(L) - top;
}

static int pushpacket(lua_State *L, const char *data, size_t size, int depth)
{
    if (size >= sizeof bundleHead && memcmp(data, bundleHead, sizeof bundleHead) == 0)
        return pushbundle(L, data, size, depth);
    return pushmessage(L, data, size);
}

static int losc_decode(lua_State *L)
{
    size_t size;
    const char *data = luaL_checklstring(L, 1, &size);
    lua_settop(L, 1);
    const int count = pushpacket(L, data, size, 0);
    if (count >= 0)
        return count;
    lua_pushnil(L);
    lua_insert(L, -2);
    return 2;
}

// A bundle of packets made by encode (or bundle), to be carried out at the time tag:
// {type = 't', seconds, fraction}, or nil for "at once".
static int losc_bundle(lua_State *L)
{
    uint32_t sec = 0;
    uint32_t frac = 1;
    if (!lua_isnoneornil(L, 1)) {
        luaL_checktype(L, 1, LUA_TTABLE);
        lua_Integer s, f;
        if (!rawinteger(L, 1, 1, &s) || !rawinteger(L, 1, 2, &f) || s < 0 || s > UINT32_MAX ||
            f < 0 || f > UINT32_MAX)
            return luaL_argerror(L, 1, "a time tag is {type = 't', seconds, fraction}");
        sec = static_cast<uint32_t>(s);
        frac = static_cast<uint32_t>(f);
    }
    const int count = lua_gettop(L);
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    luaL_addlstring(&b, bundleHead, sizeof bundleHead);
    const uint32_t words[2] = {sec, frac};
    for (uint32_t word : words)
        for (int shift = 24; shift >= 0; shift -= 8)
            luaL_addchar(&b, static_cast<char>(word >> shift & 0xFF));
    for (int i = 2; i <= count; ++i) {
        size_t length;
        const char *packet = luaL_checklstring(L, i, &length);
        if (length == 0 || length % 4 || length > INT32_MAX)
            return luaL_argerror(L, i, "not an OSC packet");
        for (int shift = 24; shift >= 0; shift -= 8)
            luaL_addchar(&b, static_cast<char>(length >> shift & 0xFF));
        luaL_addlstring(&b, packet, length);
    }
    luaL_pushresult(&b);
    return 1;
}

// Over TCP a packet needs a frame: OSC 1.0's size in front (the default), or OSC 1.1's SLIP.
static const char *const framings[] = {"size", "slip", nullptr};
static const unsigned char slipEnd = 0xC0;
static const unsigned char slipEsc = 0xDB;
static const unsigned char slipEscEnd = 0xDC;
static const unsigned char slipEscEsc = 0xDD;
// A size prefix larger than this is taken for a stream that is not framed OSC.
static const uint32_t maxFramedPacket = 16 * 1024 * 1024;

static int losc_frame(lua_State *L)
{
    size_t length;
    const auto *packet = reinterpret_cast<const unsigned char *>(luaL_checklstring(L, 1, &length));
    const bool slip = luaX_checkoption(L, 2, "size", framings) == 1;
    if (length > maxFramedPacket)
        return luaL_argerror(L, 1, "packet too long");
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    if (!slip) {
        for (int shift = 24; shift >= 0; shift -= 8)
            luaL_addchar(&b, static_cast<char>(length >> shift & 0xFF));
        luaL_addlstring(&b, reinterpret_cast<const char *>(packet), length);
        luaL_pushresult(&b);
        return 1;
    }
    luaL_addchar(&b, static_cast<char>(slipEnd));
    for (size_t i = 0; i < length; ++i) {
        if (packet[i] == slipEnd || packet[i] == slipEsc) {
            luaL_addchar(&b, static_cast<char>(slipEsc));
            luaL_addchar(&b, static_cast<char>(packet[i] == slipEnd ? slipEscEnd : slipEscEsc));
        } else {
            luaL_addchar(&b, static_cast<char>(packet[i]));
        }
    }
    luaL_addchar(&b, static_cast<char>(slipEnd));
    luaL_pushresult(&b);
    return 1;
}

// The packets complete in the stream so far, in a table, and the bytes left for the next read;
// or nil and the reason for a stream that is not framed OSC.
static int unframesize(lua_State *L, const unsigned char *data, size_t length)
{
    lua_newtable(L);
    size_t at = 0;
    for (int n = 1; at + 4 <= length; ++n) {
        const uint32_t size = bigendian(data + at);
        if (size > maxFramedPacket) {
            lua_pushnil(L);
            lua_pushliteral(L, "not framed OSC: a packet size beyond 16 MiB");
            return 2;
        }
        if (at + 4 + size > length)
            break;
        lua_pushlstring(L, reinterpret_cast<const char *>(data + at + 4), size);
        lua_rawseti(L, -2, n);
        at += 4 + size;
    }
    lua_pushlstring(L, reinterpret_cast<const char *>(data + at), length - at);
    return 2;
}

static int unframeslip(lua_State *L, const unsigned char *data, size_t length)
{
    lua_newtable(L);
    size_t start = 0;
    int n = 0;
    for (size_t i = 0; i < length; ++i) {
        if (data[i] != slipEnd)
            continue;
        if (i > start) {
            luaL_Buffer b;
            luaL_buffinit(L, &b);
            for (size_t j = start; j < i; ++j) {
                const bool escaped = data[j] == slipEsc && j + 1 < i;
                const unsigned char c = escaped ? data[++j] : data[j];
                luaL_addchar(&b, static_cast<char>(escaped && c == slipEscEnd   ? slipEnd
                                                   : escaped && c == slipEscEsc ? slipEsc
                                                                                : c));
            }
            luaL_pushresult(&b);
            lua_rawseti(L, -2, ++n);
        }
        start = i + 1;
    }
    lua_pushlstring(L, reinterpret_cast<const char *>(data + start), length - start);
    return 2;
}

static int losc_unframe(lua_State *L)
{
    size_t length;
    const auto *data = reinterpret_cast<const unsigned char *>(luaL_checklstring(L, 1, &length));
    const bool slip = luaX_checkoption(L, 2, "size", framings) == 1;
    return slip ? unframeslip(L, data, length) : unframesize(L, data, length);
}

static const luaL_Reg osc_functions[] = {
    {"encode", losc_encode}, {"decode", losc_decode},   {"bundle", losc_bundle},
    {"frame", losc_frame},   {"unframe", losc_unframe}, {nullptr, nullptr},
};

void pushOscTable(lua_State *L)
{
    luaL_newlib(L, osc_functions);
}
