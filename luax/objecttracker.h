#ifndef OBJECTTRACKER_H
#define OBJECTTRACKER_H

#include <lua.hpp>

#include <QObject>
#include <QSet>

class QPainter;
class QWidget;

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
    void track(QObject *object);
    void paint(QWidget *widget);

    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void deleted(QObject *o);

private:
    explicit ObjectTracker(lua_State *L);
    bool forward(QObject *watched, QEvent *event);

    lua_State *L;
    QPainter *m_painter;
    QSet<QObject *> m_tracked;
};

void luaX_release(lua_State *L, void *object);
int LuaMsgHandler(ObjectTracker *tracker, QObject *object, const char *name, const char *format,
                  ...);
const luaL_Reg *trackerFunctions();

#endif
