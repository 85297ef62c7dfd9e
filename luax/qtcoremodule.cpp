#include "qtcoremodule.h"

#include "debugoutput.h"
#include "luax.h"
#include "objecttracker.h"
#include "qtcore/font.h"
#include "qtcore/painter.h"
#include "qtcore/pushbutton.h"
#include "qtcore/textedit.h"
#include "qtcore/timer.h"
#include "qtcore/widget.h"
#include "tabs/tabwidget.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

static int lqtcore_chooseFile(lua_State *L)
{
    auto *parent = static_cast<QWidget *>(static_cast<QObject *>(luaX_checkclass(L, 1, "QWidget")));
    // Lua errors unwind without destructors: every argument is checked before any QString exists.
    const char *caption = luaL_optstring(L, 2, "Choose a file");
    const char *directory = luaL_optstring(L, 3, "");
    const char *filter = luaL_optstring(L, 4, "");
    const QString path =
        QFileDialog::getOpenFileName(parent, QString::fromUtf8(caption),
                                     QString::fromUtf8(directory), QString::fromUtf8(filter));
    if (path.isEmpty())
        lua_pushnil(L);
    else
        lua_pushstring(L, path.toLocal8Bit().constData());
    return 1;
}

static int lqtcore_debugString(lua_State *L)
{
    debugOutput(luaL_checkstring(L, 1));
    return 0;
}

static int ldesktop_availableGeometry(lua_State *L)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 0, 0);
    lua_pushinteger(L, area.x());
    lua_pushinteger(L, area.y());
    lua_pushinteger(L, area.width());
    lua_pushinteger(L, area.height());
    return 4;
}

static const luaL_Reg qtcore_functions[] = {
    {"chooseFile", lqtcore_chooseFile},
    {"debugString", lqtcore_debugString},
    {nullptr, nullptr},
};

static const luaL_Reg desktop_functions[] = {
    {"availableGeometry", ldesktop_availableGeometry},
    {nullptr, nullptr},
};

struct ClassEntry {
    const char *name;
    const char *base;
    bool instanceFields;
    const luaL_Reg *(*functions)(); // null for a class with no functions of its own
};

static const luaL_Reg *desktopFunctions()
{
    return desktop_functions;
}

// A base class comes before the classes that name it: each copies its base's functions.
static const ClassEntry classes[] = {
    {"QObject", nullptr, false, qobjectFunctions},
    {"QWidget", "QObject", false, qwidgetFunctions},
    {"Widget", "QWidget", false, nullptr},
    {"QDialog", "QWidget", false, dialogFunctions},
    {"PushButton", "QWidget", false, pushbuttonFunctions},
    {"QLineEdit", "QWidget", false, lineeditFunctions},
    {"QPlainTextEdit", "QWidget", false, plaintexteditFunctions},
    {"TabWidget", "QWidget", false, tabwidgetFunctions},
    {"QPainter", nullptr, false, painterFunctions},
    {"QFont", nullptr, false, fontFunctions},
    {"Image", nullptr, false, imageFunctions},
    {"Tracker", nullptr, false, trackerFunctions},
    {"Desktop", nullptr, false, desktopFunctions},
    {"ElapsedTimer", nullptr, false, elapsedtimerFunctions},
    {"Timer", "QObject", true, timerFunctions},
};

int luaopen_qt_core(lua_State *L)
{
    luaL_checkversion(L);
    luaL_newlib(L, qtcore_functions);
    for (const ClassEntry &entry : classes)
        luaX_createclass(L, entry.name, entry.functions ? entry.functions() : nullptr, entry.base,
                         entry.instanceFields, true);
    return 1;
}
