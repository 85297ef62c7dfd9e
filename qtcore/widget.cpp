#include "widget.h"

#include "fontkeeper.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "luax/scriptguard.h"
#include "qtcore/font.h"

#include <QDrag>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QWindow>

#include <cstdio>
#include <cstring>

// Every finger on the widget reaches Lua as itself: the widget takes the touches, so the toolkit
// makes no mouse events of the first one.
Widget::Widget(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_AcceptTouchEvents);
}

bool isTouchEvent(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
        return true;
    default:
        return false;
    }
}

bool Widget::event(QEvent *event)
{
    if (!isTouchEvent(event))
        return QWidget::event(event);
    event->accept();
    return true;
}

Widget::~Widget()
{
    ObjectTracker::release(this);
}

void Widget::paintEvent(QPaintEvent *event)
{
    if (!paintWithLua(this))
        QWidget::paintEvent(event);
}

bool paintWithLua(QWidget *widget)
{
    ObjectTracker *tracker = ObjectTracker::forObject(widget);
    if (!tracker)
        return false;
    tracker->paint(widget);
    return true;
}

QObject *checkqobject(lua_State *L, int index)
{
    return static_cast<QObject *>(luaX_checkclass(L, index, "QObject"));
}

QWidget *checkwidget(lua_State *L, int index)
{
    return static_cast<QWidget *>(static_cast<QObject *>(luaX_checkclass(L, index, "QWidget")));
}

QWidget *testwidget(lua_State *L, int index)
{
    return static_cast<QWidget *>(static_cast<QObject *>(luaX_testclass(L, index, "QWidget")));
}

static int lqobject_init(lua_State *L)
{
    QObject *object = checkqobject(L, 1);
    ObjectTracker *tracker = ObjectTracker::instance(L);
    tracker->track(object);
    object->installEventFilter(tracker);
    return 0;
}

static int lqobject_gc(lua_State *)
{
    return 0;
}

static int lqobject_destroy(lua_State *L)
{
    checkqobject(L, 1)->deleteLater();
    return 0;
}

static int lqobject_setName(lua_State *L)
{
    QObject *object = checkqobject(L, 1);
    object->setObjectName(luaX_checkqstring(L, 2));
    return 0;
}

// The property "lua" ties the object to its interpreter and belongs to the host.
static int lqobject_setProperty(lua_State *L)
{
    QObject *object = checkqobject(L, 1);
    const char *name = luaX_checkname(L, 2);
    if (strcmp(name, "lua") == 0)
        luaL_argerror(L, 2, "property 'lua' is reserved");
    object->setProperty(name, luaX_tovariant(L, 3));
    return 0;
}

static int lqobject_property(lua_State *L)
{
    QObject *object = checkqobject(L, 1);
    return luaX_pushvariant(L, object->property(luaX_checkname(L, 2)));
}

static const luaL_Reg qobject_functions[] = {
    {"__init", lqobject_init},
    {"__gc", lqobject_gc},
    {"destroy", lqobject_destroy},
    {"setName", lqobject_setName},
    {"setProperty", lqobject_setProperty},
    {"property", lqobject_property},
    {nullptr, nullptr},
};

const luaL_Reg *qobjectFunctions()
{
    return qobject_functions;
}

// The handle is pushed before the widget is shown, so the first show already reaches Lua.
static int lqwidget_create(lua_State *L)
{
    QWidget *parent = testwidget(L, 1);
    const bool visible = luaX_optflag(L, 2);
    auto *widget = new Widget(parent);
    luaX_pushqobject(L, widget);
    widget->setVisible(visible);
    return 1;
}

static int lqwidget_move(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    widget->move(widget->x() + 1, widget->y());
    return 0;
}

static int lqwidget_show(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    size_t length;
    const char *mode = luaL_optlstring(L, 2, "", &length);
    if (length == 10 && memcmp(mode, "fullscreen", 10) == 0)
        widget->showFullScreen();
    else
        widget->show();
    if (widget->windowFlags() & (Qt::Window | Qt::Dialog | Qt::Popup))
        widget->activateWindow();
    return 0;
}

static int lqwidget_hide(lua_State *L)
{
    checkwidget(L, 1)->hide();
    return 0;
}

static int lqwidget_update(lua_State *L)
{
    checkwidget(L, 1)->update();
    return 0;
}

static int lqwidget_close(lua_State *L)
{
    checkwidget(L, 1)->close();
    return 0;
}

