#include "common/luafixture.h"
#include "qtcore/widget.h"

#include <QtTest>

class TestWidget : public QObject
{
    Q_OBJECT

private slots:
    void createMakesWidgetsWithParentAndVisibility()
    {
        LuaFixture f;
        LUA_RUN(f, "top = qt.QWidget.create() odd = qt.QWidget.create(42) "
                   "p = qt.QWidget.create(nil, false) c1 = qt.QWidget.create(p, false) "
                   "c2 = qt.QWidget.create(p, nil) c3 = qt.QWidget.create(p)");
        QWidget *top = f.widget("top");
        QVERIFY(top->isWindow() && top->isVisible());
        QVERIFY(f.widget("odd")->isWindow() && f.widget("odd")->isVisible());
        QWidget *p = f.widget("p");
        QVERIFY(!p->isVisible());
        for (const char *name : {"c1", "c2", "c3"})
            QCOMPARE(f.widget(name)->parentWidget(), p);
        QVERIFY(f.widget("c1")->isHidden() && f.widget("c2")->isHidden());
        QVERIFY(!f.widget("c3")->isHidden());
        QCOMPARE(f.eval("getmetatable(top).__classname"), QString("Widget"));
        QCOMPARE(QString(top->metaObject()->className()), QString("Widget"));
        LUA_RUN(f, "top:setName('named')");
        QCOMPARE(top->objectName(), QString("named"));
        QCOMPARE(f.eval("qt.Widget.create == qt.QWidget.create"), QString("true"));
        delete top;
        delete f.widget("odd");
        delete p;
    }

    void geometryMoveAndShow()
    {
        LuaFixture f;
        LUA_RUN(f, "p = qt.QWidget.create(nil, false) c = qt.QWidget.create(p) "
                   "c:setGeometry(10.9, 20.2, 100.7, 50) g = {c:geometry()}");
        QCOMPARE(f.eval("table.concat(g, ' ')"), QString("10 20 100 50"));
        LUA_RUN(f, "c:move() c:move() g = {c:geometry()}");
        QCOMPARE(f.eval("table.concat(g, ' ')"), QString("12 20 100 50"));
        QVERIFY(!f.run("c:setGeometry(1, 2, 3)"));
        QVERIFY(
            f.error.contains("bad argument #4 to 'setGeometry' (number expected, got no value)"));
        LUA_RUN(f, "p:show('FullScreen')");
        QVERIFY(f.widget("p")->isVisible() && !f.widget("p")->isFullScreen());
        LUA_RUN(f, "p:show('fullscreen')");
        QVERIFY(f.widget("p")->isFullScreen());
        QCOMPARE(f.eval("p:isMaximized()"), QString("false"));
        LUA_RUN(f, "c:setGeometry(0, 0, 10, 10) gx, gy = c:globalPos() hx, hy = c:globalPos(3, 4)");
        const QPoint origin = f.widget("c")->mapToGlobal(QPoint(0, 0));
        QCOMPARE(f.eval("gx .. ',' .. gy"), QString("%1,%2").arg(origin.x()).arg(origin.y()));
        QCOMPARE(f.eval("hx - gx .. ',' .. hy - gy"), QString("3,4"));
        delete f.widget("p");
    }

