#include "common/hosttree.h"
#include "common/luafixture.h"
#include "tabs/tabbar.h"
#include "tabs/tabwidget.h"

#include <QMimeData>
#include <QtTest>

// Stands in for the main window: records what the tab widgets report to their parent.
class Host : public QWidget
{
    Q_OBJECT

public:
    QList<TabWidget *> emptied;
    QList<TabWidget *> closed;

public slots:
    void onEmpty(TabWidget *w) { emptied << w; }
    void onClose(TabWidget *w) { closed << w; }
};

static QWidget *page(const QString &title)
{
    auto *w = new QWidget;
    w->setWindowTitle(title);
    return w;
}

static QStringList titles(const TabWidget *tabs)
{
    QStringList list;
    for (QWidget *w : tabs->widgets())
        list << w->windowTitle();
    return list;
}

static QMimeData *marker(const QByteArray &data = "application/tab-detach")
{
    auto *mime = new QMimeData;
    mime->setData("action", data);
    return mime;
}

class TestTabWidget : public QObject
{
    Q_OBJECT

private:
    static TabWidget *floatingOf(Host &host, TabWidget *except)
    {
        for (TabWidget *tabs : host.findChildren<TabWidget *>())
            if (tabs != except && tabs->isWindow())
                return tabs;
        return nullptr;
    }

    static int floatingWindows()
    {
        int count = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            count += qobject_cast<TabWidget *>(w) != nullptr;
        return count;
    }

private slots:
    void constructionSetsUpTheBar()
    {
        Host host;
        TabWidget tabs(&host);
        auto *bar = qobject_cast<TabBar *>(tabs.tabBar());
        QVERIFY(bar);
        QCOMPARE(bar->elideMode(), Qt::ElideNone);
        QVERIFY(bar->isMovable() && bar->acceptDrops() && tabs.acceptDrops());
        QVERIFY(tabs.usesScrollButtons());
        QCOMPARE(bar->selectionBehaviorOnRemove(), QTabBar::SelectLeftTab);
        QVERIFY(TabBar::hasDetachMarker(QScopedPointer<QMimeData>(marker()).data()));
        QVERIFY(!TabBar::hasDetachMarker(QScopedPointer<QMimeData>(marker("other")).data()));
        QVERIFY(!TabBar::hasDetachMarker(nullptr));
    }

    void insertingPages()
    {
        Host host;
        host.setWindowTitle("Host title");
        auto *tabs = new TabWidget(&host);
        QWidget *a = page("a");
        QWidget *b = page("b");
        tabs->insertWidget(a, QRect());
        tabs->insertWidget(b, QRect(5, 5, 0, 100));
        QCOMPARE(titles(tabs), QStringList({"a", "b"}));
        QCOMPARE(tabs->currentWidget(), b);
        tabs->insertWidget(a, QRect(1, 1, 50, 50));
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->currentWidget(), a);

