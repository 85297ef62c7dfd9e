#include "objecttracker.h"

#include "luax.h"

#include <QDebug>
#include <QDialog>
#include <QDropEvent>
#include <QHash>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTouchEvent>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>

static const char *const trackerKey = "Tracker.Instance";

ObjectTracker::ObjectTracker(lua_State *L) : L(L), m_painter(new QPainter) {}

// Objects that outlive the tracker must not lead anyone back to the interpreter. Their
// borrowed handles die with it: nobody would tell those handles of their objects' end.
ObjectTracker::~ObjectTracker()
{
    for (Delivery *d = m_innermost; d; d = d->m_outer)
        d->m_tracker = nullptr;
    for (QObject *object : qAsConst(m_tracked)) {
        disconnect(object, &QObject::destroyed, this, &ObjectTracker::deleted);
        object->setProperty("lua", QVariant());
        luaX_forgetborrowed(L, object);
    }
    luaX_release(L, m_painter);
    delete m_painter;
}

ObjectTracker *ObjectTracker::instance(lua_State *L)
{
    lua_getfield(L, LUA_REGISTRYINDEX, trackerKey);
    auto *tracker = static_cast<ObjectTracker *>(luaX_testclass(L, -1, "Tracker"));
    lua_pop(L, 1);
    if (tracker)
        return tracker;
    tracker = new ObjectTracker(L);
    luaX_pushobject(L, tracker, "Tracker", LUAX_BORROWED);
    lua_setfield(L, LUA_REGISTRYINDEX, trackerKey);
    luaX_pushobject(L, tracker->m_painter, "QPainter", LUAX_BORROWED);
    lua_setglobal(L, "lcdCanvas");
    return tracker;
}

// Only the tracker stores an interpreter in the property; Lua cannot write it.
ObjectTracker *ObjectTracker::forObject(QObject *object)
{
    const QVariant lua = object->property("lua");
    if (lua.userType() != QMetaType::VoidStar)
        return nullptr;
    auto *state = static_cast<lua_State *>(lua.value<void *>());
    return state ? instance(state) : nullptr;
}

void ObjectTracker::release(QObject *object)
{
    if (ObjectTracker *tracker = forObject(object))
        tracker->deleted(object);
}

void ObjectTracker::track(QObject *object)
{
    connect(object, &QObject::destroyed, this, &ObjectTracker::deleted, Qt::UniqueConnection);
    object->setProperty("lua", QVariant::fromValue(static_cast<void *>(L)));
    m_tracked.insert(object);
}

// Widgets whose paint, move or resize is in Lua, across interpreters.
static QVector<QPointer<QWidget>> settlingWidgets;
static int paints = 0;

bool ObjectTracker::painting()
{
    return paints > 0;
}

namespace
{
class Settling
{
public:
    explicit Settling(QObject *object) { settlingWidgets.append(qobject_cast<QWidget *>(object)); }
    ~Settling() { settlingWidgets.removeLast(); }
    Settling(const Settling &) = delete;
    Settling &operator=(const Settling &) = delete;
};
} // namespace

bool ObjectTracker::settling(const QWidget *widget)
{
    for (const QPointer<QWidget> &target : qAsConst(settlingWidgets))
        for (const QWidget *w = target; w; w = w->parentWidget())
            if (w == widget)
                return true;
    return false;
}

// A paint that comes from a nested event loop inside onPaint finds the painter busy and is
// left out. Lua may collect the tracker itself during the call.
void ObjectTracker::paint(QWidget *widget)
{
    if (m_painter->isActive())
        return;
    const QPointer<ObjectTracker> self(this);
    const Settling settling(widget);
    ++paints;
    m_painter->begin(widget);
    LuaMsgHandler(this, widget, "onPaint", nullptr);
    --paints;
    if (self && m_painter->isActive())
        m_painter->end();
}

bool ObjectTracker::delivering(const QObject *object) const
{
    for (const Delivery *d = m_innermost; d; d = d->m_outer)
        for (const QObject *o = d->m_object; o; o = o->parent())
            if (o == object)
                return true;
    return false;
}

