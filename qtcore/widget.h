#ifndef WIDGET_H
#define WIDGET_H

#include <lua.hpp>

#include <QWidget>

#include <functional>

// A bare widget whose whole face is painted by the Lua application in onPaint.
class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget() override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};

// True for the events of a finger on a widget.
bool isTouchEvent(const QEvent *event);

// Paints a widget through Lua (onPaint on the shared painter); false for an untracked widget.
bool paintWithLua(QWidget *widget);
// The parent argument of the create functions: a widget handle, anything else meaning none.
QWidget *testwidget(lua_State *L, int index);

QObject *checkqobject(lua_State *L, int index);
QWidget *checkwidget(lua_State *L, int index);
// Raises an argument error (for the argument at index) when parent is the widget itself or
// one of its descendants, across window boundaries.
void checkparent(lua_State *L, int index, const QWidget *widget, const QWidget *parent);
// True, after a warning, when a modal loop (named by what) must not run because a paint is in
// progress; the caller then answers as if the user had cancelled at once.
bool refuseModal(const char *what);
// For a widget that has just become a child: the window object it kept as a window stays its own.
void keepWindowHandle(QWidget *widget);
// Runs a change of the widget's place in the tree now or, while the widget is settling (see
// ObjectTracker::settling), once the event loop is back; the widget's death cancels it.
void changeTree(QWidget *widget, const std::function<void()> &change);

const luaL_Reg *qobjectFunctions();
const luaL_Reg *qwidgetFunctions();

#endif