    void optionsFlagsAndState()
    {
        LuaFixture f;
        LUA_RUN(f, "p = qt.QWidget.create(nil, false) w = qt.QWidget.create(p)");
        QWidget *w = f.widget("w");
        LUA_RUN(f, "w:setOption('hidden')");
        QVERIFY(w->isHidden());
        LUA_RUN(f, "w:setOption('hidden', false)");
        QVERIFY(!w->isHidden());
        LUA_RUN(f, "w:setOption('focusQuery', true) w:setOption()");
        QVERIFY(!w->isHidden());
        LUA_RUN(f, "w:setOption('acceptDrops')");
        QVERIFY(w->acceptDrops());
        QVERIFY(!f.run("w:setOption('Hidden')"));
        QVERIFY(f.error.contains("bad argument #1 to 'setOption' (invalid option 'Hidden')"));

        QCOMPARE(f.eval("w:state()"), QString(""));
        LUA_RUN(f, "w:setEnabled(nil)");
        QVERIFY(!w->isEnabled());
        QCOMPARE(f.eval("w:state() .. tostring(w:isEnabled())"), QString("disabledfalse"));
        LUA_RUN(f, "w:setEnabled()");
        QVERIFY(w->isEnabled());

        LUA_RUN(f, "w:setCanFocus()");
        QCOMPARE(w->focusPolicy(), Qt::StrongFocus);
        LUA_RUN(f, "p:show() w:setFocus()");
        QCOMPARE(f.eval("w:hasTouchFocus()"), QString("false"));
        LUA_RUN(f, "w:setCanFocus(false)");
        QCOMPARE(w->focusPolicy(), Qt::NoFocus);

        LUA_RUN(f, "w:setVisible(false)");
        QVERIFY(w->isHidden());
        LUA_RUN(f, "w:setVisible()");
        QVERIFY(!w->isHidden());
        delete f.widget("p");
    }

