// Runs beside a zeroconf daemon of its own: tests/devices/with-avahi.sh starts one that serves
// the loopback interface only.
#include "common/hosttree.h"
#include "common/luafixture.h"
#include "devices/bonjour.h"
#include "devices/zeroconfservice.h"
#include "luax/luax.h"

#include <KDNSSD/ServiceBrowser>

#include <QDeadlineTimer>
#include <QProcess>
#include <QtTest>

#include <signal.h>
#include <utility>

// Tags every event with the name of the object it is for ("b onServiceAdded ..."), and counts
// ticks apart by name.
static const char *const prelude = R"(
who, ticks = {}, {}
function make(tag)
    local b = bonjour.Bonjour.create()
    who[b] = tag
    return b
end
function MsgHandler(h, name, ...)
    local tag = who[h] or '?'
    if name == 'onTimer' then
        ticks[tag] = (ticks[tag] or 0) + 1
        return 0
    end
    local parts = {tag, name}
    for i = 1, select('#', ...) do parts[#parts + 1] = tostring((select(i, ...))) end
    recorded[#recorded + 1] = table.concat(parts, ' ')
    local a = answer[name]
    if type(a) == 'function' then return a(h, ...) end
    return 0
end
)";

// bonjour.core in the interpreter of LuaFixture, and a way to wait for events.
class BonjourFixture : public LuaFixture
{
public:
    BonjourFixture()
    {
        luaL_requiref(L, "bonjour.core", luaopen_bonjour_core, 0);
        lua_setglobal(L, "bonjour");
        run(prelude);
    }

    Bonjour *object(const char *global)
    {
        lua_getglobal(L, global);
        auto *object = static_cast<QObject *>(luaX_testclass(L, -1, "Bonjour"));
        lua_pop(L, 1);
        return static_cast<Bonjour *>(object);
    }

    // Waits for an event line that matches the pattern and takes it from the record; returns it,
    // or a null string after the time limit.
    QString await(const QString &pattern, int timeoutMs = 5000)
    {
        const QRegularExpression expression(QRegularExpression::anchoredPattern(pattern));
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            m_pending += events();
            for (int i = 0; i < m_pending.size(); ++i)
                if (expression.match(m_pending.at(i)).hasMatch())
                    return m_pending.takeAt(i);
            if (deadline.hasExpired())
                return QString();
            QTest::qWait(20);
        }
    }

    QString awaitLine(const QString &line, int timeoutMs = 5000)
    {
        return await(QRegularExpression::escape(line), timeoutMs);
    }

    // Every event line not yet taken.
    QStringList take()
    {
        m_pending += events();
        return std::exchange(m_pending, {});
    }

    QString log() { return "events: " + take().join(" | "); }

private:
    QStringList m_pending;
};

// The log takes every pending line, so it is only made when the wait failed.
#define AWAIT(fixture, line)                                                                       \
    do {                                                                                           \
        const bool found = !(fixture).awaitLine(line).isNull();                                    \
        QVERIFY2(found, found ? "" : qPrintable((fixture).log()));                                 \
    } while (false)

static bool daemonReady()
{
    if (zeroconfDaemonRunning())
        return true;
    qWarning("no zeroconf daemon: run the test through tests/devices/with-avahi.sh");
    return false;
}

// What avahi-browse finds of a type, resolved: "name host port" for each service.
static QStringList browseWithAvahi(const QString &type)
{
    QProcess browse;
    browse.start("avahi-browse",
                 {"--terminate", "--parsable", "--resolve", "--no-db-lookup", type});
    browse.waitForFinished(10000);
    QStringList found;
    const QList<QByteArray> lines = browse.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(';');
        if (fields.size() > 8 && fields.at(0) == "=")
            found << QString::fromUtf8(fields.at(3) + ' ' + fields.at(6) + ' ' + fields.at(8));
    }
    return found;
}

static QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

