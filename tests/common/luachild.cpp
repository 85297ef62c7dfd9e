// Runs one Lua file with qt.core loaded, as a process of its own, so tests can watch fatal
// errors, exit codes and the text written to standard output.
#include "luax/luax.h"
#include "luax/qtcoremodule.h"
#include "luax/scriptguard.h"

#include <QApplication>
#include <QFile>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
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
    luaX_dostring(L, chunk.constData(), nullptr);
    const int loopMs = argc > 2 ? atoi(argv[2]) : 0;
    if (loopMs > 0) {
        QTimer::singleShot(loopMs, &app, &QApplication::quit);
        app.exec();
    }
    fflush(stdout);
    lua_close(L);
    return 0;
}
