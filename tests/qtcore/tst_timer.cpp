#include "common/luafixture.h"
#include "luax/luax.h"
#include "qtcore/timer.h"

#include <QTimer>
#include <QtTest>

class TestTimer : public QObject
{
    Q_OBJECT

private slots:
    void timersCallTheirOwnOnTimeout()
    {
        LuaFixture f;
        LUA_RUN(f, "a = qt.Timer.create() b = qt.Timer.create() silent = qt.Timer.create() "
                   "na, nb = 0, 0 "
                   "function a:onTimeout() na = na + 1 end "
                   "function b.onTimeout(self) nb = nb + (rawequal(self, b) and 1 or 100) end "
                   "a:setTimeout(10) b:setTimeout(10) silent:setTimeout(10) "
                   "b:setSingleShot() a:start() b:start() silent:start()");
        QTRY_VERIFY(f.eval("na >= 3") == "true");
        QCOMPARE(f.eval("nb"), QString("1"));
        LUA_RUN(f, "b:setSingleShot(false) b:start()");
        QTRY_VERIFY(f.eval("nb >= 3") == "true");
        LUA_RUN(f, "a:stop() stopped = na");
        QTest::qWait(50);
        QCOMPARE(f.eval("na == stopped"), QString("true"));
        QCOMPARE(f.eval("rawget(qt.Timer, 'onTimeout')"), QString("nil"));
    }

    void newTimerRepeatsEverySecondPrecisely()
    {
        LuaFixture f;
        LUA_RUN(f, "t = qt.Timer.create()");
        lua_getglobal(f.L, "t");
        auto *timer =
            static_cast<Timer *>(static_cast<QObject *>(luaX_testclass(f.L, -1, "Timer")));
        lua_pop(f.L, 1);
        QCOMPARE(timer->timer()->interval(), 1000);
        QCOMPARE(timer->timer()->timerType(), Qt::PreciseTimer);
        QVERIFY(!timer->timer()->isSingleShot() && !timer->timer()->isActive());
        QVERIFY(!f.run("t:setTimeout()"));
    }

    void timeoutOutOfRangeIsAnError_data()
    {
        QTest::addColumn<QByteArray>("timeout");
        QTest::newRow("2^32") << QByteArray("2^32");
        QTest::newRow("2^31") << QByteArray("2^31");
        QTest::newRow("-1") << QByteArray("-1");
        QTest::newRow("math.mininteger") << QByteArray("math.mininteger");
    }

    void timeoutOutOfRangeIsAnError()
    {
        QFETCH(QByteArray, timeout);
        LuaFixture f;
        LUA_RUN(f, "t = qt.Timer.create()");
        lua_getglobal(f.L, "t");
        auto *timer =
            static_cast<Timer *>(static_cast<QObject *>(luaX_testclass(f.L, -1, "Timer")));
        lua_pop(f.L, 1);
        QVERIFY(!f.run("t:setTimeout(" + timeout + ")"));
        QVERIFY2(f.error.contains("out of range"), qPrintable(f.error));
        QCOMPARE(timer->timer()->interval(), 1000);
    }

    void collectedTimerStops()
    {
        LuaFixture f;
        LUA_RUN(f, "fired = 0 do local t = qt.Timer.create() t:setTimeout(5) "
                   "function t:onTimeout() fired = fired + 1 end t:start() end");
        QTRY_VERIFY(f.eval("fired > 0") == "true");
        LUA_RUN(f, "collectgarbage() collectgarbage() seen = fired");
        QTest::qWait(40);
        QCOMPARE(f.eval("fired == seen"), QString("true"));
    }

    void elapsedTimerValidity()
    {
        LuaFixture f;
        LUA_RUN(f, "e = qt.ElapsedTimer.create()");
        QCOMPARE(f.eval("e:isActive() and math.type(e:elapsed())"), QString("integer"));
        QTest::qWait(60);
        QCOMPARE(f.eval("e:elapsed() >= 50"), QString("true"));
        LUA_RUN(f, "s = e:restart()");
        QCOMPARE(f.eval("math.type(s) == 'float' and s >= 0.05 and s < 5"), QString("true"));
        QCOMPARE(f.eval("e:elapsed() < 50"), QString("true"));
        LUA_RUN(f, "e:cancel()");
        QCOMPARE(f.eval("e:elapsed()"), QString("nil"));
        QCOMPARE(f.eval("e:isActive()"), QString("false"));
        QVERIFY(f.eval("tostring(e)")
                    .contains(QRegularExpression("^ElapsedTimer type:\\d+ elapsed: 0 ms 0 ns$")));
        LUA_RUN(f, "e:start()");
        QCOMPARE(f.eval("e:isActive()"), QString("true"));
        QVERIFY(!f.run("qt.ElapsedTimer.elapsed(qt.Timer.create())"));
        QVERIFY(f.error.contains("ElapsedTimer expected, got userdata"));
    }

    void failingOnTimeoutIsFatal()
    {
        const ChildResult result =
            runChild("t = qt.Timer.create() t:setTimeout(5) "
                     "function t:onTimeout() error('tick broke') end t:start()",
                     2000);
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.output.contains("tick broke") && result.output.contains("Call failed"));
    }
};

QTEST_MAIN(TestTimer)
#include "tst_timer.moc"