class TestBonjour : public QObject
{
    Q_OBJECT

private slots:
    void eachObjectTicksEveryTenMilliseconds()
    {
        BonjourFixture f;
        LUA_RUN(f, "a = make('a') b = make('b')");
        QCOMPARE(f.eval("getmetatable(a).__classname"), QString("Bonjour"));
        QTest::qWait(250);
        QCOMPARE(f.eval("ticks.a >= 5 and ticks.a <= 30 and ticks.b >= 5"), QString("true"));
        LUA_RUN(f, "a:destroy()");
        QTest::qWait(30);
        LUA_RUN(f, "stopped, running = ticks.a, ticks.b");
        QTest::qWait(60);
        QCOMPARE(f.eval("ticks.a == stopped and ticks.b > running"), QString("true"));
        QVERIFY(!f.run("a:subscribe('remote')"));
        QVERIFY2(f.error.contains("attempting to access deleted Bonjour"), qPrintable(f.error));
    }

    void badArgumentsAreErrorsAndMakeNothing_data()
    {
        QTest::addColumn<QByteArray>("call");
        QTest::addColumn<QString>("error");
        const QString type = "invalid service type";
        const QString name = "invalid service name";
        QTest::newRow("port 70000")
            << QByteArray("b:publish('remote', 'n', 70000)") << "out of range";
        QTest::newRow("port NaN") << QByteArray("b:publish('remote', 'n', 0/0)") << "out of range";
        QTest::newRow("no port") << QByteArray("b:publish('remote', 'n')") << "number expected";
        QTest::newRow("sctp") << QByteArray("b:publish('_remote._sctp', 'n', 1)") << type;
        QTest::newRow("protocol, no underscore")
            << QByteArray("b:subscribe('remote._tcp')") << type;
        QTest::newRow("underscore, no protocol") << QByteArray("b:subscribe('_remote')") << type;
        QTest::newRow("leading hyphen") << QByteArray("b:subscribe('-remote')") << type;
        QTest::newRow("16 letters") << QByteArray("b:subscribe('abcdefghijklmnop')") << type;
        QTest::newRow("newline") << QByteArray("b:subscribe('remote\\n')") << type;
        QTest::newRow("zero byte in type") << QByteArray("b:subscribe('remote\\0')") << "zero byte";
        QTest::newRow("empty name") << QByteArray("b:publish('remote', '', 1)") << name;
        QTest::newRow("64-byte name") << QByteArray("b:resolve('remote', ('x'):rep(64))") << name;
        QTest::newRow("zero byte in domain")
            << QByteArray("b:resolve('remote', 'n', 'local.\\0')") << "zero byte";
        QTest::newRow("publish reads the name before the type")
            << QByteArray("bonjour.Bonjour.publish(b, {}, {}, 1)") << "bad argument #3";
        QTest::newRow("resolve reads the domain first")
            << QByteArray("bonjour.Bonjour.resolve(b, {}, {}, {})") << "bad argument #4";
        QTest::newRow("not a Bonjour")
            << QByteArray("bonjour.Bonjour.subscribe(qt.Timer.create(), 'remote')")
            << "Bonjour expected, got userdata";
    }

    void badArgumentsAreErrorsAndMakeNothing()
    {
        QFETCH(QByteArray, call);
        QFETCH(QString, error);
        BonjourFixture f;
        LUA_RUN(f, "b = make('b')");
        QVERIFY(!f.run(call));
        QVERIFY2(f.error.contains(error), qPrintable(f.error));
        QCOMPARE(f.object("b")->children().size(), 1);
    }

