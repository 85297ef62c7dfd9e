#include "common/luafixture.h"
#include "qtcore/pushbutton.h"

#include <QDialog>
#include <QPushButton>
#include <QtTest>

class TestPushButton : public QObject
{
    Q_OBJECT

private slots:
    void clicksAndPaintReachLua()
    {
        LuaFixture f;
        LUA_RUN(f, "b = qt.PushButton.create() b:setGeometry(10, 10, 80, 30) "
                   "answer.onPaint = function(h) painted = lcdCanvas:size() end");
        auto *button = qobject_cast<PushButton *>(f.widget("b"));
        QVERIFY(button && button->isVisible() && button->isWindow());
        QCOMPARE(f.eval("getmetatable(b).__classname"), QString("PushButton"));
        f.events();
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(f.events().contains("onClick"));
        button->grab();
        QCOMPARE(f.eval("painted"), QString("80"));
        LUA_RUN(f, "c = qt.PushButton.create(b)");
        QCOMPARE(f.widget("c")->parentWidget(), button);
    }

    void stateWords()
    {
        LuaFixture f;
        LUA_RUN(f, "b = qt.PushButton.create()");
        auto *button = qobject_cast<QPushButton *>(f.widget("b"));
        QCOMPARE(f.eval("b:state()"), QString(""));
        button->setDown(true);
        QCOMPARE(f.eval("b:state()"), QString("down"));
        LUA_RUN(f, "b:setEnabled(false)");
        QCOMPARE(f.eval("b:state()"), QString("disabled"));
        LUA_RUN(f, "w = qt.QWidget.create(nil, false)");
        QVERIFY(!f.run("qt.PushButton.state(w)"));
        QVERIFY(f.error.contains("PushButton expected, got userdata"));
    }

    void dialogExecEndsWithDone_data()
    {
        QTest::addColumn<QByteArray>("done");
        QTest::addColumn<QString>("result");
        QTest::newRow("no argument") << QByteArray("d:done()") << "0";
        QTest::newRow("one") << QByteArray("d:done(1)") << "1";
    }

    void dialogExecEndsWithDone()
    {
        QFETCH(QByteArray, done);
        QFETCH(QString, result);
        LuaFixture f;
        LUA_RUN(f,
                "d = qt.QDialog.create() t = qt.Timer.create() t:setTimeout(20) t:setSingleShot() "
                "ticks = 0 tick = qt.Timer.create() tick:setTimeout(5) "
                "function tick:onTimeout() ticks = ticks + 1 end tick:start() "
                "function t:onTimeout() " +
                    done +
                    " end t:start() "
                    "visible = d:property('visible') d:setOption(1, 2)");
        QCOMPARE(f.eval("visible"), QString("false"));
        LUA_RUN(f, "result = d:exec()");
        QCOMPARE(f.eval("result"), result);
        QCOMPARE(f.eval("ticks > 0"), QString("true"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!f.run("d:exec()"));
        QVERIFY(f.error.contains("attempting to access deleted QDialog"));
        QVERIFY(!f.run("t2 = qt.QDialog.create() t2:done(1.5)"));
        QVERIFY(f.error.contains("number has no integer representation"));
    }
};

QTEST_MAIN(TestPushButton)
#include "tst_pushbutton.moc"