void ObjectTracker::resumeDeletes()
{
    for (int i = 0; i < m_postponed.size();) {
        QObject *object = m_postponed.at(i);
        if (object && delivering(object)) {
            ++i;
            continue;
        }
        m_postponed.removeAt(i);
        if (object)
            object->deleteLater();
    }
}

Delivery::Delivery(ObjectTracker *tracker, QObject *object)
    : m_tracker(object ? tracker : nullptr), m_object(object)
{
    if (!m_tracker)
        return;
    m_outer = m_tracker->m_innermost;
    m_tracker->m_innermost = this;
}

Delivery::~Delivery()
{
    if (!m_tracker)
        return;
    m_tracker->m_innermost = m_outer;
    if (!m_tracker->m_postponed.isEmpty())
        m_tracker->resumeDeletes();
}

void ObjectTracker::deleted(QObject *o)
{
    for (Delivery *d = m_innermost; d; d = d->m_outer)
        if (d->m_object == o)
            d->m_object = nullptr;
    printf("ObjectTracker::deleted %p\n", static_cast<void *>(o));
    o->setProperty("lua", QVariant());
    disconnect(o, &QObject::destroyed, this, &ObjectTracker::deleted);
    m_tracked.remove(o);
    luaX_release(L, o);
}

static const char *const dragFormat = "application/vnd.lua.dragdrop";

static bool isowndrag(const QMimeData *mime)
{
    return mime && mime->hasFormat(dragFormat) && mime->data(dragFormat) == "dragdrop";
}

static QByteArray keyname(const QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        return "escape";
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return "enter";
    case Qt::Key_Left:
        return "left";
    case Qt::Key_Up:
        return "up";
    case Qt::Key_Right:
        return "right";
    case Qt::Key_Down:
        return "down";
    default:
        return event->text().toLocal8Bit();
    }
}

static QByteArray modifiernames(Qt::KeyboardModifiers modifiers)
{
    QByteArray names;
    if (modifiers & Qt::ControlModifier)
        names += 'c';
    if (modifiers & Qt::AltModifier)
        names += 'a';
    if (modifiers & Qt::ShiftModifier)
        names += 's';
    return names;
}

static const char *pressname(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return "onTouchPress";
    case Qt::RightButton:
        return "onRightClick";
    default:
        return nullptr;
    }
}

// The number Lua knows a finger by: 1 for the first one down, then the lowest one free. The
// numbers belong to the fingers on the screen, whichever widgets they are on.
static QHash<int, int> fingerNumbers;

static int fingernumber(int id)
{
    const auto known = fingerNumbers.constFind(id);
    if (known != fingerNumbers.constEnd())
        return *known;
    const QList<int> taken = fingerNumbers.values();
    int number = 1;
    while (taken.contains(number))
        ++number;
    fingerNumbers.insert(id, number);
    return number;
}

// Each finger is one press, its moves and one release, with its number last. An answer that
// consumes a press or release keeps the whole event from the widget. A finger whose widget died
// while it was delivered goes without the rest.
bool ObjectTracker::forwardTouch(QObject *watched, QTouchEvent *event, const Delivery &delivery)
{
    bool consumed = false;
    for (const QTouchEvent::TouchPoint &point : event->touchPoints()) {
        const int number = fingernumber(point.id());
        const QPoint at = point.pos().toPoint();
        const bool ended =
            point.state() == Qt::TouchPointReleased || event->type() == QEvent::TouchCancel;
        if (ended)
            fingerNumbers.remove(point.id());
        if (!delivery.alive())
            continue;
        const char *name = point.state() == Qt::TouchPointPressed ? "onTouchPress"
                           : ended                                ? "onTouchRelease"
                           : point.state() == Qt::TouchPointMoved ? "onTouchMove"
                                                                  : nullptr;
        const bool answered = name && tell(watched, name, {at.x(), at.y(), number});
        consumed = consumed || (answered && point.state() != Qt::TouchPointMoved);
    }
    if (consumed)
        event->accept();
    return consumed;
}

