#include "common/luafixture.h"
#include "net/netmodule.h"

#include <QProcess>
#include <QTcpServer>
#include <QtTest>

// net.core in the global net; every event is recorded by the fixture's handler.
class NetFixture : public LuaFixture
{
public:
    NetFixture()
    {
        luaL_requiref(L, "net.core", luaopen_net_core, 0);
        lua_setglobal(L, "net");
        run("osc = net.osc");
    }
};

static int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Waits until the fixture's Lua expression is true.
#define AWAIT_LUA(f, expression)                                                                   \
    QTRY_COMPARE_WITH_TIMEOUT((f).eval(expression), QString("true"), 5000)

class TestNet : public QObject
{
    Q_OBJECT

private slots:
    // Every byte goes to a peer that is not ours and comes back: socat echoing.
    void tcpClientRoundTripIsByteExact()
    {
        const int port = freePort();
        QProcess echo;
        echo.start("socat",
                   {QString("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port), "SYSTEM:cat"});
        QVERIFY(echo.waitForStarted());
        QTest::qWait(200);
        NetFixture f;
        LUA_RUN(f, "sent = '' for i = 0, 65535 do sent = sent .. string.char(i % 256) end "
                   "got = '' s = net.TcpSocket.create() "
                   "answer.onConnected = function(h) h:write(sent) end "
                   "answer.onReadyRead = function(h) got = got .. h:read() end "
                   "s:connect('127.0.0.1', " +
                       QByteArray::number(port) + ")");
        AWAIT_LUA(f, "#got == #sent");
        QCOMPARE(f.eval("got == sent"), QString("true"));
        QCOMPARE(f.eval("s:state()"), QString("connected"));
        LUA_RUN(f, "s:close()");
        AWAIT_LUA(f, "s:state() == 'unconnected'");
        QVERIFY(!f.run("s:write('x')"));
        QVERIFY(f.error.contains("the socket is not connected"));
        echo.kill();
        echo.waitForFinished();
    }

    // A server hands each client over as a socket; a refused connection says so.
    void serverTakesAClientAndRefusalIsAnError()
    {
        NetFixture f;
        LUA_RUN(f, "server = net.TcpServer.create() assert(server:listen(0)) "
                   "answer.onNewConnection = function(h, c) client = c c:write('welcome\\n') "
                   "function answer.onReadyRead(h) heard = h:read() end end");
        QProcess peer;
        peer.start("socat", {"-", QString("TCP:127.0.0.1:%1").arg(f.eval("server:port()"))});
        QVERIFY(peer.waitForStarted());
        peer.write("from socat\n");
        QByteArray welcome;
        QTRY_VERIFY_WITH_TIMEOUT((welcome += peer.readAll()) == "welcome\n", 5000);
        AWAIT_LUA(f, "heard == 'from socat\\n'");
        peer.closeWriteChannel();
        QStringList seen;
        QTRY_VERIFY_WITH_TIMEOUT((seen += f.events()).contains("onDisconnected"), 5000);
        QTRY_VERIFY(!f.run("client:state()"));
        QVERIFY2(f.error.contains("attempting to access deleted TcpSocket"), qPrintable(f.error));
        LUA_RUN(f, "server:close() s = net.TcpSocket.create() s:connect('127.0.0.1', " +
                       QByteArray::number(freePort()) + ")");
        QStringList errors;
        QTRY_VERIFY_WITH_TIMEOUT((errors += f.events()).filter("onError refused").size() == 1,
                                 5000);
        peer.kill();
        peer.waitForFinished();
    }

    // A socket told to reconnect tries again, waiting longer each time, until the peer is there.
    void reconnectingSocketFindsALatePeer()
    {
        const int port = freePort();
        NetFixture f;
        LUA_RUN(f, "s = net.TcpSocket.create() s:setReconnect(true) "
                   "s:connect('127.0.0.1', " +
                       QByteArray::number(port) + ")");
        QStringList seen;
        QTRY_VERIFY_WITH_TIMEOUT((seen += f.events())
                                     .contains("onError refused "
                                               "Connection refused"),
                                 3000);
        QProcess late;
        late.start("socat", {QString("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port), "-"});
        QVERIFY(late.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT((seen += f.events()).contains("onConnected"), 5000);
        LUA_RUN(f, "s:close()");
        late.kill();
        late.waitForFinished();
    }

    // Every OSC type from liblo's own sender, and back to liblo's own dumper.
    void oscBothWaysWithLiblosTools()
    {
        NetFixture f;
        LUA_RUN(f, "u = net.UdpSocket.create() assert(u:bind(0)) "
                   "answer.onDatagram = function(h, data, host, port) "
                   "local r = table.pack(osc.decode(data)) "
                   "for i = 1, r.n do r[i] = type(r[i]) == 'table' and (r[i].type .. "
                   "':' .. tostring(r[i][1]) .. ':' .. tostring(r[i][2])) or tostring(r[i]) end "
                   "decoded = table.concat(r, ' ', 1, r.n) end");
        const QString port = f.eval("u:port()");
        QCOMPARE(QProcess::execute("oscsend", {"127.0.0.1", port, "/all", "ifshdTFNIcS", "7", "2.5",
                                               "text", "1099511627776", "0.125", "a", "sym"}),
                 0);
        AWAIT_LUA(f, "decoded ~= nil");
        QCOMPARE(f.eval("decoded"),
                 QString("/all 7 2.5 text 1099511627776 0.125 true false nil I:nil:nil a sym"));
        QProcess dump;
        const int dumpPort = freePort();
        dump.start("oscdump", {"-L", QString::number(dumpPort)});
        QVERIFY(dump.waitForStarted());
        QTest::qWait(300);
        LUA_RUN(f, "u:send('127.0.0.1', " + QByteArray::number(dumpPort) +
                       ", osc.encode('/back', 1, 0.5, 'x', {type = 'b', '\\1\\2'}, "
                       "{type = 'h', 5}, {type = 'd', 2}, true, false, nil, {type = 'I'}))");
        QByteArray dumped;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (dumped += dump.readAllStandardOutput()).contains("/back ifsbhdTFNI"),
            dumped.constData(), 3000);
        dump.kill();
        dump.waitForFinished();
    }

    // A bundle of two messages decodes to its time tag and its elements; damage is a reason.
    void oscBundlesAndDamage_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QString>("decoded");
        QTest::newRow("bundle") << QByteArray("osc.bundle({type = 't', 3, 4}, osc.encode('/a', 1), "
                                              "osc.bundle(nil, osc.encode('/b')))")
                                << "#bundle t:3:4 /a,1 #bundle,t:0:1,/b";
        QTest::newRow("garbage") << QByteArray("'garbage'") << "nil malformed OSC packet";
        QTest::newRow("cut short")
            << QByteArray("osc.encode('/a', 'long text'):sub(1, 13)") << "nil malformed OSC packet";
        QTest::newRow("bundle cut short")
            << QByteArray("osc.bundle(nil, osc.encode('/a')):sub(1, 22)")
            << "nil malformed OSC bundle element";
    }

    void oscBundlesAndDamage()
    {
        QFETCH(QByteArray, packet);
        QFETCH(QString, decoded);
        NetFixture f;
        LUA_RUN(f, "local function show(v) if type(v) ~= 'table' then return tostring(v) end "
                   "if v.type then return v.type .. ':' .. v[1] .. ':' .. v[2] end "
                   "local parts = {} for i, w in ipairs(v) do parts[i] = show(w) end "
                   "return table.concat(parts, ',') end "
                   "local r = table.pack(osc.decode(" +
                       packet +
                       ")) for i = 1, r.n do r[i] = show(r[i]) end "
                       "result = table.concat(r, ' ', 1, r.n)");
        QVERIFY2(f.eval("result").startsWith(decoded), qPrintable(f.eval("result")));
    }

    // Packets framed either way come out whole however the stream is cut, escapes included.
    void tcpFramingSurvivesAnyCut_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::newRow("size prefix") << QByteArray("size");
        QTest::newRow("slip") << QByteArray("slip");
    }

    void tcpFramingSurvivesAnyCut()
    {
        QFETCH(QByteArray, mode);
        NetFixture f;
        LUA_RUN(f, "local mode = '" + mode +
                       "' "
                       "local sent = {osc.encode('/a', 1), osc.encode('/b', {type = 'b', "
                       "'\192\219\192'}), osc.bundle(nil, osc.encode('/c'))} "
                       "local stream = '' for _, p in ipairs(sent) do stream = stream .. "
                       "osc.frame(p, mode) end "
                       "local got, rest = {}, '' for i = 1, #stream do "
                       "local packets packets, rest = osc.unframe(rest .. stream:sub(i, i), mode) "
                       "for _, p in ipairs(packets) do got[#got + 1] = p end end "
                       "ok = #got == 3 and got[1] == sent[1] and got[2] == sent[2] and "
                       "got[3] == sent[3] and rest == ''");
        QCOMPARE(f.eval("ok"), QString("true"));
        QCOMPARE(f.eval("select(2, osc.unframe('\\255\\0\\0\\0abcd', 'size'))"),
                 QString("not framed OSC: a packet size beyond 16 MiB"));
    }

    void badArgumentsAreLuaErrors_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QString>("error");
        QTest::newRow("port too high")
            << QByteArray("net.TcpSocket.create():connect('localhost', 70000)") << "out of range";
        QTest::newRow("zero byte in a host")
            << QByteArray("net.TcpSocket.create():connect('local\\0host', 80)") << "zero byte";
        QTest::newRow("listen on a name")
            << QByteArray("net.TcpServer.create():listen(0, 'example')") << "not an IP address";
        QTest::newRow("datagram too long")
            << QByteArray("net.UdpSocket.create():send('127.0.0.1', 9, ('x'):rep(70000))")
            << "datagram too long";
        QTest::newRow("address without a slash")
            << QByteArray("osc.encode('a')") << "starts with '/'";
        QTest::newRow("function argument")
            << QByteArray("osc.encode('/a', print)") << "not an OSC value";
        QTest::newRow("string with a zero byte")
            << QByteArray("osc.encode('/a', 'x\\0y')") << "not an OSC value";
        QTest::newRow("unknown explicit type")
            << QByteArray("osc.encode('/a', {type = 'q', 1})") << "not an OSC value";
        QTest::newRow("join a unicast address")
            << QByteArray("net.UdpSocket.create():join('127.0.0.1')") << "not a multicast address";
    }

    void badArgumentsAreLuaErrors()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(QString, error);
        NetFixture f;
        QVERIFY(!f.run(chunk));
        QVERIFY2(f.error.contains(error), qPrintable(f.error));
    }
};

QTEST_MAIN(TestNet)
#include "tst_net.moc"
