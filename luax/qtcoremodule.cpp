#include "qtcoremodule.h"

#include "debugoutput.h"
#include "luax.h"
#include "objecttracker.h"
#include "qtcore/dialog.h"
#include "qtcore/font.h"
#include "qtcore/painter.h"
#include "qtcore/pushbutton.h"
#include "qtcore/textedit.h"
#include "qtcore/timer.h"
#include "qtcore/widget.h"
#include "scriptguard.h"
#include "tabs/tabwidget.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

static QString opttext(lua_State *L, int index, const char *def)
{
    return lua_isnoneornil(L, index) ? QString::fromUtf8(def) : luaX_checkqstring(L, index);
}

// The dialog runs a nested event loop in which the parent, and the dialog with it, may die:
// hold it by a guarded pointer.
static QString choosefile(QWidget *parent, const QString &caption, const QString &directory,
                          const QString &filter)
{
    QPointer<QFileDialog> dialog = new QFileDialog(parent, caption, directory, filter);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    const ScriptGuard::NestedLoop waiting;
    const bool accepted = dialog->exec() == QDialog::Accepted && dialog;
    const QString path = accepted ? dialog->selectedFiles().value(0) : QString();
    delete dialog;
    return path;
}

static int lqtcore_chooseFile(lua_State *L)
{
    auto *parent = static_cast<QWidget *>(static_cast<QObject *>(luaX_checkclass(L, 1, "QWidget")));
    // Lua errors unwind without destructors: every argument is checked before any QString exists.
    luaL_optstring(L, 2, nullptr);
    luaL_optstring(L, 3, nullptr);
    luaL_optstring(L, 4, nullptr);
    if (refuseModal("chooseFile")) {
        lua_pushnil(L);
        return 1;
    }
    const QString path =
        choosefile(parent, opttext(L, 2, "Choose a file"), opttext(L, 3, ""), opttext(L, 4, ""));
    if (path.isEmpty())
        lua_pushnil(L);
    else
        luaX_pushtext(L, path.toLocal8Bit());
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
