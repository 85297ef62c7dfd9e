#include "common/luafixture.h"
#include "qtcore/pushbutton.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
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
        QVERIFY(!f.run("t2:done(2^32)"));
        QVERIFY2(f.error.contains("out of range"), qPrintable(f.error));
    }

    // Hiding the dialog while exec shows it (its first resize and move come then) must end the
    // loop as a hide does later on.
    void dialogExecEndsPromptly_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<QString>("result");
        QTest::newRow("hide in onResize")
            << QByteArray("answer.onResize = function(h) "
                          "if rawequal(h, d) and not hidden then hidden = true d:hide() end end")
            << "0";
        QTest::newRow("hide in onMove")
            << QByteArray("answer.onMove = function(h) "
                          "if rawequal(h, d) and not hidden then hidden = true d:hide() end end")
            << "0";
        QTest::newRow("done from a timer") << QByteArray("later(function() d:done(7) end)") << "7";
        QTest::newRow("destroy from a timer")
            << QByteArray("later(function() d:destroy() end)") << "0";
    }

    void dialogExecEndsPromptly()
    {
        QFETCH(QByteArray, setup);
        QFETCH(QString, result);
        LuaFixture f;
        LUA_RUN(f, "d = qt.QDialog.create() keep = {} "
                   "function later(f) local t = qt.Timer.create() t:setTimeout(20) "
                   "t:setSingleShot() function t:onTimeout() f() end t:start() "
                   "keep[#keep + 1] = t end " +
                       setup);
        // A loop that does not end is ended from outside, late, with a result of its own.
        QPointer<QWidget> dialog = f.widget("d");
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [&dialog] {
            if (auto *d = qobject_cast<QDialog *>(dialog.data())) {
                d->show();
                d->done(99);
            }
        });
        watchdog.start(3000);
        QElapsedTimer clock;
        clock.start();
        LUA_RUN(f, "result = d:exec()");
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(f.eval("result"), result);
    }
};

QTEST_MAIN(TestPushButton)
#include "tst_pushbutton.moc"
