#include "common/luafixture.h"
#include "devices/serialport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

// A close of the device named here takes 1.5 s, as a tty driver waiting for its line may: the
// test program's close stands in for the C library's, for every caller in the process.
static std::atomic<bool> closeSticks{false};
static char stuckDevice[256];

extern "C" int close(int fd)
{
    char link[64];
    char target[256] = {};
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (closeSticks && readlink(link, target, sizeof target - 1) > 0 &&
        strcmp(target, stuckDevice) == 0)
        usleep(1500 * 1000);
    return int(syscall(SYS_close, fd));
}

// Two ptys joined by socat: the port side for SerialPort, the peer side for the test.
class PtyPair
{
public:
    PtyPair()
    {
        const QString peer = m_dir.path() + "/peer";
        m_socat.start("socat",
                      {"pty,raw,echo=0,link=" + portPath(), "pty,raw,echo=0,link=" + peer});
        QDeadlineTimer deadline(5000);
        while (!(QFileInfo::exists(portPath()) && QFileInfo::exists(peer)) &&
               !deadline.hasExpired())
            QThread::msleep(10);
        m_peer = ::open(QFile::encodeName(peer).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_peer < 0)
            return;
        termios settings;
        tcgetattr(m_peer, &settings);
        cfmakeraw(&settings);
        tcsetattr(m_peer, TCSANOW, &settings);
    }

    ~PtyPair()
    {
        if (m_peer >= 0)
            ::close(m_peer);
        unplug();
    }

    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isReady() const { return m_peer >= 0; }
    QString portPath() const { return m_dir.path() + "/port"; }

    // All of the data, unless ten seconds pass.
    void write(const QByteArray &data)
    {
        QDeadlineTimer deadline(10000);
        for (qint64 done = 0; done < data.size() && wait(POLLOUT, deadline);) {
            const ssize_t n = ::write(m_peer, data.constData() + done, size_t(data.size() - done));
            done += qMax<ssize_t>(n, 0);
        }
    }

    // The next count bytes, or what came of them within ten seconds.
    QByteArray read(int count)
    {
        QByteArray data(count, Qt::Uninitialized);
        QDeadlineTimer deadline(10000);
        int done = 0;
        while (done < count && wait(POLLIN, deadline))
            done += int(qMax<ssize_t>(::read(m_peer, data.data() + done, size_t(count - done)), 0));
        data.truncate(done);
        return data;
    }

    void unplug()
    {
        m_socat.kill();
        m_socat.waitForFinished();
    }

