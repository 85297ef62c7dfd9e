#include "common/luafixture.h"
#include "luax/luax.h"
#include "luax/scriptguard.h"

#include <QtTest>

// Counts __init and __gc calls of the test classes in the globals inits and gcs.
static int lprobe_init(lua_State *L)
{
    lua_getglobal(L, "inits");
    lua_pushinteger(L, luaL_optinteger(L, -1, 0) + 1);
    lua_setglobal(L, "inits");
    return 0;
}

static int lprobe_gc(lua_State *L)
{
    if (!luaX_testclass(L, 1, "Probe", LUAX_OWNED))
        return 0;
    lua_getglobal(L, "gcs");
    lua_pushinteger(L, luaL_optinteger(L, -1, 0) + 1);
    lua_setglobal(L, "gcs");
    return 0;
}

static int lprobe_name(lua_State *L)
{
    luaX_checkclass(L, 1, "Probe");
    lua_pushliteral(L, "probe");
    return 1;
}

static const luaL_Reg probe_functions[] = {
    {"__init", lprobe_init},
    {"__gc", lprobe_gc},
    {"name", lprobe_name},
    {nullptr, nullptr},
};

class TestLuax : public QObject
{
    Q_OBJECT

private:
    static void createProbeClasses(lua_State *L)
    {
        lua_getglobal(L, "qt");
        luaX_createclass(L, "Probe", probe_functions, nullptr, false, true);
        luaX_createclass(L, "SubProbe", nullptr, "Probe", true, true);
        lua_pop(L, 1);
    }

    static void setglobal(lua_State *L, const char *name) { lua_setglobal(L, name); }

    int objects[4] = {};

private slots:
    void cachedHandleIsIdenticalAndInitRunsOnce()
    {
        LuaFixture f;
        createProbeClasses(f.L);
        luaX_pushobject(f.L, &objects[0], "Probe", LUAX_BORROWED);
        setglobal(f.L, "a");
        luaX_pushobject(f.L, &objects[0], "SubProbe", LUAX_OWNED | LUAX_CACHE);
        setglobal(f.L, "b");
        QCOMPARE(f.eval("rawequal(a, b)"), QString("true"));
        QCOMPARE(f.eval("inits"), QString("1"));
        QCOMPARE(f.eval("getmetatable(a).__classname"), QString("Probe"));
    }

    void ownedHandlesAreNewEachPushUnlessCached()
    {
        LuaFixture f;
        createProbeClasses(f.L);
        luaX_pushobject(f.L, &objects[0], "Probe", LUAX_OWNED);
        setglobal(f.L, "a");
        luaX_pushobject(f.L, &objects[0], "Probe", LUAX_OWNED);
        setglobal(f.L, "b");
        QCOMPARE(f.eval("rawequal(a, b)"), QString("false"));
        luaX_pushobject(f.L, &objects[1], "Probe", LUAX_OWNED | LUAX_CACHE);
        setglobal(f.L, "c");
        luaX_pushobject(f.L, &objects[1], "Probe", LUAX_OWNED | LUAX_CACHE);
        setglobal(f.L, "d");
        QCOMPARE(f.eval("rawequal(c, d)"), QString("true"));
        QCOMPARE(f.eval("inits"), QString("3"));
    }

    void ownedCachedHandleCanStillBeCollected()
    {
        LuaFixture f;
        createProbeClasses(f.L);
        luaX_pushobject(f.L, &objects[2], "Probe", LUAX_OWNED | LUAX_CACHE);
        lua_pop(f.L, 1);
        luaX_pushobject(f.L, &objects[3], "Probe", LUAX_BORROWED);
        setglobal(f.L, "kept");
        LUA_RUN(f, "collectgarbage() collectgarbage()");
        QCOMPARE(f.eval("gcs"), QString("1"));
        luaX_pushobject(f.L, &objects[2], nullptr, LUAX_BORROWED);
        QVERIFY(lua_isnil(f.L, -1));
        lua_pop(f.L, 1);
    }

