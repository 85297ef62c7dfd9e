#ifndef LUAFIXTURE_H
#define LUAFIXTURE_H

#include <lua.hpp>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

// An interpreter with qt.core loaded (and bound to the global qt), for tests that drive the
// bindings from Lua inside the test process.
class LuaFixture
{
public:
    LuaFixture();
    ~LuaFixture();
    LuaFixture(const LuaFixture &) = delete;
    LuaFixture &operator=(const LuaFixture &) = delete;

    lua_State *L;

    // Runs a chunk; on failure returns false and leaves the message in error.
    bool run(const QByteArray &chunk);
    // Evaluates an expression and returns tostring() of its value, or "error: ..." on failure.
    QString eval(const QByteArray &expression);
    // The MsgHandler calls recorded by the handler that run() installs, as "name arg arg ...".
    QStringList events();

    // The widget behind the handle in a global.
    QWidget *widget(const char *global);

    QString error;

private:
    QList<QWidget *> m_windowsBefore;
};

// Answers the next modal dialog that opens: records its title and rejects it.
void rejectNextModal(QString *title);

struct ChildResult {
    int exitCode; // -1 when the child crashed or was still running at the time limit
    QString output;
};

// Runs a Lua chunk in a fresh child process with qt.core loaded; a failure of the chunk is fatal
// there. With loopMs > 0 the child then runs its event loop that long. A child that is still
// running after timeoutMs is killed.
ChildResult runChild(const QByteArray &chunk, int loopMs = 0, int timeoutMs = 30000);

#define LUA_RUN(fixture, chunk) QVERIFY2((fixture).run(chunk), qPrintable((fixture).error))

#endif