// Returns whether the event is consumed; the caller has already picked the forwarded types.
bool ObjectTracker::forward(QObject *watched, QEvent *event, const Delivery &delivery)
{
    switch (event->type()) {
    case QEvent::Resize: {
        auto *e = static_cast<QResizeEvent *>(event);
        const Settling settling(watched);
        tell(watched, "onResize", {e->size().width(), e->size().height()});
        return false;
    }
    case QEvent::MouseButtonPress: {
        auto *e = static_cast<QMouseEvent *>(event);
        const char *name = pressname(e->button());
        return name && tell(watched, name, {e->x(), e->y(), 1});
    }
    case QEvent::MouseButtonRelease: {
        auto *e = static_cast<QMouseEvent *>(event);
        return e->button() == Qt::LeftButton &&
               tell(watched, "onTouchRelease", {e->x(), e->y(), 1});
    }
    case QEvent::MouseMove: {
        auto *e = static_cast<QMouseEvent *>(event);
        tell(watched, "onTouchMove", {e->x(), e->y(), 1});
        return false;
    }
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
        return forwardTouch(watched, static_cast<QTouchEvent *>(event), delivery);
    case QEvent::KeyPress: {
        auto *e = static_cast<QKeyEvent *>(event);
        qDebug() << "QtObjectTracker::eventFilter::KeyPress" << watched << event << e->key();
        LuaMsgHandler(this, watched, "onKeyPress", "%s %s %d", keyname(e).constData(),
                      modifiernames(e->modifiers()).constData(), e->key());
        return false;
    }
    case QEvent::Move: {
        auto *e = static_cast<QMoveEvent *>(event);
        const Settling settling(watched);
        tell(watched, "onMove", {e->pos().x(), e->pos().y()});
        return false;
    }
    case QEvent::Close: {
        // A consumed close is a veto: the event is ignored so the window stays open.
        const Settling settling(watched);
        const bool consumed = LuaMsgHandler(this, watched, "onClose", nullptr);
        if (consumed)
            event->ignore();
        return consumed;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *e = static_cast<QDropEvent *>(event);
        if (!isowndrag(e->mimeData()))
            return false;
        const bool enter = event->type() == QEvent::DragEnter;
        LuaMsgHandler(this, watched, enter ? "onDragEnter" : "onDragMove", nullptr);
        e->acceptProposedAction();
        return false;
    }
    case QEvent::DragLeave:
        LuaMsgHandler(this, watched, "onDragLeave", nullptr);
        event->accept();
        return false;
    case QEvent::Drop: {
        auto *e = static_cast<QDropEvent *>(event);
        QObject *source = e->source();
        if (!isowndrag(e->mimeData()) || !source || !source->property("lua").isValid())
            return false;
        LuaMsgHandler(this, watched, "onDrop", "%o", source);
        e->accept();
        return false;
    }
    default:
        return false;
    }
}

// A widget whose deletion waits for its own event may be waiting on a box or dialog opened from
// that event: the box ends now, or the deletion would wait for the operator.
static void endModalRuns(QObject *object)
{
    QVector<QPointer<QDialog>> dialogs;
    for (QDialog *dialog : object->findChildren<QDialog *>())
        dialogs << dialog;
    for (const QPointer<QDialog> &dialog : qAsConst(dialogs))
        if (dialog && dialog->isVisible())
            dialog->reject();
}

// An object that died in Lua while its event was delivered (through a parent that was
// deleted outright) gets the event consumed, so the toolkit does not touch it again.
bool ObjectTracker::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DeferredDelete:
        if (!delivering(watched))
            return false;
        m_postponed.append(watched);
        endModalRuns(watched);
        return true;
    case QEvent::Resize:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::KeyPress:
    case QEvent::Move:
    case QEvent::Close:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
        break;
    default:
        return false;
    }
    lua_State *const state = L;
    const Delivery delivery(this, watched);
    const bool consumed = forward(watched, event, delivery);
    if (event->type() != QEvent::Resize)
        luaX_clearstack(state);
    return consumed || !delivery.alive();
}

// The handle is dead before __deleted runs: the handler can no longer reach the object.
void luaX_release(lua_State *L, void *object)
{
    luaX_pushobject(L, object, nullptr, LUAX_BORROWED);
    luaX_forget(L, object);
    if (!lua_isnil(L, -1))
        luaX_callmethodat(L, -1, "__deleted", nullptr);
    lua_pop(L, 1);
}

