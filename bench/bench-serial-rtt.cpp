// Reply time on a serial line, as a video deck's controller needs it: a peer on the pty's master
// side sends a four-byte command every 2 ms and waits for the four-byte answer; the application
// answers each command from onReadyRead with write, through serial.core. The baseline is a plain
// thread that answers on the same pty with read and write. The rounds alternate, 1,000 round
// trips each, 5,000 in all for each side.
#include "benchsupport.h"
#include "devices/serialport.h"
#include "luax/luax.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

static const int rounds = 5;
static const int tripsPerRound = 1000;
static const int commandSize = 4;
static const auto interval = std::chrono::milliseconds(2);
// An answer later than this counts as lost and ends the run.
static const int answerTimeoutMs = 1000;

// Answers every whole command with its bytes in reverse, whatever the pieces it comes in.
static const char *const responder = R"(
local pending = ''
function MsgHandler(h, e)
    if e == 'onReadyRead' then
        pending = pending .. h:read()
        while #pending >= 4 do
            h:write(pending:sub(1, 4):reverse())
            pending = pending:sub(5)
        end
    end
    return 0
end
)";

static void fail(const char *what)
{
    fprintf(stderr, "bench-serial-rtt: %s\n", what);
    exit(1);
}

static bool readable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

static bool readexactly(int fd, char *buffer, int size, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (int done = 0; done < size;) {
        if (!readable(fd, int(deadline.remainingTime())))
            return false;
        const ssize_t n = read(fd, buffer + done, size_t(size - done));
        if (n <= 0)
            return false;
        done += int(n);
    }
    return true;
}

// The deck's side: a command every interval, each timed until its answer is complete.
static bool runpeer(int master, std::vector<double> *trips)
{
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < tripsPerRound; ++i) {
        std::this_thread::sleep_until(next);
        next += interval;
        const char command[commandSize] = {'\x20', char(i), char(i >> 8), '\x61'};
        QElapsedTimer timer;
        timer.start();
        if (write(master, command, commandSize) != commandSize)
            return false;
        char answer[commandSize];
        if (!readexactly(master, answer, commandSize, answerTimeoutMs))
            return false;
        trips->push_back(timer.nsecsElapsed() / 1e3);
        for (int k = 0; k < commandSize; ++k)
            if (answer[k] != command[commandSize - 1 - k])
                return false;
    }
    return true;
}

// The baseline responder: blocking reads and writes on the slave side until told to stop.
static void answerplain(int slave, const std::atomic<bool> *stop)
{
    char pending[commandSize];
    int have = 0;
    while (!stop->load()) {
        if (!readable(slave, 20))
            continue;
        const ssize_t n = read(slave, pending + have, size_t(commandSize - have));
        if (n <= 0)
            continue;
        have += int(n);
        if (have < commandSize)
            continue;
        const char answer[commandSize] = {pending[3], pending[2], pending[1], pending[0]};
        if (write(slave, answer, commandSize) != commandSize)
            fail("the plain responder's write failed");
        have = 0;
    }
}

static bool roundplain(int master, int slave, std::vector<double> *trips)
{
    std::atomic<bool> stop{false};
    std::thread responder(answerplain, slave, &stop);
    const bool ok = runpeer(master, trips);
    stop = true;
    responder.join();
    return ok;
}

// A new port per round; its greeting, written after the open, tells that the port is open.
static bool roundlua(lua_State *L, int master, const char *path, std::vector<double> *trips)
{
    lua_pushstring(L, path);
    lua_setglobal(L, "path");
    luaX_dostring(L, "port = serial.SerialPort.create() port:open(path) port:write('RRRR')", "!");
    char greeting[commandSize];
    if (!readexactly(master, greeting, commandSize, answerTimeoutMs))
        fail("the port did not open");
    // The GUI thread waits in its event loop, as the host's does, until the peer is done.
    QEventLoop loop;
    bool ok = false;
    std::thread peer([&] {
        ok = runpeer(master, trips);
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    peer.join();
    luaX_dostring(L, "port:destroy()", "!");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ok;
}

static double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

static void report(const char *name, const std::vector<double> &trips)
{
    printf("%s: p50 %.0f us, p99 %.0f us, worst %.0f us (%zu round trips)\n", name,
           percentile(trips, 0.5), percentile(trips, 0.99), percentile(trips, 1.0), trips.size());
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
    luaX_dostring(L, responder, "!");

    std::vector<double> luaTrips;
    std::vector<double> plainTrips;
    for (int round = 0; round < rounds; ++round) {
        if (!roundlua(L, master, path.constData(), &luaTrips))
            fail("an answer through serial.core was lost or wrong");
        if (!roundplain(master, slave, &plainTrips))
            fail("an answer of the plain responder was lost or wrong");
    }
    lua_close(L);
    close(slave);
    close(master);
    report("serial.core and Lua", luaTrips);
    report("plain responder", plainTrips);
    printf("ratio: %.3f\n", percentile(luaTrips, 0.99) / percentile(plainTrips, 0.99));
    return 0;
}