    // The descriptors of this process that have the port side open.
    int portDescriptors() const
    {
        const QString device = QFileInfo(portPath()).canonicalFilePath();
        const QDir fds("/proc/self/fd");
        int count = 0;
        for (const QString &fd :
             fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            count += QFile::symLinkTarget(fds.filePath(fd)) == device;
        return count;
    }

private:
    bool wait(short events, const QDeadlineTimer &deadline) const
    {
        pollfd fd{m_peer, events, 0};
        return !deadline.hasExpired() && poll(&fd, 1, int(deadline.remainingTime())) > 0;
    }

    QTemporaryDir m_dir;
    QProcess m_socat;
    int m_peer = -1;
};

// Every port test starts from one SerialPort in the global port. Its onReadyRead reads
// everything into chunks; counted(name) tells how often an event came.
static const char *const prelude = R"(
port = serial.SerialPort.create()
chunks, total = {}, 0
function answer.onReadyRead(h)
    local s = h:read()
    chunks[#chunks + 1] = s
    total = total + #s
end
function counted(name)
    local n = 0
    for _, line in ipairs(recorded) do
        if line == name or line:sub(1, #name + 1) == name .. ' ' then n = n + 1 end
    end
    return n
end
)";

static void setglobal(LuaFixture &f, const char *name, const QByteArray &value)
{
    lua_pushlstring(f.L, value.constData(), size_t(value.size()));
    lua_setglobal(f.L, name);
}

static bool loadSerial(LuaFixture &f)
{
    luaL_requiref(f.L, "serial.core", luaopen_serial_core, 0);
    lua_setglobal(f.L, "serial");
    return f.run(prelude);
}

// The greeting written after the open reaches the peer only once the port is open.
static bool openPort(LuaFixture &f, PtyPair &pair)
{
    setglobal(f, "path", pair.portPath().toUtf8());
    return f.run("assert(port:open(path) == true) port:write('ready')") && pair.read(5) == "ready";
}

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void roundTripKeepsEveryByte()
    {
        PtyPair pair;
        QVERIFY(pair.isReady());
        LuaFixture f;
        QVERIFY(loadSerial(f));
        QByteArray data(1 << 20, Qt::Uninitialized);
        QRandomGenerator(9).fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
        for (int i = 0; i < data.size(); i += 1000)
            data[i] = 0;
        setglobal(f, "sent", data);
        setglobal(f, "path", pair.portPath().toUtf8());
        LUA_RUN(f, "port:open(path) port:write(sent)");
        QVERIFY(pair.read(data.size()) == data);
        pair.write(data);
        QTRY_COMPARE_WITH_TIMEOUT(f.eval("total"), QString::number(data.size()), 10000);
        QCOMPARE(f.eval("table.concat(chunks) == sent"), QString("true"));
        QCOMPARE(f.eval("counted('onError')"), QString("0"));
    }

    void chunksBeforeOneReadComeTogether()
    {
        PtyPair pair;
        LuaFixture f;
        QVERIFY(loadSerial(f));
        LUA_RUN(f, "answer.onReadyRead = nil");
        QCOMPARE(f.eval("port:read() == ''"), QString("true"));
        QVERIFY(openPort(f, pair));
        pair.write(QByteArray("one\0", 4));
        QTRY_COMPARE(f.eval("counted('onReadyRead')"), QString("1"));
        pair.write("two");
        QTRY_COMPARE(f.eval("counted('onReadyRead')"), QString("2"));
        QCOMPARE(f.eval("port:read() == 'one\\0two'"), QString("true"));
        QCOMPARE(f.eval("port:read() == ''"), QString("true"));
    }

    void unplugGivesOneErrorAndDropsUnreadBytes()
    {
        PtyPair pair;
        LuaFixture f;
        QVERIFY(loadSerial(f));
        LUA_RUN(f, "answer.onReadyRead = nil");
        QVERIFY(openPort(f, pair));
        pair.write("lost");
        QTRY_COMPARE(f.eval("counted('onReadyRead')"), QString("1"));
        pair.unplug();
        QTRY_COMPARE(f.eval("counted('onError')"), QString("1"));
        QTest::qWait(100);
        QCOMPARE(f.eval("counted('onError')"), QString("1"));
        QCOMPARE(f.eval("port:read() == ''"), QString("true"));

        PtyPair replugged;
        QVERIFY(openPort(f, replugged));
        replugged.write("fresh");
        QTRY_COMPARE(f.eval("counted('onReadyRead')"), QString("2"));
        QCOMPARE(f.eval("port:read()"), QString("fresh"));
        QCOMPARE(f.eval("counted('onError')"), QString("1"));
    }

    void missingPortAnswersTrueThenOneError()
    {
        LuaFixture f;
        QVERIFY(loadSerial(f));
        QCOMPARE(f.eval("port:open('/nonexistent/serial')"), QString("true"));
        QTRY_COMPARE(f.eval("counted('onError')"), QString("1"));
        LUA_RUN(f, "port:open('/nonexistent/serial')");
        QTRY_COMPARE(f.eval("counted('onError')"), QString("2"));
        QTest::qWait(50);
        QCOMPARE(f.eval("counted('onError')"), QString("2"));
    }

    // onError tells why, and the log has the same line.
    void errorsCarryTheirReason_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing device") << "missing"
                                        << "notfound No such file or directory";
        QTest::newRow("held by another port") << "held"
                                              << "busy ";
        QTest::newRow("unplugged") << "unplugged"
                                   << "removed ";
    }

