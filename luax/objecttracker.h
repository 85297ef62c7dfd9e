#ifndef OBJECTTRACKER_H
#define OBJECTTRACKER_H

#include <lua.hpp>

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QVector>
#include <QWidget>

#include <initializer_list>

class Delivery;
class QPainter;
class QTouchEvent;

// One per interpreter: learns of the death of every object that has a Lua handle, forwards the
// events of those objects to the Lua global MsgHandler, and owns the shared painter lcdCanvas.
class ObjectTracker : public QObject
{
    Q_OBJECT

public:
    ~ObjectTracker() override;

    static ObjectTracker *instance(lua_State *L);
    static ObjectTracker *forObject(QObject *object);

    lua_State *state() const { return L; }
    QPainter *painter() const { return m_painter; }
    // True while the widget, or a widget inside it, has its paint, move, resize or close in Lua:
    // the toolkit goes on with that widget after the event, so its place in the widget tree must
    // not change before then.
    static bool settling(const QWidget *widget);
    // True while any widget is being painted through Lua. The toolkit's paint of a window must
    // not be interrupted by a nested event loop: the widgets it paints may change in it.
    static bool painting();
    void track(QObject *object);
    void paint(QWidget *widget);
    // For the destructors of tracked classes: the handle dies while the whole object still
    // exists, before its children go, so no Lua code ever reaches a half-destroyed object.
    static void release(QObject *object);

    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void deleted(QObject *o);

private:
    friend class Delivery;

    explicit ObjectTracker(lua_State *L);
    bool forward(QObject *watched, QEvent *event, const Delivery &delivery);
    bool forwardTouch(QObject *watched, QTouchEvent *event, const Delivery &delivery);
    int tell(QObject *object, const char *name, std::initializer_list<int> values);
    bool delivering(const QObject *object) const;
    void resumeDeletes();

    lua_State *L;
    QPainter *m_painter;
    QSet<QObject *> m_tracked;
    // The deliveries under way, innermost first, linked through the stack.
    Delivery *m_innermost = nullptr;
    QVector<QPointer<QObject>> m_postponed;
};

// Marks an object's event as being in Lua for the scope. While it is, destroying the object (or
// one of its ancestors) waits until the delivery has returned: the toolkit still uses the object
// after the event. The tracker clears the object (or itself) from the delivery when it dies, so
// no guarded pointer is needed on this hot path.
class Delivery
{
public:
    Delivery(ObjectTracker *tracker, QObject *object);
    ~Delivery();
    Delivery(const Delivery &) = delete;
    Delivery &operator=(const Delivery &) = delete;

    // False once the object, or the tracker, died during the delivery.
    bool alive() const { return m_object && m_tracker; }

private:
    friend class ObjectTracker;

    ObjectTracker *m_tracker;
    QObject *m_object;
    Delivery *m_outer = nullptr;
};

// A toolkit class whose Lua handle dies as its destruction begins (see release).
template <class Base> class Tracked : public Base
{
public:
    using Base::Base;
    ~Tracked() override { ObjectTracker::release(this); }
};

void luaX_release(lua_State *L, void *object);
int LuaMsgHandler(ObjectTracker *tracker, QObject *object, const char *name, const char *format,
                  ...);
const luaL_Reg *trackerFunctions();

#endif