        QWidget *c = page("c");
        tabs->insertWidget(c, QRect(100, 120, 400, 300));
        QVERIFY(!tabs->hasWidget(c));
        TabWidget *floating = floatingOf(host, tabs);
        QVERIFY(floating);
        QCOMPARE(titles(floating), QStringList("c"));
        QCOMPARE(floating->pos(), QPoint(100, 120));
        QCOMPARE(floating->size(), QSize(400, 300));
        QCOMPARE(floating->windowType(), Qt::Tool);
        QCOMPARE(floating->windowTitle(), QString("Host title"));
        QCOMPARE(tabs->currentIndex(), 0);
        QVERIFY(host.emptied.isEmpty());
    }

    void detachingOpensAFloatingWindow()
    {
        Host host;
        auto *tabs = new TabWidget(&host);
        tabs->insertWidget(page("a"), QRect());
        tabs->insertWidget(page("b"), QRect());
        QPoint none;
        tabs->DetachTab(1, none);
        TabWidget *floating = floatingOf(host, tabs);
        QVERIFY(floating && floating->isVisible());
        QCOMPARE(floating->parentWidget(), &host);
        QCOMPARE(floating->size(), QSize(640, 480));
        QCOMPARE(titles(floating), QStringList("b"));
        QCOMPARE(titles(tabs), QStringList("a"));
        QVERIFY(host.emptied.isEmpty());

        QPoint dropped(30, 40);
        floating->DetachTab(0, dropped);
        QCOMPARE(host.emptied, QList<TabWidget *>({floating}));
        TabWidget *second = nullptr;
        for (TabWidget *w : host.findChildren<TabWidget *>())
            if (w != tabs && w != floating)
                second = w;
        QVERIFY(second);
        QCOMPARE(second->pos(), QPoint(30, 40));
        QPoint ignored;
        tabs->DetachTab(7, ignored);
        QCOMPARE(host.findChildren<TabWidget *>().size(), 3);
    }

    void takingTheCurrentPage()
    {
        Host host;
        auto *from = new TabWidget(&host);
        auto *to = new TabWidget(&host);
        from->insertWidget(page("a"), QRect());
        from->insertWidget(page("b"), QRect());
        to->insertWidget(page("x"), QRect());
        QSignalSpy emptied(to, &TabWidget::OnEmpty);
        to->takeCurrentFrom(from);
        QCOMPARE(titles(to), QStringList({"x", "b"}));
        QCOMPARE(to->currentWidget()->windowTitle(), QString("b"));
        QCOMPARE(emptied.count(), 0);
        to->takeCurrentFrom(from);
        QCOMPARE(titles(to), QStringList({"x", "b", "a"}));
        QCOMPARE(emptied.count(), 1);
        QCOMPARE(host.emptied, QList<TabWidget *>({from}));
        to->takeCurrentFrom(nullptr);
        to->takeCurrentFrom(to);
        QCOMPARE(to->count(), 3);
    }

    void movingATabKeepsItsLabel()
    {
        Host host;
        TabWidget tabs(&host);
        for (const char *title : {"a", "b", "c"})
            tabs.insertWidget(page(title), QRect());
        tabs.setTabText(0, "renamed");
        tabs.MoveTab(0, 2);
        QCOMPARE(titles(&tabs), QStringList({"b", "c", "a"}));
        QCOMPARE(tabs.tabText(2), QString("renamed"));
        QCOMPARE(tabs.currentIndex(), 2);
        tabs.MoveTab(9, 0);
        QCOMPARE(tabs.count(), 3);
    }

    void closingAFloatingWindowReportsIt()
    {
        Host host;
        auto *tabs = new TabWidget(&host);
        tabs->makeFloating();
        tabs->insertWidget(page("a"), QRect());
        tabs->show();
        QVERIFY(tabs->close());
        QVERIFY(!tabs->isVisible());
        QCOMPARE(host.closed, QList<TabWidget *>({tabs}));
        TabWidget plain(&host);
        plain.close();
        QCOMPARE(host.closed.size(), 1);
    }

    void floatingWithoutParentIsAnApplicationWindow()
    {
        QCoreApplication::setApplicationName("Remote test");
        TabWidget orphan(nullptr);
        orphan.makeFloating();
        QCOMPARE(orphan.windowTitle(), QString("Remote test"));
        orphan.insertWidget(page("a"), QRect());
        QPoint none;
        orphan.DetachTab(0, none);
        QVERIFY(orphan.isEmpty());
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<TabWidget *>(w) && w != &orphan)
                delete w;
    }

    void onlyMarkedDragsAreAccepted_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("marker") << QByteArray("application/tab-detach") << true;
        QTest::newRow("other bytes") << QByteArray("application/tab-detach2") << false;
    }

    void onlyMarkedDragsAreAccepted()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, accepted);
        Host host;
        TabWidget tabs(&host);
        tabs.insertWidget(page("a"), QRect());
        QScopedPointer<QMimeData> mime(marker(data));
        for (QWidget *target :
             {static_cast<QWidget *>(&tabs), static_cast<QWidget *>(tabs.tabBar())}) {
            QDragEnterEvent enter({5, 5}, Qt::CopyAction | Qt::MoveAction, mime.data(),
                                  Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &enter);
            QCOMPARE(enter.isAccepted(), accepted);
            // A drop that comes from no object of this program moves nothing.
            QDropEvent drop({5, 5}, Qt::MoveAction, mime.data(), Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &drop);
            QVERIFY(!drop.isAccepted());
            QCOMPARE(tabs.count(), 1);
        }
    }

    void luaClassDrivesTheTabWidget()
    {
        LuaFixture f;
        QCoreApplication::setApplicationName("Lua tabs");
        LUA_RUN(f, "t = qt.TabWidget.create() a = qt.QWidget.create(nil, false) "
                   "b = qt.QWidget.create(nil, false) b:setTitle('bee')");
        auto *tabs = qobject_cast<TabWidget *>(f.widget("t"));
        QVERIFY(tabs && tabs->isWindow() && !tabs->isVisible());
        QCOMPARE(tabs->windowTitle(), QString("Lua tabs"));
        QCOMPARE(f.eval("t:isEmpty() and #t:widgets() == 0 and t:currentWidget() == nil"),
                 QString("true"));
        LUA_RUN(f, "t:insertWidget(a) t:insertWidget(b, 'not a table') t:setCurrentWidget(a)");
        QCOMPARE(f.eval("rawequal(t:currentWidget(), a) and rawequal(t:widgets()[2], b)"),
                 QString("true"));
        QCOMPARE(tabs->tabText(1), QString("bee"));
        LUA_RUN(f, "t:removeWidget(a) t:setCurrentWidget(a)");
        QCOMPARE(f.eval("t:hasWidget(a) or not t:hasWidget(b)"), QString("false"));
        LUA_RUN(f, "t:showDropTarget()");
        QVERIFY(tabs->showsDropTarget());
        LUA_RUN(f, "t:showDropTarget(nil) t:show() t:showTabBar(false)");
        QVERIFY(!tabs->showsDropTarget());
        QVERIFY(!tabs->tabBar()->isVisible());
        LUA_RUN(f, "t:insertWidget(a, {x=100, y=100, w=400, h=300})");
        QCOMPARE(f.eval("t:hasWidget(a)"), QString("false"));
        QVERIFY(!f.run("qt.TabWidget.isEmpty(a)"));
        QVERIFY(f.error.contains("TabWidget expected, got userdata"));
        QVERIFY(!f.run("t:insertWidget(5)"));
        QVERIFY(f.error.contains("QWidget expected, got number"));
    }

    // A tab widget that took one of its ancestors as a page would be its own ancestor; each case
    // runs in a child process, so a hang fails the test instead of blocking the suite.
    void insertingAnAncestorIsAnError_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::newRow("itself") << QByteArray("tw = qt.TabWidget.create() tw:show() page = tw");
        QTest::newRow("the window around its page")
            << QByteArray("outer = qt.TabWidget.create() p = qt.QWidget.create(nil, false) "
                          "outer:insertWidget(p) outer:show() tw = qt.TabWidget.create(p) "
                          "page = outer");
    }

    void insertingAnAncestorIsAnError()
    {
        QFETCH(QByteArray, setup);
        const ChildResult result =
            runChild("function MsgHandler() return 0 end " + setup +
                         " print('result', pcall(tw.insertWidget, tw, page))",
                     50, 10000);
        QVERIFY2(result.output.contains("result\tfalse\t") &&
                     result.output.contains("own ancestor"),
                 qPrintable(result.output));
        QCOMPARE(result.exitCode, 0);
    }

    void hostWindowsCannotBecomePages()
    {
        HostTree tree;
        tree.writeApplication(QByteArray(quitWhenRunning) + R"(
            local qt = require 'qt.core'
            function MsgHandler(h, e) if e == 'onStartup' then quitWhenRunning() end return 0 end
            print('main window', pcall(rootWidget.insertWidget, rootWidget, mainWindow))
            print('root widget', pcall(rootWidget.insertWidget, rootWidget, rootWidget))
        )");
        const HostResult result = tree.run({}, 10000);
        QVERIFY2(result.finished, qPrintable(result.output));
        QVERIFY2(QRegularExpression("main window\tfalse\t[^\n]*own ancestor")
                     .match(result.output)
                     .hasMatch(),
                 qPrintable(result.output));
        QVERIFY(QRegularExpression("root widget\tfalse\t[^\n]*own ancestor")
                    .match(result.output)
                    .hasMatch());
        QCOMPARE(result.exitCode, 0);
    }

    void detachedWindowSizeOutOfRange()
    {
        LuaFixture f;
        LUA_RUN(f, "tw = qt.TabWidget.create() w = qt.QWidget.create(nil, false)");
        const int windows = floatingWindows();
        QVERIFY(!f.run("tw:insertWidget(w, {x=0, y=0, w=20000, h=20000})"));
        QVERIFY2(f.error.contains("out of range"), qPrintable(f.error));
        QCOMPARE(floatingWindows(), windows);
        QCOMPARE(f.eval("tw:hasWidget(w)"), QString("false"));
    }

    void dropTargetFlag()
    {
        Host host;
        TabWidget tabs(&host);
        QVERIFY(!tabs.showsDropTarget());
        tabs.setShowDropTarget(true);
        QVERIFY(tabs.showsDropTarget());
        tabs.setShowDropTarget(false);
        QVERIFY(!tabs.showsDropTarget());
    }
};

QTEST_MAIN(TestTabWidget)
#include "tst_tabwidget.moc"