    void errorsCarryTheirReason()
    {
        QFETCH(QString, failure);
        QFETCH(QString, reason);
        PtyPair pair;
        LuaFixture f;
        QVERIFY(loadSerial(f));
        if (failure == "missing") {
            LUA_RUN(f, "port:open('/nonexistent/serial')");
        } else {
            QVERIFY(openPort(f, pair));
            setglobal(f, "path", pair.portPath().toUtf8());
            if (failure == "held")
                LUA_RUN(f, "other = serial.SerialPort.create() other:open(path)");
            else
                pair.unplug();
        }
        QTRY_COMPARE(f.eval("counted('onError')"), QString("1"));
        const QString line = f.eval("recorded[#recorded]");
        QVERIFY2(line.startsWith("onError " + reason), qPrintable(line));
    }

    void badArgumentsAreLuaErrors_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QString>("error");
        QTest::newRow("open without a name") << QByteArray("port:open()") << "string expected";
        QTest::newRow("name with a zero byte")
            << QByteArray("port:open('/dev/null\\0x')") << "text holds a zero byte";
        QTest::newRow("write of a table") << QByteArray("port:write({})") << "string expected";
        QTest::newRow("read on a timer") << QByteArray("serial.SerialPort.read(qt.Timer.create())")
                                         << "SerialPort expected, got userdata";
        QTest::newRow("open on nothing")
            << QByteArray("serial.SerialPort.open(nil, 'x')") << "SerialPort expected, got nil";
    }

    void badArgumentsAreLuaErrors()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(QString, error);
        LuaFixture f;
        QVERIFY(loadSerial(f));
        QVERIFY(!f.run(chunk));
        QVERIFY2(f.error.contains(error), qPrintable(f.error));
        QTest::qWait(20);
        QCOMPARE(f.eval("counted('onError')"), QString("0"));
    }

    void destroyClosesThePort()
    {
        PtyPair pair;
        LuaFixture f;
        QVERIFY(loadSerial(f));
        QVERIFY(openPort(f, pair));
        QCOMPARE(pair.portDescriptors(), 1);
        LUA_RUN(f, "port:destroy()");
        QTRY_COMPARE(pair.portDescriptors(), 0);
        QVERIFY(!f.run("port:read()"));
        QVERIFY2(f.error.contains("attempting to access deleted SerialPort"), qPrintable(f.error));
    }

    // The window waits briefly for a port whose close is stuck; the thread ends on its own.
    void stuckCloseDoesNotHoldUpTheWindow()
    {
        PtyPair pair;
        LuaFixture f;
        QVERIFY(loadSerial(f));
        QVERIFY(openPort(f, pair));
        const QByteArray device = QFile::encodeName(QFileInfo(pair.portPath()).canonicalFilePath());
        qstrncpy(stuckDevice, device.constData(), sizeof stuckDevice);
        closeSticks = true;
        QElapsedTimer clock;
        clock.start();
        LUA_RUN(f, "port:destroy()");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        qint64 stall = clock.elapsed();
        for (QDeadlineTimer closed(3000); pair.portDescriptors() > 0 && !closed.hasExpired();) {
            clock.restart();
            QTest::qWait(10);
            stall = qMax(stall, clock.elapsed());
        }
        closeSticks = false;
        QCOMPARE(pair.portDescriptors(), 0);
        QVERIFY2(stall < 100, qPrintable(QString::number(stall)));
        QTest::qWait(150);
    }

    void closingTheInterpreterClosesItsPorts()
    {
        PtyPair pair;
        {
            LuaFixture f;
            QVERIFY(loadSerial(f));
            QVERIFY(openPort(f, pair));
            QCOMPARE(pair.portDescriptors(), 1);
        }
        QCOMPARE(pair.portDescriptors(), 0);
    }
};

QTEST_MAIN(TestSerialPort)
#include "tst_serialport.moc"