static int lqwidget_setTitle(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    widget->setWindowTitle(luaX_checkqstring(L, 2));
    return 0;
}

static int lqwidget_setGeometry(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    const QRect rect(luaX_checkcoord(L, 2), luaX_checkcoord(L, 3), luaX_checksize(L, 4),
                     luaX_checksize(L, 5));
    widget->move(rect.topLeft());
    widget->resize(rect.size());
    return 0;
}

static int lqwidget_geometry(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    lua_pushinteger(L, widget->x());
    lua_pushinteger(L, widget->y());
    lua_pushinteger(L, widget->width());
    lua_pushinteger(L, widget->height());
    return 4;
}

static const char *const widgetOptions[] = {
    "canFocus", "focusQuery", "enableQuery", "hidden", "acceptDrops", nullptr,
};

static int lqwidget_setOption(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    const int option = luaX_checkoption(L, 2, "canFocus", widgetOptions);
    const bool flag = luaX_optflag(L, 3);
    if (option == 3)
        widget->setHidden(flag);
    else if (option == 4)
        widget->setAcceptDrops(flag);
    return 0;
}

// The box runs a nested event loop in which the widget may die: hold it by a guarded pointer.
static int lqwidget_msgBox(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    const QString text = luaX_checkqstring(L, 2);
    if (refuseModal("msgBox"))
        return 0;
    const int top = lua_gettop(L);
    printf("lwidget_msgBox start - top:%d\n", top);
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Information, "Message Box", text, QMessageBox::Ok, widget);
    {
        const ScriptGuard::NestedLoop waiting;
        box->exec();
    }
    delete box;
    printf("lwidget_msgBox end - top:%d\n", top);
    return 0;
}

static int lqwidget_hasTouchFocus(lua_State *L)
{
    checkwidget(L, 1);
    lua_pushboolean(L, false);
    return 1;
}

static int lqwidget_setFont(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    FontKeeper::setFont(widget, *checkfont(L, 2));
    return 0;
}

static int lqwidget_isMaximized(lua_State *L)
{
    lua_pushboolean(L, checkwidget(L, 1)->isMaximized());
    return 1;
}

static int lqwidget_setMaximized(lua_State *L)
{
    checkwidget(L, 1)->showMaximized();
    return 0;
}

static int lqwidget_setStyleSheet(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    widget->setStyleSheet(luaX_checkqstring(L, 2));
    return 0;
}

static int lqwidget_repolish(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    return 0;
}

static int lqwidget_globalPos(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    const int x = lua_isnoneornil(L, 2) ? 0 : luaX_checkcoord(L, 2);
    const int y = lua_isnoneornil(L, 3) ? 0 : luaX_checkcoord(L, 3);
    const QPoint point = widget->mapToGlobal(QPoint(x, y));
    lua_pushinteger(L, point.x());
    lua_pushinteger(L, point.y());
    return 2;
}

static QPixmap dragimage(QWidget *widget)
{
    const QPixmap grab = widget->grab();
    QPixmap image(grab.size());
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setOpacity(0.75);
    painter.drawPixmap(0, 0, grab);
    return image;
}

// The drag runs a nested event loop; the widget (and the drag it parents) may die meanwhile.
static int lqwidget_dragDrop(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    size_t formatLength;
    const char *format = luaL_optlstring(L, 2, "application/vnd.lua.dragdrop", &formatLength);
    size_t length;
    const char *data = luaL_optlstring(L, 3, "dragdrop", &length);
    if (refuseModal("dragDrop"))
        return 0;
    QPointer<QDrag> drag = new QDrag(widget);
    auto *mime = new QMimeData;
    mime->setData(QString::fromUtf8(format, static_cast<int>(formatLength)),
                  QByteArray(data, static_cast<int>(length)));
    drag->setMimeData(mime);
    drag->setPixmap(dragimage(widget));
    drag->setHotSpot(QPoint(widget->width() / 2, widget->height() * 3 / 4));
    {
        const ScriptGuard::NestedLoop waiting;
        drag->exec(Qt::CopyAction | Qt::MoveAction);
    }
    delete drag;
    return 0;
}

static int lqwidget_setFocus(lua_State *L)
{
    checkwidget(L, 1)->setFocus(Qt::OtherFocusReason);
    return 0;
}

static int lqwidget_setFloating(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    changeTree(widget, [widget] {
        widget->setAutoFillBackground(false);
        widget->setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    });
    return 0;
}

