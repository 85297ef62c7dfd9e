// Runs one Lua file with qt.core (as the global qt), player.core and recorder.core to require,
// as a process of its own: for tests that need their own environment or standard output.
//   media-child <file.lua> <milliseconds of event loop>
#include "luax/luax.h"
#include "luax/qtcoremodule.h"
#include "luax/scriptguard.h"
#include "media/audiorecorder.h"
#include "media/mediaplayer.h"

#include <QApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

static const luaL_Reg mediaModules[] = {
    {"player.core", luaopen_player_core},
    {"recorder.core", luaopen_recorder_core},
    {nullptr, nullptr},
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    const QByteArray chunk = file.readAll();
    lua_State *L = luaX_newstate();
    // Under a sanitizer native calls are slow: tests of the script guard set budgets of their own.
    ScriptGuard::setLimits(L, 20000, 20000);
    luaL_requiref(L, "qt.core", luaopen_qt_core, 0);
    lua_setglobal(L, "qt");
    luaX_preload(L, mediaModules);
    luaX_dostring(L, chunk.constData(), nullptr);
    QTimer::singleShot(atoi(argv[2]), &app, &QApplication::quit);
    app.exec();
    fflush(stdout);
    lua_close(L);
    return 0;
}
