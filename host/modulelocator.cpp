#include "modulelocator.h"

#include "luax/luax.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

static const char *const libraryExtension = "so";

static QByteArray locatorchunk()
{
    Q_INIT_RESOURCE(host);
    QFile file(":/host/locatemodules.lua");
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void locateModules(lua_State *L, const char *bundlepath, const char *bundlename,
                   const char *basepath, const char *paths, const char *cpaths)
{
    static const QByteArray chunk = locatorchunk();
    // Only a readable regular file is a bundle; the chunk gets no name for anything else (a
    // folder, a pipe that would block the read).
    const QFileInfo bundle(QFile::decodeName(bundlepath) + '/' + QFile::decodeName(bundlename));
    const bool isBundle = bundle.isFile() && bundle.isReadable();
    const int top = lua_gettop(L);
    int status = luaL_loadbuffer(L, chunk.constData(), chunk.size(), "=locatemodules");
    if (status == LUA_OK) {
        for (const char *argument : {bundlepath, isBundle ? bundlename : nullptr, basepath, paths,
                                     cpaths ? cpaths : paths, libraryExtension})
            lua_pushstring(L, argument);
        status = lua_pcall(L, 6, 0, 0);
    }
    if (status != LUA_OK)
        luaX_report(L, "Locate modules");
    fflush(stdout);
    lua_settop(L, top);
}