static bool formsloop(const QWidget *widget, const QWidget *parent)
{
    for (const QWidget *w = parent; w; w = w->parentWidget())
        if (w == widget)
            return true;
    return false;
}

// The main window owns the interpreter: inside another widget it would die with it while Lua
// still runs.
void checkparent(lua_State *L, int index, const QWidget *widget, const QWidget *parent)
{
    if (formsloop(widget, parent))
        luaL_argerror(L, index, "widget would become its own ancestor");
    if (parent && qobject_cast<const QMainWindow *>(widget))
        luaL_argerror(L, index, "the main window stays a window");
}

bool refuseModal(const char *what)
{
    if (!ObjectTracker::painting())
        return false;
    qWarning("%s: no modal loop inside onPaint", what);
    return true;
}

void changeTree(QWidget *widget, const std::function<void()> &change)
{
    if (ObjectTracker::settling(widget))
        QMetaObject::invokeMethod(widget, change, Qt::QueuedConnection);
    else
        change();
}

// A widget made a window keeps its window object even while hidden; made a child, that object
// becomes a child of the new window's one and dies with it when the new window is reparented in
// turn, leaving the widget with a dangling one. The widget takes it back.
void keepWindowHandle(QWidget *widget)
{
    if (QWindow *handle = widget->windowHandle())
        handle->setParent(nullptr);
}

static void reparent(QWidget *widget, QWidget *parent)
{
    widget->setParent(parent);
    if (parent)
        keepWindowHandle(widget);
}

static int lqwidget_setParent(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    QWidget *newParent = lua_isnoneornil(L, 2) ? nullptr : checkwidget(L, 2);
    checkparent(L, 2, widget, newParent);
    const QPointer<QWidget> parent(newParent);
    changeTree(widget, [widget, parent, toplevel = !newParent] {
        if ((parent || toplevel) && !formsloop(widget, parent))
            reparent(widget, parent);
    });
    return 0;
}

static int lqwidget_setEnabled(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    widget->setEnabled(luaX_optflag(L, 2));
    return 0;
}

static int lqwidget_isEnabled(lua_State *L)
{
    lua_pushboolean(L, checkwidget(L, 1)->isEnabled());
    return 1;
}

static int lqwidget_setVisible(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    widget->setVisible(luaX_optflag(L, 2));
    return 0;
}

static int lqwidget_setCanFocus(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    widget->setFocusPolicy(luaX_optflag(L, 2) ? Qt::StrongFocus : Qt::NoFocus);
    return 0;
}

static int lqwidget_setFrame(lua_State *L)
{
    QWidget *widget = checkwidget(L, 1);
    if (luaX_optflag(L, 2))
        widget->clearMask();
    else
        widget->setMask(QRegion(0, 0, widget->width(), widget->height()));
    return 0;
}

static int lqwidget_state(lua_State *L)
{
    lua_pushstring(L, checkwidget(L, 1)->isEnabled() ? "" : "disabled");
    return 1;
}

static const luaL_Reg qwidget_functions[] = {
    {"create", lqwidget_create},
    {"move", lqwidget_move},
    {"show", lqwidget_show},
    {"hide", lqwidget_hide},
    {"draw", lqwidget_update},
    {"update", lqwidget_update},
    {"close", lqwidget_close},
    {"setTitle", lqwidget_setTitle},
    {"setGeometry", lqwidget_setGeometry},
    {"geometry", lqwidget_geometry},
    {"setOption", lqwidget_setOption},
    {"msgBox", lqwidget_msgBox},
    {"hasTouchFocus", lqwidget_hasTouchFocus},
    {"setFont", lqwidget_setFont},
    {"isMaximized", lqwidget_isMaximized},
    {"setMaximized", lqwidget_setMaximized},
    {"setStyleSheet", lqwidget_setStyleSheet},
    {"repolish", lqwidget_repolish},
    {"globalPos", lqwidget_globalPos},
    {"dragDrop", lqwidget_dragDrop},
    {"setFocus", lqwidget_setFocus},
    {"setFloating", lqwidget_setFloating},
    {"setParent", lqwidget_setParent},
    {"setEnabled", lqwidget_setEnabled},
    {"isEnabled", lqwidget_isEnabled},
    {"setVisible", lqwidget_setVisible},
    {"setCanFocus", lqwidget_setCanFocus},
    {"setFrame", lqwidget_setFrame},
    {"state", lqwidget_state},
    {nullptr, nullptr},
};

const luaL_Reg *qwidgetFunctions()
{
    return qwidget_functions;
}
