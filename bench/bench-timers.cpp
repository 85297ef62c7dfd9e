// Lateness of 20 Lua timers at 10 ms driving Lua callbacks, against 20 plain timers at 10 ms
// driving C++ slots, all running together for 10 s in one event loop.
#include "benchsupport.h"
#include "luax/luax.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

static const int timerCount = 20;
static const int intervalMs = 10;
static const int runMs = 10000;

static QElapsedTimer benchClock;
static std::vector<double> luaLateness;

// Lateness of one firing: how long after its due time (start + n intervals) it arrived.
struct Schedule {
    qint64 startNs = 0;
    qint64 fired = 0;

    double lateness(qint64 nowNs)
    {
        ++fired;
        const qint64 due = startNs + fired * intervalMs * 1000000LL;
        return std::max<qint64>(0, nowNs - due) / 1e6;
    }
};

static std::vector<Schedule> luaSchedules(timerCount);

static int lbench_fired(lua_State *L)
{
    const int index = static_cast<int>(luaL_checkinteger(L, 1));
    luaLateness.push_back(luaSchedules[index].lateness(benchClock.nsecsElapsed()));
    return 0;
}

static int lbench_started(lua_State *L)
{
    luaSchedules[luaL_checkinteger(L, 1)].startNs = benchClock.nsecsElapsed();
    return 0;
}

static const char *const timers = R"(
local qt = require 'qt.core'
running = {}
for i = 0, 19 do
    local t = qt.Timer.create()
    t:setTimeout(10)
    function t:onTimeout() fired(i) end
    running[#running + 1] = t
end
for i, t in ipairs(running) do t:start() started(i - 1) end
)";

static double percentile99(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() * 99 / 100];
}

int main(int argc, char **argv)
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    benchClock.start();
    lua_State *L = newQtCoreState();
    lua_register(L, "fired", lbench_fired);
    lua_register(L, "started", lbench_started);

    std::vector<double> cppLateness;
    std::vector<Schedule> cppSchedules(timerCount);
    std::vector<QTimer *> plain;
    for (int i = 0; i < timerCount; ++i) {
        auto *timer = new QTimer(&app);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(intervalMs);
        QObject::connect(timer, &QTimer::timeout, [&cppLateness, &cppSchedules, i] {
            cppLateness.push_back(cppSchedules[i].lateness(benchClock.nsecsElapsed()));
        });
        plain.push_back(timer);
    }
    luaX_dostring(L, timers, nullptr);
    for (int i = 0; i < timerCount; ++i) {
        plain[i]->start();
        cppSchedules[i].startNs = benchClock.nsecsElapsed();
    }
    QTimer::singleShot(runMs, &app, &QApplication::quit);
    app.exec();

    // Closing the interpreter deletes the Lua timers, which say so: do it before the figures.
    lua_close(L);
    const double lua = percentile99(luaLateness);
    const double cpp = percentile99(cppLateness);
    printf("Lua timers: %zu firings, 99th percentile lateness %.3f ms\n", luaLateness.size(), lua);
    printf("C++ timers: %zu firings, 99th percentile lateness %.3f ms\n", cppLateness.size(), cpp);
    printf("ratio: %.3f\n", cpp > 0 ? lua / cpp : (lua > 0 ? 99.0 : 1.0));
    return 0;
}
