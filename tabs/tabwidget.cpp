#include "tabwidget.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "qtcore/widget.h"
#include "tabbar.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QPointer>

TabWidget::TabWidget(QWidget *parent) : QTabWidget(parent), m_bar(new TabBar(this))
{
    connect(m_bar, SIGNAL(OnDetachTab(int, QPoint &)), this, SLOT(DetachTab(int, QPoint &)));
    connect(m_bar, SIGNAL(OnMoveTab(int, int)), this, SLOT(MoveTab(int, int)));
    if (parent)
        connect(this, SIGNAL(OnEmpty(TabWidget *)), parent, SLOT(onEmpty(TabWidget *)));
    setTabBar(m_bar);
    setMovable(true);
    setAcceptDrops(true);
    setUsesScrollButtons(true);
    setElideMode(Qt::ElideNone);
}

TabWidget::~TabWidget()
{
    ObjectTracker::release(this);
    disconnect(m_bar, SIGNAL(OnMoveTab(int, int)), this, SLOT(MoveTab(int, int)));
    disconnect(m_bar, SIGNAL(OnDetachTab(int, QPoint &)), this, SLOT(DetachTab(int, QPoint &)));
}

// A page that is this tab widget or holds it would become its own ancestor: it is left alone.
void TabWidget::insertWidget(QWidget *page, const QRect &geometry)
{
    for (const QWidget *w = this; w; w = w->parentWidget())
        if (w == page)
            return;
    if (!hasWidget(page)) {
        const int index = addTab(page, page->windowTitle());
        if (geometry.isValid()) {
            QPoint topLeft = geometry.topLeft();
            DetachTab(index, topLeft, geometry.size());
        }
    }
    if (!hasWidget(page))
        return;
    setCurrentWidget(page);
    raise();
}

void TabWidget::removeWidget(QWidget *page)
{
    const int index = indexOf(page);
    if (index >= 0)
        removeTab(index);
}

bool TabWidget::hasWidget(QWidget *page) const
{
    return page && indexOf(page) >= 0;
}

bool TabWidget::isEmpty() const
{
    return count() == 0;
}

QList<QWidget *> TabWidget::widgets() const
{
    QList<QWidget *> pages;
    for (int i = 0; i < count(); ++i)
        pages << widget(i);
    return pages;
}

void TabWidget::setShowDropTarget(bool on)
{
    if (on == showDropTarget)
        return;
    showDropTarget = on;
    dragHover = false;
    update();
}

// A window of its own, owned by the parent; without a parent it carries the application's name.
void TabWidget::makeFloating()
{
    setWindowFlags(Qt::Tool);
    QWidget *parent = parentWidget();
    setWindowTitle(parent ? parent->windowTitle() : QCoreApplication::applicationName());
    if (parent)
        connect(this, SIGNAL(OnClose(TabWidget *)), parent, SLOT(onClose(TabWidget *)));
}

void TabWidget::takeCurrentFrom(TabWidget *source)
{
    if (!source || source == this)
        return;
    if (QWidget *page = source->currentWidget()) {
        source->removeWidget(page);
        insertWidget(page, QRect());
    }
    if (source->isEmpty())
        emit OnEmpty(source);
}

void TabWidget::MoveTab(int fromIndex, int toIndex)
{
    QWidget *page = widget(fromIndex);
    if (!page)
        return;
    const QIcon icon = tabIcon(fromIndex);
    const QString label = tabText(fromIndex);
    removeTab(fromIndex);
    insertTab(toIndex, page, icon, label);
    setCurrentIndex(toIndex);
}

// Adding the page to the new window reparents it, and the base class then drops its tab here.
void TabWidget::DetachTab(int index, QPoint &dropPoint, QSize size)
{
    QWidget *page = widget(index);
    if (!page)
        return;
    auto *floating = new TabWidget(parentWidget());
    floating->makeFloating();
    floating->insertWidget(page, QRect());
    if (!isEmpty())
        setCurrentIndex(0);
    if (size.width() < 1 || size.height() < 1)
        size = QSize(640, 480);
    if (!dropPoint.isNull())
        floating->move(dropPoint);
    floating->resize(size);
    floating->show();
    if (isEmpty())
        emit OnEmpty(this);
}

void TabWidget::closeEvent(QCloseEvent *event)
{
    emit OnClose(this);
    QTabWidget::closeEvent(event);
}

bool TabWidget::fromOwnBar(const QDropEvent *event) const
{
    return event->source() == m_bar;
}

void TabWidget::dragEnterEvent(QDragEnterEvent *event)
{
    if (fromOwnBar(event) || !TabBar::hasDetachMarker(event->mimeData()))
        return;
    event->acceptProposedAction();
    dragHover = true;
    update();
}