    void pushByAddressWithoutHandleGivesNil()
    {
        LuaFixture f;
        luaX_pushobject(f.L, &objects[0], nullptr, LUAX_BORROWED);
        QVERIFY(lua_isnil(f.L, -1));
        lua_pop(f.L, 1);
        QCOMPARE(luaX_pushargsf(f.L, "%o", &objects[0]), 1);
        QVERIFY(lua_isnil(f.L, -1));
        lua_pop(f.L, 1);
        QCOMPARE(luaX_callmethod(f.L, &objects[0], "name", nullptr), 0);
        QCOMPARE(lua_gettop(f.L), 0);
    }

    void checkclassFollowsTheBaseChain()
    {
        LuaFixture f;
        LUA_RUN(f, "w = qt.QWidget.create(nil, false)");
        QCOMPARE(f.eval("pcall(qt.QWidget.hide, w)"), QString("true"));
        QVERIFY(f.eval("select(2, pcall(function() qt.QWidget.hide(lcdCanvas) end))")
                    .endsWith("bad argument #1 to 'hide' (QWidget expected, got userdata)"));
        QVERIFY(f.eval("select(2, pcall(function() qt.QWidget.hide() end))")
                    .endsWith("bad argument #1 to 'hide' (QWidget expected, got no value)"));
        QVERIFY(!f.run("w.setName({})"));
        QVERIFY(f.error.endsWith("bad argument #1 to 'setName' (QObject expected, got table)"));
        LUA_RUN(f, "w:destroy()");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!f.run("w:setName('x')"));
        QVERIFY(f.error.endsWith("calling 'setName' on bad self (attempting to access deleted "
                                 "QObject)"));
    }

    void testclassHonoursTheMask()
    {
        LuaFixture f;
        createProbeClasses(f.L);
        luaX_pushobject(f.L, &objects[0], "SubProbe", LUAX_BORROWED);
        QCOMPARE(luaX_testclass(f.L, -1, "Probe"), static_cast<void *>(&objects[0]));
        QCOMPARE(luaX_testclass(f.L, -1, "Probe", LUAX_OWNED), nullptr);
        QCOMPARE(luaX_testclass(f.L, -1, "Probe", 0), static_cast<void *>(&objects[0]));
        QCOMPARE(luaX_testclass(f.L, -1, "QWidget"), nullptr);
        lua_pushlightuserdata(f.L, &objects[0]);
        QCOMPARE(luaX_testclass(f.L, -1, "Probe"), nullptr);
        lua_settop(f.L, 0);
    }

    void pushargsDirectives()
    {
        LuaFixture f;
        lua_pushliteral(f.L, "below");
        int extra = -1;
        QCOMPARE(luaX_pushargsf(f.L, "%s %d", "text", 3), 2);
        QCOMPARE(QString(lua_tostring(f.L, -2)), QString("text"));
        QCOMPARE(lua_tointeger(f.L, -1), lua_Integer(3));
        QCOMPARE(luaX_pushargsf(f.L, "%i", -3), 1);
        QCOMPARE(QString(lua_tostring(f.L, -1)), QString("below"));
        QCOMPARE(luaX_pushargsf(f.L, "!%f%x%", 2.5), 1);
        QCOMPARE(lua_tonumber(f.L, -1), 2.5);
        lua_settop(f.L, 0);
        auto pushv = [&](const char *format, ...) {
            va_list args;
            va_start(args, format);
            const int n = luaX_pushargs(f.L, format, args, &extra);
            va_end(args);
            return n;
        };
        QCOMPARE(pushv("%d %r", 1, 4), 1);
        QCOMPARE(extra, 4);
        QCOMPARE(pushv("%2 %7"), 0);
        QCOMPARE(extra, 7);
        QCOMPARE(pushv(""), 0);
        QCOMPARE(extra, 0);
        QCOMPARE(pushv(nullptr), 0);
        lua_settop(f.L, 0);
    }

    void pcallAddsFormattedArgumentsAndExtraResults()
    {
        LuaFixture f;
        LUA_RUN(f, "function three(a, b, c) return a, b, c end");
        lua_getglobal(f.L, "three");
        lua_pushinteger(f.L, 1);
        QCOMPARE(luaX_pcall(f.L, 1, 1, "%s %d %2", "two", 3), 0);
        QCOMPARE(lua_gettop(f.L), 3);
        QCOMPARE(lua_tointeger(f.L, 1), lua_Integer(1));
        QCOMPARE(QString(lua_tostring(f.L, 2)), QString("two"));
        QCOMPARE(lua_tointeger(f.L, 3), lua_Integer(3));
        lua_settop(f.L, 0);

        LUA_RUN(f, "function fails() error('boom') end");
        lua_getglobal(f.L, "fails");
        QCOMPARE(luaX_pcall(f.L, 0, 0, ""), LUA_ERRRUN);
        QCOMPARE(lua_gettop(f.L), 1);
        QVERIFY(QString(lua_tostring(f.L, -1)).contains("stack traceback"));
        lua_settop(f.L, 0);
    }

    // Each runaway loop is stopped within its budget and the watchdog's interval; a loop
    // that catches the error is stopped again; wrap keeps the library's error position.
    void runawayLoopsAreStopped_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QString>("error");
        QTest::newRow("plain") << QByteArray("while true do end")
                               << "script ran longer than 100 ms";
        QTest::newRow("caught") << QByteArray("while true do pcall(function() while true do end "
                                              "end) end")
                                << "script ran longer than 100 ms";
        QTest::newRow("coroutine")
            << QByteArray("local ok, e = coroutine.resume(coroutine.create(function() "
                          "while true do end end)) error(e, 0)")
            << "script ran longer than 100 ms";
        QTest::newRow("wrap") << QByteArray("coroutine.wrap(function() while true do end end)()")
                              << "script ran longer than 100 ms";
        QTest::newRow("wrap error")
            << QByteArray("coroutine.wrap(function() error('inner', 0) end)()")
            << "[string \"chunk\"]:1: inner";
        // Each turn sends an event from inside the loop: the loop's own time still adds up.
        QTest::newRow("nested events")
            << QByteArray("local w = qt.QWidget.create(nil, false) w:show() local i = 0 "
                          "while true do i = i + 1 w:setGeometry(0, 0, 100 + i % 50, 100) end")
            << "script ran longer than 100 ms";
    }

    void runawayLoopsAreStopped()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(QString, error);
        LuaFixture f;
        ScriptGuard::setLimits(f.L, 100, -1);
        QCOMPARE(luaL_loadbuffer(f.L, chunk.constData(), chunk.size(), "chunk"), LUA_OK);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(luaX_pcall(f.L, 0, 0, ""), LUA_ERRRUN);
        // The nested events take their share of the time, which is not the loop's.
        const int within = QTest::currentDataTag() == QByteArray("nested events") ? 800 : 200;
        QVERIFY2(clock.elapsed() < within, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(QString(lua_tostring(f.L, -1)).contains(error), lua_tostring(f.L, -1));
        lua_settop(f.L, 0);
    }

    // Time under a nested loop, and under a call made from inside the call, is not the caller's.
    void nestedTimeIsNotCounted()
    {
        LuaFixture f;
        ScriptGuard::setLimits(f.L, 150, -1);
        lua_pushcfunction(f.L, [](lua_State *L) {
            const ScriptGuard::NestedLoop waiting;
            QTest::qWait(luaL_checkinteger(L, 1));
            return 0;
        });
        lua_setglobal(f.L, "wait");
        LUA_RUN(f, "function busy(ms) local t = os.clock() while os.clock() - t < ms / 1000 do "
                   "end end");
        lua_pushcfunction(f.L, [](lua_State *L) {
            lua_getglobal(L, "busy");
            lua_pushinteger(L, 100);
            lua_pushboolean(L, luaX_pcall(L, 1, 0, "") == LUA_OK);
            return 1;
        });
        lua_setglobal(f.L, "inner");
        const QByteArray chunk = "wait(300) busy(100) assert(inner()) assert(inner()) busy(20)";
        QCOMPARE(luaL_loadstring(f.L, chunk.constData()), LUA_OK);
        QCOMPARE(luaX_pcall(f.L, 0, 0, ""), LUA_OK);
        LUA_RUN(f, "busy(100) wait(1)");
    }

    void fatalCallFailurePrintsReportAndExits_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::newRow("runtime error") << QByteArray("error('boom')");
        QTest::newRow("error in __deleted")
            << QByteArray("w = qt.QWidget.create(nil, false) "
                          "getmetatable(w).__deleted = function() error('boom') end w:destroy()");
    }

    void fatalCallFailurePrintsReportAndExits()
    {
        QFETCH(QByteArray, chunk);
        const ChildResult result = runChild(chunk, 100);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.output.contains("ERROR(traceback): "), qPrintable(result.output));
        QVERIFY(result.output.contains("boom"));
        QVERIFY(result.output.contains("Error: Call failed\n[") &&
                result.output.contains("stack traceback"));
    }

    void dostringCompileErrorIsReportedNotFatal()
    {
        const ChildResult result = runChild("x = = 1");
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.output.contains("\n[[string \"x = = 1\"]:1:"), qPrintable(result.output));
        LuaFixture f;
        QCOMPARE(luaX_dostring(f.L, "x = = 1", nullptr), LUA_ERRSYNTAX);
        QCOMPARE(lua_gettop(f.L), 0);
        QCOMPARE(luaX_dostring(f.L, "y = ...", "%d", 5), 0);
        QCOMPARE(f.eval("y"), QString("5"));
    }

    void callmethodFindsInstanceClassAndInheritedMethods()
    {
        LuaFixture f;
        createProbeClasses(f.L);
        luaX_pushobject(f.L, &objects[0], "SubProbe", LUAX_BORROWED);
        setglobal(f.L, "p");
        LUA_RUN(f, "function p:greet(x) greeted = self:name() .. x end");
        QCOMPARE(luaX_callmethod(f.L, &objects[0], "greet", "%s", "!"), 0);
        QCOMPARE(f.eval("greeted"), QString("probe!"));
        QCOMPARE(luaX_callmethod(f.L, &objects[0], "missing", nullptr), 0);
        QCOMPARE(lua_gettop(f.L), 0);
        LUA_RUN(f, "function p:fail() error('no') end");
        QCOMPARE(luaX_callmethod(f.L, &objects[0], "fail", ""), LUA_ERRRUN);
        lua_settop(f.L, 0);
    }

    void instanceFieldsArePrivateToTheirHandle()
    {
        LuaFixture f;
        createProbeClasses(f.L);
        luaX_pushobject(f.L, &objects[0], "SubProbe", LUAX_BORROWED);
        setglobal(f.L, "a");
        luaX_pushobject(f.L, &objects[1], "SubProbe", LUAX_BORROWED);
        setglobal(f.L, "b");
        LUA_RUN(f, "a.name = function() return 'own' end a.value = 7");
        QCOMPARE(f.eval("a:name() .. b:name()"), QString("ownprobe"));
        QCOMPARE(f.eval("b.value"), QString("nil"));
        QCOMPARE(f.eval("a.value"), QString("7"));
    }

    void creatingAClassTwiceExtendsIt()
    {
        LuaFixture f;
        createProbeClasses(f.L);
        LUA_RUN(f, "first = qt.Probe");
        static const luaL_Reg more[] = {{"more", lprobe_name}, {nullptr, nullptr}};
        lua_getglobal(f.L, "qt");
        luaX_createclass(f.L, "Probe", more, nullptr, false, true);
        QCOMPARE(lua_gettop(f.L), 1);
        lua_pop(f.L, 1);
        QCOMPARE(f.eval("rawequal(first, qt.Probe) and first.name ~= nil and first.more ~= nil"),
                 QString("true"));
        QCOMPARE(f.eval("rawget(qt.SubProbe, '__index') == rawget(qt.Probe, '__index')"),
                 QString("false"));
        QCOMPARE(f.eval("rawget(qt.SubProbe, 'name') == qt.Probe.name"), QString("true"));
    }

    void torect_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QRect>("rect");
        QTest::newRow("empty width 5")
            << QByteArray("{x=10, y=20, w=5, h=0}") << QRect(10, 20, 5, 0);
        QTest::newRow("truncated")
            << QByteArray("{x=-1.9, y=2.9, w='3', h=true}") << QRect(-1, 2, 3, 0);
        QTest::newRow("not a table") << QByteArray("42") << QRect();
    }

    void torect()
    {
        QFETCH(QByteArray, value);
        QFETCH(QRect, rect);
        LuaFixture f;
        LUA_RUN(f, "value = " + value);
        lua_getglobal(f.L, "value");
        const QRect result = luaX_torect(f.L, -1);
        QCOMPARE(result, rect);
        if (value.startsWith("{x=10")) {
            QCOMPARE(result.right(), 14);
            QCOMPARE(result.bottom(), 19);
        }
    }

    void variantsBothWays()
    {
        LuaFixture f;
        LUA_RUN(f, "values = {42, true, false, 'text', {}, 4.5}");
        lua_getglobal(f.L, "values");
        const QVariantList expected = {QString("42"), 1, 0, QString("text"), 0.0, QString("4.5")};
        for (int i = 0; i < expected.size(); ++i) {
            lua_rawgeti(f.L, -1, i + 1);
            const QVariant v = luaX_tovariant(f.L, -1);
            QCOMPARE(v, expected.at(i));
            QCOMPARE(v.type(), expected.at(i).type());
            lua_pop(f.L, 1);
        }
        QVERIFY(lua_isnumber(f.L, -1) == 0);
        QVERIFY(!luaX_tovariant(f.L, 5).isValid());
        lua_settop(f.L, 0);

        luaX_pushvariant(f.L, true);
        luaX_pushvariant(f.L, 7);
        luaX_pushvariant(f.L, 2.5);
        luaX_pushvariant(f.L, QString("abc"));
        luaX_pushvariant(f.L, QVariant(QPoint(1, 2)));
        QVERIFY(lua_isboolean(f.L, 1) && lua_toboolean(f.L, 1));
        QVERIFY(lua_isinteger(f.L, 2) && lua_tointeger(f.L, 2) == 7);
        QVERIFY(!lua_isinteger(f.L, 3) && lua_tonumber(f.L, 3) == 2.5);
        QCOMPARE(QString(lua_tostring(f.L, 4)), QString("abc"));
        QVERIFY(lua_isnil(f.L, 5));
        lua_settop(f.L, 0);
    }

    void tocolor_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QColor>("color");
        QTest::newRow("0 is opaque black") << QByteArray("0") << QColor(0, 0, 0, 255);
        QTest::newRow("top byte 1") << QByteArray("0x01000000") << QColor(0, 0, 0, 254);
        QTest::newRow("top byte 0x80") << QByteArray("0x80123456") << QColor(0x12, 0x34, 0x56, 127);
        QTest::newRow("top byte 0xFF") << QByteArray("0xFFFFFFFF") << QColor(255, 255, 255, 0);
        QTest::newRow("numeric string") << QByteArray("'0x00FF0000'") << QColor(255, 0, 0);
        QTest::newRow("float truncated") << QByteArray("255.9") << QColor(0, 0, 255);
        QTest::newRow("bits above 32 dropped") << QByteArray("0x100000000") << QColor(0, 0, 0);
        QTest::newRow("off") << QByteArray("'off'") << QColor(Qt::white);
        QTest::newRow("on") << QByteArray("'on'") << QColor(Qt::black);
        QTest::newRow("lightblue") << QByteArray("'lightblue'") << QColor("lightsteelblue");
        QTest::newRow("darkGreen") << QByteArray("'darkGreen'") << QColor(Qt::darkGreen);
        QTest::newRow("darkgreen") << QByteArray("'darkgreen'") << QColor(0, 100, 0);
        QTest::newRow("transparent") << QByteArray("'transparent'") << QColor(Qt::transparent);
        QTest::newRow("gold") << QByteArray("'gold'") << QColor(255, 215, 0);
        QTest::newRow("nil uses default") << QByteArray("nil") << QColor(Qt::darkGray);
    }

    void tocolor()
    {
        QFETCH(QByteArray, value);
        QFETCH(QColor, color);
        LuaFixture f;
        LUA_RUN(f, "value = " + value);
        lua_getglobal(f.L, "value");
        QCOMPARE(luaX_tocolor(f.L, -1, "darkGray"), color);
    }

    void unknownColorNameIsAnArgumentError()
    {
        LuaFixture f;
        lua_pushcfunction(f.L, [](lua_State *L) {
            luaX_tocolor(L, 1, nullptr);
            return 0;
        });
        lua_setglobal(f.L, "color");
        QVERIFY(!f.run("color('Red')"));
        QVERIFY2(f.error.contains("invalid option 'Red'"), qPrintable(f.error));
        QVERIFY(!f.run("color()"));
        QVERIFY(!f.run(R"(color('red\0'))"));
        QVERIFY2(f.error.contains("invalid option"), qPrintable(f.error));
    }

    // The instance-field metamethods are plain functions of the class table, reachable with any
    // first argument.
    void rawMetamethodsCheckTheirObject_data()
    {
        QTest::addColumn<QByteArray>("call");
        QTest::addColumn<QString>("error");
        QTest::newRow("__newindex on a number")
            << QByteArray("qt.Timer.__newindex(5, 'k', 'v')") << "Timer expected, got number";
        QTest::newRow("__index on a table")
            << QByteArray("qt.Timer.__index({}, 'k')") << "Timer expected, got table";
        QTest::newRow("__newindex on a string")
            << QByteArray("qt.Timer.__newindex('s', 'k', 'v')") << "Timer expected, got string";
    }

    void rawMetamethodsCheckTheirObject()
    {
        QFETCH(QByteArray, call);
        QFETCH(QString, error);
        LuaFixture f;
        QVERIFY(!f.run(call));
        QVERIFY2(f.error.contains(error), qPrintable(f.error));
        LUA_RUN(f, "t = qt.Timer.create() t.k = 'v' s = 's' n = 5");
        QCOMPARE(f.eval("t.k .. s:upper() .. n"), QString("vS5"));
        LUA_RUN(f, "collectgarbage()");
    }

    void newstateHasLoadstringAndWeakUV()
    {
        LuaFixture f;
        QCOMPARE(f.eval("loadstring('return 1 + ...')(2)"), QString("3"));
        QCOMPARE(f.eval("select(2, loadstring('x ='))~= nil"), QString("true"));
        lua_getfield(f.L, LUA_REGISTRYINDEX, "_UV");
        QVERIFY(lua_istable(f.L, -1));
        QVERIFY(luaL_getmetafield(f.L, -1, "__mode"));
        QCOMPARE(QString(lua_tostring(f.L, -1)), QString("k"));
        lua_settop(f.L, 0);
    }

    void preloadRegistersOpeners()
    {
        LuaFixture f;
        static const luaL_Reg modules[] = {
            {"one.core",
             [](lua_State *L) {
                 lua_pushliteral(L, "one");
                 return 1;
             }},
            {"two.core",
             [](lua_State *L) {
                 lua_pushliteral(L, "two");
                 return 1;
             }},
            {nullptr, nullptr},
        };
        luaX_preload(f.L, modules);
        QCOMPARE(f.eval("require 'one.core' .. require 'two.core'"), QString("onetwo"));
        QCOMPARE(f.eval("qt == require 'qt.core' and rawget(_G, 'qt.core') == nil"),
                 QString("true"));
    }
};

QTEST_MAIN(TestLuax)
#include "tst_luax.moc"
