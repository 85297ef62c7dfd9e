#include "pushbutton.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "widget.h"

PushButton::PushButton(QWidget *parent) : QPushButton(parent)
{
    connect(this, &QPushButton::clicked, this, &PushButton::onClicked);
}

PushButton::~PushButton()
{
    ObjectTracker::release(this);
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
