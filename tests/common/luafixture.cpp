#include "luafixture.h"

#include "luax/luax.h"
#include "luax/qtcoremodule.h"
#include "luax/scriptguard.h"

#include <QApplication>
#include <QDialog>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>
#include <QWidget>

// Records every event as a line, and answers with the global `answer` (a table by event name).
static const char *const recorder = R"(
qt = require 'qt.core'
recorded = {}
answer = {}
function MsgHandler(handle, name, ...)
    local parts = {name}
    for i = 1, select('#', ...) do parts[#parts + 1] = tostring((select(i, ...))) end
    recorded[#recorded + 1] = table.concat(parts, ' ')
    local a = answer[name]
    if type(a) == 'function' then return a(handle, ...) end
    return a or 0
end
)";

LuaFixture::LuaFixture() : L(luaX_newstate()), m_windowsBefore(QApplication::topLevelWidgets())
{
    // Under a sanitizer native calls are slow: tests of the script guard set budgets of their own.
    ScriptGuard::setLimits(L, 20000, 20000);
    luaL_requiref(L, "qt.core", luaopen_qt_core, 0);
    lua_pop(L, 1);
    run(recorder);
}

// Windows that the test made and left behind go with the fixture.
LuaFixture::~LuaFixture()
{
    lua_close(L);
    for (QWidget *window : QApplication::topLevelWidgets())
        if (!m_windowsBefore.contains(window))
            delete window;
}

bool LuaFixture::run(const QByteArray &chunk)
{
    const int top = lua_gettop(L);
    const bool ok = luaL_dostring(L, chunk.constData()) == LUA_OK;
    error = ok ? QString() : QString::fromUtf8(lua_tostring(L, -1));
    lua_settop(L, top);
    return ok;
}

QString LuaFixture::eval(const QByteArray &expression)
{
    if (!run("evaluated = tostring(" + expression + ")"))
        return "error: " + error;
    lua_getglobal(L, "evaluated");
    const QString value = QString::fromUtf8(lua_tostring(L, -1));
    lua_pop(L, 1);
    return value;
}

QStringList LuaFixture::events()
{
    QStringList lines;
    lua_getglobal(L, "recorded");
    const lua_Integer count = luaL_len(L, -1);
    for (lua_Integer i = 1; i <= count; ++i) {
        lua_rawgeti(L, -1, i);
        lines << QString::fromUtf8(lua_tostring(L, -1));
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    run("recorded = {}");
    return lines;
}

QWidget *LuaFixture::widget(const char *global)
{
    lua_getglobal(L, global);
    auto *object = static_cast<QObject *>(luaX_testclass(L, -1, "QWidget"));
    lua_pop(L, 1);
    return static_cast<QWidget *>(object);
}

void rejectNextModal(QString *title)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, title] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        *title = dialog->windowTitle();
        dialog->reject();
        poll->deleteLater();
    });
    poll->start(10);
}

ChildResult runChild(const QByteArray &chunk, int loopMs, int timeoutMs)
{
    QTemporaryFile script;
    script.open();
    script.write(chunk);
    script.close();
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = QCoreApplication::applicationDirPath() + "/luax-child";
    child.start(program, {script.fileName(), QString::number(loopMs)});
    const bool finished = child.waitForFinished(timeoutMs);
    if (!finished) {
        child.kill();
        child.waitForFinished();
    }
    const bool normal = finished && child.exitStatus() == QProcess::NormalExit;
    return {normal ? child.exitCode() : -1, QString::fromLocal8Bit(child.readAll())};
}
