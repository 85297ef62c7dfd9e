#include "pushbutton.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "widget.h"

#include <QTouchEvent>

PushButton::PushButton(QWidget *parent) : QPushButton(parent)
{
    setAttribute(Qt::WA_AcceptTouchEvents);
    connect(this, &QPushButton::clicked, this, &PushButton::onClicked);
}

bool PushButton::event(QEvent *event)
{
    if (!isTouchEvent(event))
        return QPushButton::event(event);
    event->accept();
    touch(static_cast<QTouchEvent *>(event));
    return true;
}

// Another finger on another button takes the focus; the button goes up when its own finger
// leaves it, not then.
void PushButton::focusOutEvent(QFocusEvent *event)
{
    if (m_finger >= 0)
        QWidget::focusOutEvent(event);
    else
        QPushButton::focusOutEvent(event);
}

// A finger works the button as the mouse does: down while it is on the button, a click when it
// is lifted there. The first finger on the button is the one; others on it change nothing.
void PushButton::touch(const QTouchEvent *event)
{
    for (const QTouchEvent::TouchPoint &point : event->touchPoints()) {
        const bool inside = rect().contains(point.pos().toPoint());
        if (m_finger < 0 && point.state() == Qt::TouchPointPressed && isEnabled()) {
            m_finger = point.id();
            setDown(true);
            continue;
        }
        if (point.id() != m_finger)
            continue;
        if (point.state() == Qt::TouchPointMoved)
            setDown(inside);
        if (point.state() != Qt::TouchPointReleased && event->type() != QEvent::TouchCancel)
            continue;
        m_finger = -1;
        const bool clicked = isDown() && inside && event->type() != QEvent::TouchCancel;
        setDown(false);
        if (clicked)
            click();
        return;
    }
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
