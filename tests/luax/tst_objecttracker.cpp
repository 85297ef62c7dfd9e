#include "common/hosttree.h"
#include "common/luafixture.h"
#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "qtcore/widget.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QMimeData>
#include <QPainter>
#include <QtTest>

// A widget that records which events reached its own handlers.
class RecordingWidget : public QWidget
{
public:
    QStringList seen;

protected:
    void mousePressEvent(QMouseEvent *) override { seen << "press"; }
    void closeEvent(QCloseEvent *event) override
    {
        seen << "close";
        event->accept();
    }
};

class TestObjectTracker : public QObject
{
    Q_OBJECT

private:
    static void sendMouse(QWidget *w, QEvent::Type type, Qt::MouseButton button, QPoint pos)
    {
        QMouseEvent event(type, pos, w->mapToGlobal(pos), button, button, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &event);
    }

    static QMimeData *mime(const QByteArray &data)
    {
        auto *m = new QMimeData;
        m->setData("application/vnd.lua.dragdrop", data);
        return m;
    }

private slots:
    void mouseEventsReachMsgHandler()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false)");
        QWidget *w = f.widget("w");
        f.events();
        sendMouse(w, QEvent::MouseButtonPress, Qt::LeftButton, {3, 4});
        sendMouse(w, QEvent::MouseButtonPress, Qt::RightButton, {5, 6});
        sendMouse(w, QEvent::MouseButtonPress, Qt::MiddleButton, {7, 8});
        sendMouse(w, QEvent::MouseMove, Qt::LeftButton, {9, 10});
        sendMouse(w, QEvent::MouseButtonRelease, Qt::MiddleButton, {1, 1});
        sendMouse(w, QEvent::MouseButtonRelease, Qt::LeftButton, {11, 12});
        QCOMPARE(f.events(), QStringList({"onTouchPress 3 4 1", "onRightClick 5 6 1",
                                          "onTouchMove 9 10 1", "onTouchRelease 11 12 1"}));
    }

    void handlerAnswerConsumesPressAndClose()
    {
        LuaFixture f;
        RecordingWidget w;
        luaX_pushobject(f.L, static_cast<QObject *>(&w), "Widget", LUAX_BORROWED);
        lua_setglobal(f.L, "w");
        w.show();
        LUA_RUN(f, "answer.onTouchPress = true answer.onClose = 1");
        sendMouse(&w, QEvent::MouseButtonPress, Qt::LeftButton, {1, 1});
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        QCOMPARE(w.seen, QStringList());
        LUA_RUN(f, "answer.onTouchPress = false answer.onClose = 0.9");
        sendMouse(&w, QEvent::MouseButtonPress, Qt::LeftButton, {1, 1});
        QVERIFY(w.close());
        QCOMPARE(w.seen, QStringList({"press", "close"}));
        QCOMPARE(f.events().filter("onClose").size(), 2);
    }

    void keyNamesAndModifiers_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const int none = Qt::NoModifier;
        QTest::newRow("ctrl+shift+a")
            << int(Qt::Key_A) << int(Qt::ControlModifier | Qt::ShiftModifier) << "\x01"
            << "onKeyPress \x01 cs 65";
        QTest::newRow("all modifiers")
            << int(Qt::Key_B)
            << int(Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier)
            << "b"
            << "onKeyPress b cas 66";
        QTest::newRow("return") << int(Qt::Key_Return) << none << "\r"
                                << "onKeyPress enter  16777220";
        QTest::newRow("keypad enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "\r"
                                      << "onKeyPress enter  16777221";
        QTest::newRow("escape") << int(Qt::Key_Escape) << none << "\x1b"
                                << "onKeyPress escape  16777216";
        QTest::newRow("left") << int(Qt::Key_Left) << none << ""
                              << "onKeyPress left  16777234";
        QTest::newRow("down") << int(Qt::Key_Down) << none << ""
                              << "onKeyPress down  16777237";
        QTest::newRow("no text") << int(Qt::Key_F1) << none << ""
                                 << "onKeyPress   16777264";
    }

    void keyNamesAndModifiers()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false)");
        f.events();
        QKeyEvent event(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
        QCoreApplication::sendEvent(f.widget("w"), &event);
        QCOMPARE(f.events(), QStringList(expected));
    }

    void geometryEventsAndTheStackRule()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, true)");
        QWidget *w = f.widget("w");
        QVERIFY(QTest::qWaitForWindowExposed(w));
        f.events();
        lua_pushinteger(f.L, 1);
        w->resize(120, 80);
        QCOMPARE(lua_gettop(f.L), 1);
        w->move(40, 30);
        QCOMPARE(lua_gettop(f.L), 0);
        QCOMPARE(f.events(), QStringList({"onResize 120 80", "onMove 40 30"}));
        lua_pushinteger(f.L, 1);
        QEvent other(QEvent::FocusIn);
        QCoreApplication::sendEvent(w, &other);
        QCOMPARE(lua_gettop(f.L), 1);
        lua_settop(f.L, 0);
    }

    void onlyTheProgramsOwnDragsAreForwarded()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false)");
        QWidget *w = f.widget("w");
        w->setAcceptDrops(true);
        f.events();
        for (const QByteArray &data : {QByteArray("dragdrop"), QByteArray("other")}) {
            QScopedPointer<QMimeData> m(mime(data));
            QDragEnterEvent enter({1, 1}, Qt::CopyAction | Qt::MoveAction, m.data(), Qt::LeftButton,
                                  Qt::NoModifier);
            enter.setDropAction(Qt::IgnoreAction);
            QCoreApplication::sendEvent(w, &enter);
            QCOMPARE(enter.isAccepted(), data == "dragdrop");
            QDragMoveEvent move({2, 2}, Qt::CopyAction, m.data(), Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(w, &move);
            QDropEvent drop({2, 2}, Qt::CopyAction, m.data(), Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(w, &drop);
            // The application delivers a leave only to the target of a real drag.
            QDragLeaveEvent leave;
            QVERIFY(!ObjectTracker::instance(f.L)->eventFilter(w, &leave));
        }
        // A drop whose source is not an object of this program is never forwarded.
        QCOMPARE(
            f.events().join(","),
            QStringList({"onDragEnter", "onDragMove", "onDragLeave", "onDragLeave"}).join(","));
    }

    void handlerErrorWithFormatIsReportedAndNotConsumed()
    {
        const ChildResult result = runChild(
            "function MsgHandler(h, name) if name == 'onMove' then error('bad move') end end "
            "w = qt.QWidget.create(nil, true) w:setGeometry(5, 5, 20, 20) print('went on')",
            50);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(QRegularExpression("LuaMsgHandler onMove 0x[0-9a-f]+ Widget\nError: "
                                    "LuaMsgHandler\n\\[.*bad move")
                     .match(result.output)
                     .hasMatch(),
                 qPrintable(result.output));
        QVERIFY(result.output.contains("went on"));
    }

    void destructionThroughParentKillsTheHandle()
    {
        LuaFixture f;
        LUA_RUN(f,
                "parent = qt.QWidget.create(nil, false) child = qt.QWidget.create(parent, false) "
                "function qt.Widget.__deleted(h) gone = (gone or 0) + 1 goneHandle = h end");
        delete f.widget("parent");
        QCOMPARE(f.eval("gone"), QString("2"));
        QVERIFY(!f.run("child.hide(child)"));
        QVERIFY(
            f.error.endsWith("bad argument #1 to 'hide' (attempting to access deleted QWidget)"));
        QCOMPARE(f.eval("rawequal(goneHandle, parent) or rawequal(goneHandle, child)"),
                 QString("true"));
    }

    void oneHandlePerObjectUntilItDies()
    {
        LuaFixture f;
        auto *object = new QObject;
        luaX_pushqobject(f.L, object);
        luaX_pushqobject(f.L, object);
        QVERIFY(lua_rawequal(f.L, -1, -2));
        QCOMPARE(object->property("lua").value<void *>(), static_cast<void *>(f.L));
        lua_setglobal(f.L, "old");
        lua_pop(f.L, 1);
        delete object;
        QVERIFY(!luaX_testclass(f.L, 0, "QObject"));
        lua_getglobal(f.L, "old");
        QCOMPARE(luaX_testclass(f.L, -1, "QObject"), nullptr);
        lua_pop(f.L, 1);
        luaX_pushqobject(f.L, nullptr);
        QVERIFY(lua_isnil(f.L, -1));
        lua_pop(f.L, 1);
    }

    void objectsOutlivingTheInterpreterAreUntracked()
    {
        QWidget holder;
        auto *survivor = new Widget(&holder);
        {
            LuaFixture f;
            luaX_pushqobject(f.L, survivor);
            lua_setglobal(f.L, "w");
            QCOMPARE(f.eval("w:property('lua') == nil and lcdCanvas ~= nil"), QString("true"));
            QVERIFY(survivor->property("lua").isValid());
        }
        QVERIFY(!survivor->property("lua").isValid());
        survivor->resize(10, 10);
        QVERIFY(!survivor->grab().isNull());
    }

    void paintGoesThroughTheSharedPainter()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false) answer.onPaint = function(h) "
                   "painted = rawequal(h, w) end");
        f.widget("w")->resize(20, 20);
        f.events();
        f.widget("w")->grab();
        QCOMPARE(f.events().filter("onPaint"), QStringList("onPaint"));
        QCOMPARE(f.eval("painted"), QString("true"));
        QVERIFY(!ObjectTracker::instance(f.L)->painter()->isActive());
    }

    void desktopAndModuleFunctions()
    {
        LuaFixture f;
        QCOMPARE(f.eval("select('#', qt.Desktop.availableGeometry())"), QString("4"));
        QCOMPARE(f.eval("math.type(select(3, qt.Desktop:availableGeometry()))"),
                 QString("integer"));
        LUA_RUN(f, "w = qt.QWidget.create(nil, false)");
        QString title;
        rejectNextModal(&title);
        QCOMPARE(f.eval("qt.chooseFile(w)"), QString("nil"));
        QCOMPARE(title, QString("Choose a file"));
        QVERIFY(!f.run("qt.chooseFile()"));
        QVERIFY(f.error.contains("QWidget expected, got no value"));
        const ChildResult result = runChild("qt.debugString('to the debugger')");
        QVERIFY(result.output.contains("to the debugger\n"));
    }

    // A handler that runs a dialog while a timer destroys the object whose event it handles (or
    // an ancestor of it): the object may only go once the handler has returned, as the toolkit
    // still works on it after the event. The application quits when the object dies.
    void destroyDuringOwnEventWaitsForTheDelivery_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::newRow("close") << QByteArray(
            "target = qt.QWidget.create(nil, true) doomed = target event = 'onClose' "
            "trigger = function() target:close() end");
        QTest::newRow("resize") << QByteArray(
            "target = qt.QWidget.create(nil, true) doomed = target event = 'onResize' "
            "trigger = function() target:setGeometry(10, 10, 80, 60) end");
        QTest::newRow("resize, parent destroyed") << QByteArray(
            "doomed = qt.QWidget.create(nil, true) target = qt.QWidget.create(doomed) "
            "event = 'onResize' trigger = function() target:setGeometry(5, 5, 30, 20) end");
        QTest::newRow("line edit resize")
            << QByteArray("target = qt.QLineEdit.create() doomed = target event = 'onResize' "
                          "trigger = function() target:setGeometry(10, 10, 80, 30) end");
    }

    void destroyDuringOwnEventWaitsForTheDelivery()
    {
        QFETCH(QByteArray, setup);
        HostTree tree;
        QByteArray application = QByteArray(laterFunction) + R"(
            local qt = require 'qt.core'
            local delivering, handled
            function qt.QWidget.__deleted(h)
                if rawequal(h, target) then
                    print('deleted after the handler', not delivering)
                    mainWindow:close()
                end
            end
            function MsgHandler(h, e)
                if e == 'onStartup' then
                    -- set-up
                    later(0, trigger)
                    later(3000, function() print('gave up') os.exit(3) end)
                elseif rawequal(h, target) and e == event and not handled then
                    handled = true
                    delivering = true
                    later(50, function() doomed:destroy() end)
                    -- Ended by the destruction (rejected: 0), long before its own end.
                    local d = qt.QDialog.create(target)
                    later(1500, function() d:done(5) end)
                    print('exec', d:exec())
                    delivering = false
                end
                return 0
            end
        )";
        application.replace("-- set-up", setup);
        tree.writeApplication(application);
        const HostResult result = tree.run({}, 10000);
        const int returned = result.output.indexOf("exec\t0\n");
        QVERIFY2(returned >= 0, qPrintable(result.output));
        QVERIFY2(result.output.indexOf("deleted after the handler\ttrue\n") > returned,
                 qPrintable(result.output));
        QCOMPARE(result.exitCode, 0);
    }

    void destroyDuringKeyPressWaitsForTheDelivery()
    {
        LuaFixture f;
        LUA_RUN(f, QByteArray(laterFunction) + R"(
            e = qt.QLineEdit.create()
            function qt.QWidget.__deleted(h)
                if rawequal(h, e) then deletedWhileDelivering = delivering end
            end
            answer.onKeyPress = function(h)
                if not rawequal(h, e) then return 0 end
                delivering = true
                later(50, function() e:destroy() end)
                local d = qt.QDialog.create(e)
                later(150, function() d:done(0) end)
                result = d:exec()
                delivering = false
                return 0
            end
        )");
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
        QCoreApplication::sendEvent(f.widget("e"), &press);
        QCOMPARE(f.eval("result"), QString("0"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(f.eval("deletedWhileDelivering"), QString("false"));
        QVERIFY(!f.widget("e"));
    }

    void chooseFileEndsWhenItsParentDies()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false) t = qt.Timer.create() t:setTimeout(50) "
                   "t:setSingleShot() function t:onTimeout() w:destroy() end t:start()");
        // A dialog that outlived its parent would be rejected from here, too late.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        watchdog.start(3000);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(f.eval("qt.chooseFile(w)"), QString("nil"));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!f.widget("w"));
    }

    void deletedHandlerCannotUseTheDyingObject_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<QString>("error");
        QTest::newRow("timer")
            << QByteArray("o = qt.Timer.create() o:setTimeout(10) o:start() "
                          "o.__deleted = function(s) ok, message = pcall(s.stop, s) end")
            << "attempting to access deleted Timer";
        QTest::newRow("widget")
            << QByteArray(
                   "o = qt.QWidget.create(nil, false) getmetatable(o).__deleted = "
                   "function(s) if rawequal(s, o) then ok, message = pcall(s.hide, s) end end")
            << "attempting to access deleted QWidget";
    }

    void deletedHandlerCannotUseTheDyingObject()
    {
        QFETCH(QByteArray, setup);
        QFETCH(QString, error);
        LuaFixture f;
        LUA_RUN(f, setup + " o:destroy()");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(f.eval("ok"), QString("false"));
        QVERIFY2(f.eval("message").contains(error), qPrintable(f.eval("message")));
    }

    void collectedTrackerLeavesDeadHandles()
    {
        LuaFixture f;
        LUA_RUN(f, "old = qt.QWidget.create(nil, false) "
                   "qt.Tracker.__gc(debug.getregistry()['Tracker.Instance']) "
                   "w = qt.QWidget.create(nil, false)");
        QVERIFY(!f.run("old:hide()"));
        QVERIFY2(f.error.contains("attempting to access deleted QWidget"), qPrintable(f.error));
        // The new widget has a tracker of its own again: its events reach Lua.
        f.events();
        sendMouse(f.widget("w"), QEvent::MouseButtonPress, Qt::LeftButton, {1, 2});
        QCOMPARE(f.events(), QStringList("onTouchPress 1 2 1"));
        // Collected while its own forwarded event is in Lua: the delivery ends without it.
        LUA_RUN(f, "function MsgHandler(h, e) if e == 'onTouchMove' then "
                   "qt.Tracker.__gc(debug.getregistry()['Tracker.Instance']) moved = true end "
                   "return 1 end");
        sendMouse(f.widget("w"), QEvent::MouseMove, Qt::LeftButton, {3, 4});
        QCOMPARE(f.eval("moved"), QString("true"));
    }

    // Globals that raise for an unknown name, and no MsgHandler: the event goes nowhere and
    // nothing is raised outside a protected call.
    void strictGlobalsWithoutHandler()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false) rawset(_G, 'MsgHandler', nil) "
                   "setmetatable(_G, {__index = function(_, k) error('undeclared ' .. k, 2) end})");
        sendMouse(f.widget("w"), QEvent::MouseButtonPress, Qt::LeftButton, {1, 2});
        QVERIFY(f.run("alive = true"));
    }

    void moduleRegistersItsClassesInOrder()
    {
        const ChildResult result = runChild("");
        QStringList lines = result.output.split('\n').filter("luaX_createclass");
        QCOMPARE(lines,
                 QStringList(
                     {"luaX_createclass QObject:-", "luaX_createclass QWidget:QObject",
                      "luaX_createclass Widget:QWidget", "luaX_createclass QDialog:QWidget",
                      "luaX_createclass PushButton:QWidget", "luaX_createclass QLineEdit:QWidget",
                      "luaX_createclass QPlainTextEdit:QWidget",
                      "luaX_createclass TabWidget:QWidget", "luaX_createclass QPainter:-",
                      "luaX_createclass QFont:-", "luaX_createclass Image:-",
                      "luaX_createclass Tracker:-", "luaX_createclass Desktop:-",
                      "luaX_createclass ElapsedTimer:-", "luaX_createclass Timer:QObject"}));
    }
};

QTEST_MAIN(TestObjectTracker)
#include "tst_objecttracker.moc"