    void windowAppearance()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false) w:setGeometry(0, 0, 50, 40) "
                   "w:setFrame(false) w:setGeometry(0, 0, 80, 60)");
        QWidget *w = f.widget("w");
        QCOMPARE(w->mask(), QRegion(0, 0, 50, 40));
        QVERIFY(!w->mask().contains(QPoint(70, 50)));
        LUA_RUN(f, "w:setFrame()");
        QVERIFY(w->mask().isEmpty());

        w->setAutoFillBackground(true);
        LUA_RUN(f, "w:setFloating()");
        QCOMPARE(int(w->windowFlags() & 0x4000B), 0x4000B);
        QCOMPARE(w->windowType(), Qt::Tool);
        QVERIFY(!w->autoFillBackground());

        LUA_RUN(f, "w:setTitle('Title') w:setStyleSheet('QWidget { color: red; }') w:repolish()");
        QCOMPARE(w->windowTitle(), QString("Title"));
        QCOMPARE(w->styleSheet(), QString("QWidget { color: red; }"));
        QVERIFY(!f.run("w:setFont(w)"));
        QVERIFY(f.error.contains("bad argument #1 to 'setFont' (QFont expected, got userdata)"));
        delete w;
    }

    // A font given to a child before its window becomes a page (and so re-styled by the
    // application's style sheet) is still the child's font afterwards.
    void fontSurvivesBecomingAPage()
    {
        qApp->setStyleSheet("QTabWidget { background: #1e1e1e; }");
        LuaFixture f;
        LUA_RUN(f, "tabs = qt.TabWidget.create(nil, false) page = qt.QWidget.create(nil, false) "
                   "e = qt.QLineEdit.create(page) font = qt.QFont.create() "
                   "font:setFont('DejaVu Serif', 28, 'bold') e:setFont(font) "
                   "tabs:insertWidget(page) tabs:show()");
        QCoreApplication::processEvents();
        const QFont font = f.widget("e")->font();
        qApp->setStyleSheet(QString());
        QCOMPARE(font.family(), QString("DejaVu Serif"));
        QCOMPARE(font.pixelSize(), 28);
        QVERIFY(font.bold());
        // A font in the widget's own style sheet wins, as it does in Qt.
        LUA_RUN(f, "e:setStyleSheet('QLineEdit { font-size: 40px; }')");
        QCOMPARE(f.widget("e")->font().pixelSize(), 40);
        delete f.widget("tabs");
    }

    void reparenting()
    {
        LuaFixture f;
        LUA_RUN(f, "a = qt.QWidget.create(nil, false) b = qt.QWidget.create(nil, false) "
                   "b:setParent(a)");
        QCOMPARE(f.widget("b")->parentWidget(), f.widget("a"));
        LUA_RUN(f, "b:setParent()");
        QVERIFY(!f.widget("b")->parentWidget());
        QVERIFY(!f.run("b:setParent(5)"));
        QVERIFY(f.error.contains("bad argument #1 to 'setParent' (QWidget expected, got number)"));
        delete f.widget("a");
        delete f.widget("b");
    }

    void propertiesRoundTrip()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false) w:setProperty('n', 42) "
                   "w:setProperty('b', true) w:setProperty('s', 'text') w:setProperty('t', {})");
        QCOMPARE(f.eval("w:property('n')"), QString("42"));
        QCOMPARE(f.eval("math.type(w:property('b'))"), QString("integer"));
        QCOMPARE(f.eval("w:property('s')"), QString("text"));
        QCOMPARE(f.eval("w:property('t')"), QString("0.0"));
        QCOMPARE(f.eval("w:property('missing')"), QString("nil"));
        QCOMPARE(f.eval("w:property('lua')"), QString("nil"));
        LUA_RUN(f, "w:setProperty('n')");
        QCOMPARE(f.eval("w:property('n')"), QString("nil"));
        QVERIFY(!f.run("w:property()"));
        delete f.widget("w");
    }

    void destroyedWidgetRaisesOnShow()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false) w:destroy()");
        QVERIFY(f.run("w:show()"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!f.run("w:show()"));
        QVERIFY(
            f.error.contains("calling 'show' on bad self (attempting to access deleted QWidget)"));
    }

    void closeReachesLua()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create()");
        f.events();
        LUA_RUN(f, "w:close()");
        QCOMPARE(f.events(), QStringList("onClose"));
        QVERIFY(!f.widget("w")->isVisible());
        delete f.widget("w");
    }

    void msgBoxIsModalAndReturnsWhenClosed()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false)");
        QString title;
        rejectNextModal(&title);
        LUA_RUN(f, "w:msgBox('hello') after = true");
        QCOMPARE(title, QString("Message Box"));
        QCOMPARE(f.eval("after"), QString("true"));
        QVERIFY(!f.run("w:msgBox()"));
        delete f.widget("w");
    }

    // The tracker keeps its interpreter in the property 'lua'; Lua may neither set nor clear it.
    void luaPropertyIsReserved_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("number") << QByteArray("5");
        QTest::newRow("string") << QByteArray("'text'");
        QTest::newRow("boolean") << QByteArray("true");
        QTest::newRow("table") << QByteArray("{}");
        QTest::newRow("nil") << QByteArray("nil");
    }

    void luaPropertyIsReserved()
    {
        QFETCH(QByteArray, value);
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false) t = qt.Timer.create() v = " + value);
        for (const QByteArray &object : {QByteArray("w"), QByteArray("t")}) {
            QVERIFY(!f.run(object + ":setProperty('lua', v)"));
            QVERIFY2(f.error.contains("property 'lua' is reserved"), qPrintable(f.error));
            QCOMPARE(f.eval(object + ":property('lua')"), QString("nil"));
        }
        LUA_RUN(f, "answer.onPaint = function(h) painted = rawequal(h, w) end "
                   "function t:onTimeout() ticked = true end "
                   "t:setTimeout(5) t:setSingleShot() t:start()");
        QWidget *w = f.widget("w");
        w->resize(20, 20);
        w->grab();
        QCOMPARE(f.eval("painted"), QString("true"));
        QTRY_COMPARE(f.eval("ticked"), QString("true"));
    }

    void outOfRangeGeometryIsAnError_data()
    {
        QTest::addColumn<QByteArray>("call");
        QTest::newRow("x past int") << QByteArray("c:setGeometry(2^31 - 1, 0, 10, 10)");
        QTest::newRow("x past 32767") << QByteArray("c:setGeometry(32768, 0, 10, 10)");
        QTest::newRow("y below -32768") << QByteArray("c:setGeometry(0, -32769, 10, 10)");
        QTest::newRow("width past 16384") << QByteArray("c:setGeometry(0, 0, 16385, 10)");
        QTest::newRow("negative height") << QByteArray("c:setGeometry(0, 0, 10, -1)");
        QTest::newRow("height 2^40") << QByteArray("c:setGeometry(0, 0, 10, 2^40)");
    }

    void outOfRangeGeometryIsAnError()
    {
        QFETCH(QByteArray, call);
        LuaFixture f;
        LUA_RUN(f, "p = qt.QWidget.create(nil, false) c = qt.QWidget.create(p) "
                   "c:setGeometry(1, 2, 3, 4)");
        QVERIFY(!f.run(call));
        QVERIFY2(f.error.contains("out of range"), qPrintable(f.error));
        QCOMPARE(f.eval("table.concat({c:geometry()}, ' ')"), QString("1 2 3 4"));
        LUA_RUN(f, "c:setGeometry(-32768, 32767, 16384, 0)");
        QCOMPARE(f.eval("table.concat({c:geometry()}, ' ')"), QString("-32768 32767 16384 0"));
    }

    void textsKeepZeroBytes()
    {
        LuaFixture f;
        LUA_RUN(
            f, R"(w = qt.QWidget.create(nil, false) w:setName('a\0b') w:setProperty('p', 'x\0y'))");
        QWidget *w = f.widget("w");
        QCOMPARE(w->objectName(), QString::fromUtf8("a\0b", 3));
        QCOMPARE(f.eval(R"(w:property('objectName') == 'a\0b')"), QString("true"));
        QCOMPARE(f.eval(R"(w:property('p') == 'x\0y')"), QString("true"));
        LUA_RUN(f, R"(w:show('fullscreen\0'))");
        QVERIFY(w->isVisible());
        QVERIFY(!w->isFullScreen());
        QVERIFY(!f.run(R"(w:setOption('hidden\0'))"));
        QVERIFY2(f.error.contains("invalid option"), qPrintable(f.error));
        QVERIFY(w->isVisible());
    }

    void reparentingInsideOwnPaint()
    {
        const ChildResult result = runChild(R"(
            function MsgHandler(h, e)
                if e == 'onPaint' and rawequal(h, w) and not moved then
                    moved = true
                    w:setParent(nil)
                    print('reparented while painting')
                end
                return 0
            end
            p = qt.QWidget.create(nil, true) p:setGeometry(0, 0, 100, 100)
            w = qt.QWidget.create(p) w:setGeometry(10, 10, 40, 40)
        )",
                                            300, 10000);
        QVERIFY2(result.output.contains("reparented while painting"), qPrintable(result.output));
        QCOMPARE(result.exitCode, 0);
    }

    // Each loop would make the parent chain endless; a child process keeps a hang from blocking
    // the suite.
    void parentLoopIsAnError_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::newRow("itself") << QByteArray("a = qt.QWidget.create(nil, false) c = a");
        QTest::newRow("grandchild") << QByteArray("a = qt.QWidget.create(nil, false) "
                                                  "c = qt.QWidget.create(qt.QWidget.create(a))");
        QTest::newRow("through a shown dialog")
            << QByteArray("a = qt.QWidget.create(nil, true) d = qt.QDialog.create(a) d:show() "
                          "c = qt.QWidget.create(d)");
        QTest::newRow("through a floating tab window")
            << QByteArray("a = qt.QWidget.create(nil, true) tw = qt.TabWidget.create(a) "
                          "c = qt.QWidget.create(nil, false) tw:insertWidget(c) tw:show()");
    }

    void parentLoopIsAnError()
    {
        QFETCH(QByteArray, setup);
        const ChildResult result = runChild("function MsgHandler() return 0 end " + setup +
                                                " print('result', pcall(a.setParent, a, c))",
                                            50, 10000);
        QVERIFY2(result.output.contains("result\tfalse\t") &&
                     result.output.contains("own ancestor"),
                 qPrintable(result.output));
        QCOMPARE(result.exitCode, 0);
    }

    void paintErrorIsFatal()
    {
        const ChildResult result = runChild(
            "function MsgHandler(h, name) if name == 'onPaint' then error('paint broke') end end "
            "w = qt.QWidget.create() w:setGeometry(0, 0, 30, 30)",
            3000);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.output.contains("paint broke") && result.output.contains("Call failed"),
                 qPrintable(result.output));
    }
};

QTEST_MAIN(TestWidget)
#include "tst_widget.moc"
