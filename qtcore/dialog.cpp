#include "dialog.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "luax/scriptguard.h"
#include "widget.h"

#include <QEventLoop>
#include <QPointer>

#include <limits>

Dialog::Dialog(QWidget *parent) : QDialog(parent) {}

Dialog::~Dialog()
{
    if (m_loop)
        m_loop->exit();
    ObjectTracker::release(this);
}

int Dialog::run()
{
    if (m_loop || refuseModal("exec"))
        return 0;
    const QPointer<Dialog> self(this);
    setResult(0);
    setAttribute(Qt::WA_ShowModal, true);
    m_hidden = false;
    show();
    // A hide from the resize or move events that show sends is undone by show itself, which
    // leaves the widget flagged hidden and visible at once; a second hide would then be
    // skipped, so the flag is cleared first.
    if (self && m_hidden) {
        setAttribute(Qt::WA_WState_Hidden, false);
        hide();
    }
    if (self && isVisible() && !m_hidden) {
        QEventLoop loop;
        m_loop = &loop;
        const ScriptGuard::NestedLoop waiting;
        loop.exec(QEventLoop::DialogExec);
        if (self)
            m_loop = nullptr;
    }
    if (!self)
        return 0;
    setAttribute(Qt::WA_ShowModal, false);
    if (testAttribute(Qt::WA_DeleteOnClose))
        deleteLater();
    return result();
}

void Dialog::setVisible(bool visible)
{
    QDialog::setVisible(visible);
    if (visible)
        return;
    m_hidden = true;
    if (m_loop)
        m_loop->exit();
}

static Dialog *checkdialog(lua_State *L, int index)
{
    auto *object = static_cast<QObject *>(luaX_checkclass(L, index, "QDialog"));
    return static_cast<Dialog *>(object);
}

static int lqdialog_create(lua_State *L)
{
    auto *dialog = new Dialog(testwidget(L, 1));
    luaX_pushqobject(L, dialog);
    dialog->setVisible(false);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return 1;
}

static int lqdialog_exec(lua_State *L)
{
    lua_pushinteger(L, checkdialog(L, 1)->run());
    return 1;
}

static int lqdialog_done(lua_State *L)
{
    Dialog *dialog = checkdialog(L, 1);
    const int result = lua_isnoneornil(L, 2)
                           ? 0
                           : luaX_checkinteger(L, 2, std::numeric_limits<int>::min(),
                                               std::numeric_limits<int>::max());
    dialog->done(result);
    return 0;
}

static int lqdialog_setOption(lua_State *)
{
    return 0;
}

static const luaL_Reg dialog_functions[] = {
    {"create", lqdialog_create},       {"exec", lqdialog_exec}, {"done", lqdialog_done},
    {"setOption", lqdialog_setOption}, {nullptr, nullptr},
};

const luaL_Reg *dialogFunctions()
{
    return dialog_functions;
}
