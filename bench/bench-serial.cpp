// Throughput of bytes from a pty into Lua through serial.core (onReadyRead, then read),
// against a plain reader of the same pty; both take the same 8 MiB, written by one thread.
#include "benchsupport.h"
#include "devices/serialport.h"
#include "luax/luax.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTimer>

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

static const int byteCount = 8 << 20;
static const int rounds = 5;
static const int deadlineMs = 60000;

// Collects every piece in a table, as an application would.
static const char *const collector = R"(
function MsgHandler(h, e)
    if e == 'onReadyRead' then
        local s = h:read()
        count = count + 1
        chunks[count] = s
        received = received + #s
    end
    return 0
end
)";

static void fail(const char *what)
{
    fprintf(stderr, "bench-serial: %s\n", what);
    exit(1);
}

// Random bytes with a zero in every 256.
static QByteArray testdata()
{
    QByteArray data(byteCount, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
    for (int i = 0; i < data.size(); i += 256)
        data[i] = 0;
    return data;
}

static void writeall(int fd, const QByteArray &data)
{
    for (qint64 done = 0; done < data.size();) {
        const ssize_t n = write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0)
            fail("write to the pty failed");
        done += n;
    }
}

static bool readable(int fd, const QDeadlineTimer &deadline)
{
    pollfd p{fd, POLLIN, 0};
    return !deadline.hasExpired() && poll(&p, 1, int(deadline.remainingTime())) > 0;
}

// The baseline: read() into one buffer until every byte is there.
static double readplain(int master, int slave, const QByteArray &data, QByteArray *got)
{
    got->resize(data.size());
    const QDeadlineTimer deadline(deadlineMs);
    QElapsedTimer timer;
    timer.start();
    std::thread writer(writeall, master, std::cref(data));
    int done = 0;
    while (done < data.size() && readable(slave, deadline)) {
        const ssize_t n = read(slave, got->data() + done, size_t(data.size() - done));
        done += int(n > 0 ? n : 0);
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    writer.join();
    got->truncate(done);
    return seconds;
}

static lua_Integer luainteger(lua_State *L, const char *name)
{
    lua_getglobal(L, name);
    const lua_Integer value = lua_tointeger(L, -1);
    lua_pop(L, 1);
    return value;
}

// A new port per round; its greeting, written after the open, tells that the port is open.
static void openport(lua_State *L, int master, const char *path)
{
    lua_pushstring(L, path);
    lua_setglobal(L, "path");
    luaX_dostring(L,
                  "count, received, chunks = 0, 0, {} port = serial.SerialPort.create() "
                  "port:open(path) port:write('R')",
                  "!");
    char greeting = 0;
    if (!readable(master, QDeadlineTimer(deadlineMs)) || read(master, &greeting, 1) != 1 ||
        greeting != 'R')
        fail("the port did not open");
}

static double readlua(lua_State *L, int master, const char *path, const QByteArray &data,
                      QByteArray *got)
{
    openport(L, master, path);
    const QDeadlineTimer deadline(deadlineMs);
    QTimer wakeup;
    wakeup.start(100);
    QElapsedTimer timer;
    timer.start();
    std::thread writer(writeall, master, std::cref(data));
    while (luainteger(L, "received") < data.size() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = timer.nsecsElapsed() / 1e9;
    writer.join();
    luaX_dostring(L, "got = table.concat(chunks, '', 1, count) port:destroy()", "!");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    lua_getglobal(L, "got");
    size_t length = 0;
    const char *text = lua_tolstring(L, -1, &length);
    *got = QByteArray(text, int(length));
    lua_pop(L, 1);
    return seconds;
}

int main(int argc, char **argv)
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    PtyPair pty;
    if (!openptypair(&pty))
        fail("no pty");
    const int master = pty.master;
    const int slave = pty.slave;
    const QByteArray path = pty.path;
    lua_State *L = newQtCoreState();
    luaL_requiref(L, "serial.core", luaopen_serial_core, 0);
    lua_setglobal(L, "serial");
    luaX_dostring(L, collector, "!");
    const QByteArray data = testdata();

    std::vector<double> luaTimes;
    std::vector<double> plainTimes;
    bool exact = true;
    QByteArray got;
    for (int round = 0; round <= rounds; ++round) {
        const double lua = readlua(L, master, path.constData(), data, &got);
        exact = exact && got == data;
        const double plain = readplain(master, slave, data, &got);
        exact = exact && got == data;
        // Round 0 warms up.
        if (round == 0)
            continue;
        luaTimes.push_back(lua);
        plainTimes.push_back(plain);
    }
    lua_close(L);
    close(slave);
    close(master);
    const double luaTime = median(luaTimes);
    const double plainTime = median(plainTimes);
    printf("serial.core into Lua: %.1f MB/s\n", byteCount / luaTime / 1e6);
    printf("plain reader: %.1f MB/s\n", byteCount / plainTime / 1e6);
    printf("byte-exact: %s\n", exact ? "yes" : "no");
    if (!exact)
        return 1;
    printf("ratio: %.3f\n", luaTime / plainTime);
    return 0;
}