    void machineIdIsTheFirstRunningInterfaceButLoopback()
    {
        BonjourFixture f;
        const QString id = f.eval("bonjour.machineID()");
        if (qEnvironmentVariableIsSet("REMOTE_LOOPBACK_ONLY")) {
            QCOMPARE(id, QString());
            return;
        }
        QVERIFY2(QRegularExpression("^([0-9A-F]{2}(:[0-9A-F]{2}){5})?$").match(id).hasMatch(),
                 qPrintable(id));
        QVERIFY(id != "00:00:00:00:00:00");
        // Again, in a network namespace whose only running interface is the loopback one.
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("REMOTE_LOOPBACK_ONLY", "1");
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start("unshare", {"--net", "sh", "-c", "ip link set lo up && exec \"$0\" \"$1\"",
                                QCoreApplication::applicationFilePath(),
                                "machineIdIsTheFirstRunningInterfaceButLoopback"});
        QVERIFY(child.waitForFinished(20000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        if (output.startsWith("unshare:"))
            QSKIP("no network namespace to be had here");
        QVERIFY2(child.exitCode() == 0, qPrintable(output));
    }

    // The library may report a service once for each interface and protocol it is seen on.
    void eachServiceIsReportedOnce()
    {
        QVERIFY(daemonReady());
        BonjourFixture f;
        LUA_RUN(f, "b = make('b') b:subscribe('_dup-test._tcp')");
        auto *library = f.object("b")->findChild<KDNSSD::ServiceBrowser *>();
        QVERIFY(library);
        const KDNSSD::RemoteService::Ptr first(
            new KDNSSD::RemoteService("twice", "_dup-test._tcp", "local"));
        const KDNSSD::RemoteService::Ptr second(
            new KDNSSD::RemoteService("twice", "_dup-test._tcp", "local"));
        emit library->serviceAdded(first);
        emit library->serviceAdded(second);
        QCOMPARE(f.take(), QStringList{"b onServiceAdded _dup-test._tcp twice local."});
        emit library->serviceRemoved(first);
        QCOMPARE(f.take(), QStringList());
        emit library->serviceRemoved(second);
        emit library->serviceRemoved(second);
        QCOMPARE(f.take(), QStringList{"b onServiceRemoved twice"});
    }

    void publishBrowseAndResolveBetweenTwoObjects_data()
    {
        QTest::addColumn<QString>("published");
        QTest::addColumn<QString>("subscribed");
        QTest::addColumn<QString>("reported");
        QTest::newRow("tcp, subscribed by its bare name") << "_remote._tcp"
                                                          << "remote"
                                                          << "_remote._tcp";
        QTest::newRow("udp") << "_remote._udp"
                             << "_remote._udp"
                             << "_remote._udp";
    }

    void publishBrowseAndResolveBetweenTwoObjects()
    {
        QFETCH(QString, published);
        QFETCH(QString, subscribed);
        QFETCH(QString, reported);
        QVERIFY(daemonReady());
        BonjourFixture f;
        LUA_RUN(f, "a = make('a') b = make('b') b:subscribe('" + subscribed.toUtf8() +
                       "') a:publish('" + published.toUtf8() + "', 'alpha', 4242)");
        AWAIT(f, "b onServiceAdded " + reported + " alpha local.");
        LUA_RUN(f, "b:resolve('" + reported.toUtf8() + "', 'alpha')");
        const QString escaped = QRegularExpression::escape(reported);
        QVERIFY2(
            !f.await("b onResolved alpha\\." + escaped + "\\.local\\. \\S+\\.local 4242").isNull(),
            qPrintable(f.log()));
        QTRY_VERIFY(f.object("b")->findChildren<ZeroconfService *>().isEmpty());
        // Destroyed in its own handler, as the removal reaches it.
        LUA_RUN(f, "function answer.onServiceRemoved(h) h:destroy() end a:destroy()");
        AWAIT(f, "b onServiceRemoved alpha");
        QTRY_VERIFY(!f.object("b"));
        QCOMPARE(f.take(), QStringList());
    }

    void outsidePeersFindUsAndWeThem()
    {
        QVERIFY(daemonReady());
        BonjourFixture f;
        QProcess peer;
        peer.start("avahi-publish", {"--service", "peer", "_remote._tcp", "5555"});
        QVERIFY2(peer.waitForStarted(), "avahi-publish (avahi-utils) is missing");
        LUA_RUN(f, "b = make('b') b:subscribe('_remote._tcp') "
                   "a = make('a') a:publish('remote', 'fraction', 80.9)");
        AWAIT(f, "b onServiceAdded _remote._tcp peer local.");
        AWAIT(f, "b onServiceAdded _remote._tcp fraction local.");
        LUA_RUN(f, "b:resolve('_remote._tcp', 'peer', 'local')");
        const QString resolved = f.await("b onResolved peer\\._remote\\._tcp\\.local\\. \\S+ 5555");
        QVERIFY2(!resolved.isNull(), resolved.isNull() ? qPrintable(f.log()) : "");
        const QString host = resolved.section(' ', 3, 3);
        const QStringList found = browseWithAvahi("_remote._tcp");
        QVERIFY2(found.contains("peer " + host + " 5555"), qPrintable(found.join(" | ")));
        QVERIFY2(found.contains("fraction " + host + " 80"), qPrintable(found.join(" | ")));
        peer.terminate();
        QVERIFY(peer.waitForFinished());
        AWAIT(f, "b onServiceRemoved peer");
    }

    // The name stays with the first; the second announcement fails rather than take another.
    void takenNameIsNotRenamed()
    {
        QVERIFY(daemonReady());
        BonjourFixture f;
        LUA_RUN(f, "c = make('c') c:subscribe('taken') a = make('a') "
                   "a:publish('taken', 'same', 1000)");
        AWAIT(f, "c onServiceAdded _taken._tcp same local.");
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression("^Registration Failed: [23] (failed|nametaken) same$"));
        LUA_RUN(f, "b = make('b') b:publish('taken', 'same', 2000)");
        QVERIFY2(!f.await("b onServiceError publish (failed|nametaken) same").isNull(),
                 qPrintable(f.log()));
        const QStringList found = browseWithAvahi("_taken._tcp");
        QCOMPARE(found.size(), 1);
        QVERIFY2(found.first().startsWith("same ") && found.first().endsWith(" 1000"),
                 qPrintable(found.first()));
        QCOMPARE(f.take(), QStringList());
    }

    // The library says nothing when the daemon goes; announcements and browsing come back with
    // it, and a resolve that was waiting fails.
    void daemonRestartIsSurvived()
    {
        const QString config = qEnvironmentVariable("REMOTE_AVAHI_CONFIG");
        if (config.isEmpty())
            QSKIP("the zeroconf daemon is not this test's own to stop");
        QVERIFY(daemonReady());
        BonjourFixture f;
        LUA_RUN(f, "a = make('a') b = make('b') b:subscribe('restart') "
                   "a:publish('restart', 'phoenix', 7000)");
        AWAIT(f, "b onServiceAdded _restart._tcp phoenix local.");
        LUA_RUN(f, "b:resolve('restart', 'ghost')");
        QTest::ignoreMessage(QtWarningMsg, "onResolveError: 4 daemongone ghost");
        QTest::ignoreMessage(QtWarningMsg, "Browsing Failed: 4 daemongone restart");
        QTest::ignoreMessage(QtWarningMsg, "Registration Failed: 4 daemongone phoenix");
        const QString pidFile = "/run/avahi-daemon/pid";
        const int pid = readFile(pidFile).toInt();
        QVERIFY(pid > 0 && ::kill(pid, SIGTERM) == 0);
        AWAIT(f, "b onServiceRemoved phoenix");
        QTRY_VERIFY(!zeroconfDaemonRunning() && !QFile::exists(pidFile));
        QTest::ignoreMessage(QtWarningMsg, "onResolveError: 1 nodaemon phoenix");
        LUA_RUN(f, "b:resolve('restart', 'phoenix')");
        QProcess daemon;
        daemon.start("avahi-daemon", {"--daemonize", "--no-chroot", "--file", config});
        QVERIFY(daemon.waitForFinished() && daemon.exitCode() == 0);
        const bool back =
            !f.awaitLine("b onServiceAdded _restart._tcp phoenix local.", 15000).isNull();
        QVERIFY2(back, back ? "" : qPrintable(f.log()));
        QStringList failures = f.take();
        failures.sort();
        QCOMPARE(failures, (QStringList{"a onServiceError publish daemongone phoenix",
                                        "b onServiceError browse daemongone restart",
                                        "b onServiceError resolve daemongone ghost",
                                        "b onServiceError resolve nodaemon phoenix"}));
    }

    // Two hosts find each other's OSC server by zeroconf and talk over it: nobody types in an
    // address or a port.
    void twoHostsFindEachOtherAndTalkOsc()
    {
        QVERIFY(daemonReady());
        const QByteArray application = R"(
            local bonjour = require('bonjour.core')
            local net = require('net.core')
            local me, other = 'ME', 'OTHER'
            local server = net.TcpServer.create()
            assert(server:listen(0))
            local b = bonjour.Bonjour.create()
            b:publish('_osctalk._tcp', me, server:port())
            b:subscribe('_osctalk._tcp')
            local peer, rest, sent, heard = nil, '', false, false
            function MsgHandler(h, e, a, c, d)
                if e == 'onServiceAdded' and c == other then
                    b:resolve(a, c, d)
                elseif e == 'onResolved' and a:find(other, 1, true) then
                    peer = net.TcpSocket.create()
                    peer:connect(c, d)
                elseif e == 'onConnected' then
                    h:write(net.osc.frame(net.osc.encode('/hello', me)))
                    sent = true
                elseif e == 'onReadyRead' then
                    local packets
                    packets, rest = net.osc.unframe(rest .. h:read())
                    for _, p in ipairs(packets) do
                        print('heard', net.osc.decode(p))
                        heard = true
                    end
                end
                -- What was written is on its way once the event loop has run a while.
                if heard and sent and not closing then
                    closing = require('qt.core').Timer.create()
                    closing:setTimeout(500)
                    closing:setSingleShot()
                    function closing:onTimeout() mainWindow:close() end
                    closing:start()
                end
                return 0
            end
        )";
        HostTree first;
        HostTree second;
        const auto named = [&](const char *me, const char *other) {
            return QByteArray(application).replace("ME", me).replace("OTHER", other);
        };
        first.writeApplication(named("alpha", "beta"));
        second.writeApplication(named("beta", "alpha"));
        QProcess a;
        QProcess b;
        first.start(a);
        second.start(b);
        QVERIFY(a.waitForFinished(15000) && b.waitForFinished(15000));
        const QString heardByFirst = QString::fromLocal8Bit(a.readAll());
        const QString heardBySecond = QString::fromLocal8Bit(b.readAll());
        QVERIFY2(heardByFirst.contains("heard\t/hello\tbeta\n"), qPrintable(heardByFirst));
        QVERIFY2(heardBySecond.contains("heard\t/hello\talpha\n"), qPrintable(heardBySecond));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
    }

    void hostOffersTheModule_data()
    {
        QTest::addColumn<QByteArray>("onTick");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("ticks reach MsgHandler")
            << QByteArray("if ticks == 5 then print('five ticks') mainWindow:close() end") << 0
            << "five ticks";
        QTest::newRow("a failing tick ends the program")
            << QByteArray("error('tick broke')") << 1 << "Call failed";
    }

    void hostOffersTheModule()
    {
        QFETCH(QByteArray, onTick);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        HostTree tree;
        tree.writeApplication("local b = require('bonjour.core').Bonjour.create()\n"
                              "local ticks = 0\n"
                              "function MsgHandler(h, e)\n"
                              "    if e == 'onTimer' and rawequal(h, b) then\n"
                              "        ticks = ticks + 1\n" +
                              onTick +
                              "\n    end\n"
                              "    return 0\n"
                              "end\n");
        const HostResult result = tree.run();
        QVERIFY(result.finished);
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2(result.output.contains(output), qPrintable(result.output));
    }
};

QTEST_MAIN(TestBonjour)
#include "tst_bonjour.moc"
