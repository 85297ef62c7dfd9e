#include "pushbutton.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "widget.h"

#include <QDialog>

PushButton::PushButton(QWidget *parent) : QPushButton(parent)
{
    connect(this, &QPushButton::clicked, this, &PushButton::onClicked);
}

void PushButton::onClicked()
{
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, "onClick", nullptr);
}

void PushButton::paintEvent(QPaintEvent *event)
{
    if (!paintWithLua(this))
        QPushButton::paintEvent(event);
}

static PushButton *checkbutton(lua_State *L, int index)
{
    return static_cast<PushButton *>(
        static_cast<QObject *>(luaX_checkclass(L, index, "PushButton")));
}

static QDialog *checkdialog(lua_State *L, int index)
{
    return static_cast<QDialog *>(static_cast<QObject *>(luaX_checkclass(L, index, "QDialog")));
}

static int lpushbutton_create(lua_State *L)
{
    auto *button = new PushButton(testwidget(L, 1));
    luaX_pushqobject(L, button);
    button->setVisible(true);
    return 1;
}

static int lpushbutton_state(lua_State *L)
{
    const PushButton *button = checkbutton(L, 1);
    if (!button->isEnabled())
        lua_pushliteral(L, "disabled");
    else if (button->isDown())
        lua_pushliteral(L, "down");
    else
        lua_pushliteral(L, "");
    return 1;
}

static const luaL_Reg pushbutton_functions[] = {
    {"create", lpushbutton_create},
    {"state", lpushbutton_state},
    {nullptr, nullptr},
};

const luaL_Reg *pushbuttonFunctions()
{
    return pushbutton_functions;
}

static int lqdialog_create(lua_State *L)
{
    auto *dialog = new QDialog(testwidget(L, 1));
    luaX_pushqobject(L, dialog);
    dialog->setVisible(false);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return 1;
}

// The dialog deletes itself as its loop ends (delete on close): only the result is left.
static int lqdialog_exec(lua_State *L)
{
    QDialog *dialog = checkdialog(L, 1);
    lua_pushinteger(L, dialog->exec());
    return 1;
}

static int lqdialog_done(lua_State *L)
{
    QDialog *dialog = checkdialog(L, 1);
    dialog->done(static_cast<int>(luaL_optinteger(L, 2, 0)));
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