// An integer answer, the common one, without going through a float.
static int handlerresult(lua_State *L, int index)
{
    int isInteger = 0;
    const lua_Integer n = lua_tointegerx(L, index, &isInteger);
    if (isInteger)
        return int(qBound<lua_Integer>(std::numeric_limits<int>::min(), n,
                                       std::numeric_limits<int>::max()));
    if (lua_isboolean(L, index))
        return lua_toboolean(L, index);
    return luaX_truncate(lua_tonumber(L, index));
}

// The part of every message-handler call before the event's own values: the globals, the
// traceback, then MsgHandler, the handle (or nil) and the event name. Returns the index of the
// traceback, the call's message handler; the stack started two below it.
static int beginmessage(lua_State *L, QObject *object, const char *name)
{
    // Read raw: a metamethod of the globals (a "strict" table raising for unknown names) would
    // run Lua, and could raise, outside the protected call.
    lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
    lua_pushcfunction(L, luaX_traceback);
    const int handler = lua_gettop(L);
    lua_pushliteral(L, "MsgHandler");
    lua_rawget(L, handler - 1);
    // The handle cache first, as luaX_pushobject looks: the object with an event has a handle.
    if (!object)
        lua_pushnil(L);
    else if (lua_rawgetp(L, LUA_REGISTRYINDEX, object) != LUA_TUSERDATA) {
        lua_pop(L, 1);
        luaX_pushobject(L, object, nullptr, LUAX_BORROWED);
    }
    lua_pushstring(L, name);
    return handler;
}

// The answer of a call begun by beginmessage, or the report of its failure unless it was fatal
// (which has been reported as such already).
static int endmessage(lua_State *L, int handler, int status, const char *format,
                      const QObject *object, const char *name, const char *className)
{
    int result = 0;
    if (status == LUA_OK) {
        result = handlerresult(L, handler + 1);
    } else if (format && !strchr(format, '!')) {
        if (object)
            printf("LuaMsgHandler %s %p %s\n", name, static_cast<const void *>(object), className);
        luaX_reporterror(L, name, lua_tostring(L, -1));
        luaX_report(L, "LuaMsgHandler");
    }
    lua_settop(L, handler - 2);
    return result;
}

int LuaMsgHandler(ObjectTracker *tracker, QObject *object, const char *name, const char *format,
                  ...)
{
    lua_State *L = tracker->state();
    if (luaX_halted(L))
        return 0;
    const char *className = object ? object->metaObject()->className() : nullptr;
    const Delivery delivery(tracker, object);
    const int handler = beginmessage(L, object, name);
    va_list args;
    va_start(args, format);
    const int status = luaX_vpcallat(L, handler, 2, 1, format, args);
    va_end(args);
    return endmessage(L, handler, status, format, object, name, className);
}

// As LuaMsgHandler with "%d" values, for the events the filter forwards: the filter's delivery
// of the object is under way already, and there is no format to read.
int ObjectTracker::tell(QObject *object, const char *name, std::initializer_list<int> values)
{
    // Lua may collect the tracker during the call: nothing of it is read afterwards.
    lua_State *const L = this->L;
    if (luaX_halted(L))
        return 0;
    const char *className = object->metaObject()->className();
    const int handler = beginmessage(L, object, name);
    for (const int value : values)
        lua_pushinteger(L, value);
    const int status = luaX_pcallat(L, handler, 2 + int(values.size()), 1, "");
    return endmessage(L, handler, status, "", object, name, className);
}

static int ltracker_gc(lua_State *L)
{
    auto *tracker = static_cast<ObjectTracker *>(luaX_checkclass(L, 1, "Tracker"));
    qDebug() << "ltracker_gc" << tracker;
    luaX_forget(L, tracker);
    delete tracker;
    return 0;
}

static const luaL_Reg tracker_functions[] = {
    {"__gc", ltracker_gc},
    {nullptr, nullptr},
};

const luaL_Reg *trackerFunctions()
{
    return tracker_functions;
}