void TabWidget::dragMoveEvent(QDragMoveEvent *event)
{
    if (!fromOwnBar(event) && TabBar::hasDetachMarker(event->mimeData()))
        event->acceptProposedAction();
}

void TabWidget::dragLeaveEvent(QDragLeaveEvent *)
{
    if (!dragHover)
        return;
    dragHover = false;
    update();
}

void TabWidget::dropEvent(QDropEvent *event)
{
    if (fromOwnBar(event) || !TabBar::hasDetachMarker(event->mimeData()) || !event->source())
        return;
    auto *source = qobject_cast<TabWidget *>(event->source()->parent());
    if (!source)
        return;
    takeCurrentFrom(source);
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

TabWidget *checktabwidget(lua_State *L, int index)
{
    return static_cast<TabWidget *>(static_cast<QObject *>(luaX_checkclass(L, index, "TabWidget")));
}

static int ltabwidget_create(lua_State *L)
{
    auto *tabs = new TabWidget(testwidget(L, 1));
    luaX_pushobject(L, static_cast<QObject *>(tabs), "TabWidget", LUAX_BORROWED);
    tabs->setVisible(false);
    tabs->makeFloating();
    return 1;
}

// Reading the rectangle may run Lua code, so the widgets are checked after it.
static int ltabwidget_insertWidget(lua_State *L)
{
    const QRect geometry = luaX_torect(L, 3);
    TabWidget *tabs = checktabwidget(L, 1);
    QWidget *page = checkwidget(L, 2);
    checkparent(L, 2, page, tabs);
    const QPointer<TabWidget> guard(tabs);
    changeTree(page, [guard, page, geometry] {
        if (!guard)
            return;
        guard->insertWidget(page, geometry);
        keepWindowHandle(page);
    });
    return 0;
}

static int ltabwidget_removeWidget(lua_State *L)
{
    TabWidget *tabs = checktabwidget(L, 1);
    QWidget *page = checkwidget(L, 2);
    const QPointer<TabWidget> guard(tabs);
    changeTree(page, [guard, page] {
        if (guard)
            guard->removeWidget(page);
    });
    return 0;
}

static int ltabwidget_hasWidget(lua_State *L)
{
    TabWidget *tabs = checktabwidget(L, 1);
    lua_pushboolean(L, tabs->hasWidget(checkwidget(L, 2)));
    return 1;
}

static int ltabwidget_isEmpty(lua_State *L)
{
    lua_pushboolean(L, checktabwidget(L, 1)->isEmpty());
    return 1;
}

static int ltabwidget_currentWidget(lua_State *L)
{
    luaX_pushqobject(L, checktabwidget(L, 1)->currentWidget());
    return 1;
}

static int ltabwidget_setCurrentWidget(lua_State *L)
{
    TabWidget *tabs = checktabwidget(L, 1);
    QWidget *page = checkwidget(L, 2);
    if (tabs->hasWidget(page))
        tabs->setCurrentWidget(page);
    return 0;
}

static int ltabwidget_showDropTarget(lua_State *L)
{
    TabWidget *tabs = checktabwidget(L, 1);
    tabs->setShowDropTarget(luaX_optflag(L, 2));
    return 0;
}

static int ltabwidget_showTabBar(lua_State *L)
{
    TabWidget *tabs = checktabwidget(L, 1);
    tabs->tabBar()->setVisible(luaX_optflag(L, 2));
    return 0;
}

static int ltabwidget_widgets(lua_State *L)
{
    const QList<QWidget *> pages = checktabwidget(L, 1)->widgets();
    lua_createtable(L, pages.size(), 0);
    for (int i = 0; i < pages.size(); ++i) {
        luaX_pushqobject(L, pages.at(i));
        lua_rawseti(L, -2, i + 1);
    }
    return 1;
}

static const luaL_Reg tabwidget_functions[] = {
    {"create", ltabwidget_create},
    {"insertWidget", ltabwidget_insertWidget},
    {"removeWidget", ltabwidget_removeWidget},
    {"hasWidget", ltabwidget_hasWidget},
    {"isEmpty", ltabwidget_isEmpty},
    {"currentWidget", ltabwidget_currentWidget},
    {"setCurrentWidget", ltabwidget_setCurrentWidget},
    {"showDropTarget", ltabwidget_showDropTarget},
    {"showTabBar", ltabwidget_showTabBar},
    {"widgets", ltabwidget_widgets},
    {nullptr, nullptr},
};

const luaL_Reg *tabwidgetFunctions()
{
    return tabwidget_functions;
}
