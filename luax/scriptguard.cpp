#include "scriptguard.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

namespace
{

struct Limits {
    lua_State *L;
    int callMs;
    int startMs;
    bool starting;
};

struct Frame {
    lua_State *L;
    // The deadline is origin plus the budget; every stretch spent under another frame moves
    // the origin on by its length.
    int64_t origin;
    int64_t start;
    // The budget in milliseconds, 0 for none, and whether it is the one for starting.
    int budget;
    bool starting;
    // The coroutine the frame runs in now, if any; it changes only under the lock, so the
    // watchdog never hooks one that was collected.
    lua_State *coroutine;
};

// How often the watchdog looks: a runaway script is stopped within its budget and this.
const std::chrono::milliseconds watchInterval(20);

// The coarse clock costs a fraction of the precise one and ticks every few milliseconds, which
// is fine enough for budgets of hundreds.
int64_t now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
    return t.tv_sec * int64_t(1000000000) + t.tv_nsec;
}

// Lives as long as the process: the watchdog thread may outlive every static destructor.
struct Guard {
    std::vector<Limits> limits;
    std::vector<Frame> frames;
    std::mutex mutex;
    std::condition_variable wake;
    std::thread watchdog;
    bool stop = false;
    std::atomic<lua_State *> armedState{nullptr};
    std::atomic<lua_State *> armedCoroutine{nullptr};
    std::atomic<int64_t> armedDeadline{0};
};

Guard &guard()
{
    static Guard *g = new Guard;
    return *g;
}

Limits *limitsof(lua_State *L)
{
    for (Limits &limits : guard().limits)
        if (limits.L == L)
            return &limits;
    return nullptr;
}

int budgetof(const Limits *limits, bool starting)
{
    if (!limits)
        return 0;
    return starting ? limits->startMs : limits->callMs;
}

// 0 for a frame without a budget.
int64_t deadlineof(const Frame &frame)
{
    return frame.budget ? frame.origin + frame.budget * int64_t(1000000) : 0;
}

void publish()
{
    Guard &g = guard();
    const Frame *top = g.frames.empty() ? nullptr : &g.frames.back();
    g.armedState.store(top ? top->L : nullptr, std::memory_order_release);
    g.armedCoroutine.store(top ? top->coroutine : nullptr, std::memory_order_release);
    g.armedDeadline.store(top ? deadlineof(*top) : 0, std::memory_order_release);
}

// The budget of the frame on top when it has run past it, else 0.
int overrun()
{
    Guard &g = guard();
    if (g.frames.empty())
        return 0;
    const Frame &top = g.frames.back();
    const int64_t deadline = deadlineof(top);
    return deadline && now() >= deadline ? top.budget : 0;
}

// Once set, the hook stays until the frame ends, so the error comes again at the next step of a
// script that caught it: a pcall around the loop cannot keep it running. Only the count hook,
// which runs inside the Lua machine, raises the error: a call hook also runs for a C function
// that C++ calls without protection, and an error there would jump over C++ frames.
void stophook(lua_State *L, lua_Debug *debug)
{
    const int budget = overrun();
    if (!budget) {
        std::lock_guard<std::mutex> lock(guard().mutex);
        lua_sethook(L, nullptr, 0, 0);
        return;
    }
    if (debug->event != LUA_HOOKCOUNT)
        return;
    luaL_where(L, 0);
    lua_pushfstring(L, "script ran longer than %d ms", budget);
    lua_concat(L, 2);
    lua_error(L);
}

// The hook is set under the lock, so a state is never hooked after it was detached.
void watch()
{
    Guard &g = guard();
    std::unique_lock<std::mutex> lock(g.mutex);
    while (!g.stop) {
        g.wake.wait_for(lock, watchInterval);
        const int64_t deadline = g.armedDeadline.load(std::memory_order_acquire);
        lua_State *L = g.armedState.load(std::memory_order_acquire);
        lua_State *coroutine = g.armedCoroutine.load(std::memory_order_acquire);
        if (!deadline || !L || now() < deadline)
            continue;
        lua_sethook(L, stophook, LUA_MASKCOUNT, 1);
        if (coroutine)
            lua_sethook(coroutine, stophook, LUA_MASKCOUNT, 1);
    }
}

} // namespace

void ScriptGuard::attach(lua_State *L)
{
    Guard &g = guard();
    g.limits.push_back({L, 500, 10000, false});
    if (g.frames.capacity() == 0)
        g.frames.reserve(256);
    if (g.limits.size() == 1) {
        g.stop = false;
        g.watchdog = std::thread(watch);
    }
}

void ScriptGuard::detach(lua_State *L)
{
    Guard &g = guard();
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        for (auto it = g.limits.begin(); it != g.limits.end(); ++it)
            if (it->L == L) {
                g.limits.erase(it);
                break;
            }
        for (Frame &frame : g.frames)
            if (frame.L == L)
                frame.budget = 0;
        publish();
        g.stop = g.limits.empty();
    }
    if (!g.stop)
        return;
    g.wake.notify_one();
    g.watchdog.join();
}

void ScriptGuard::enter(lua_State *L, Kind kind)
{
    Guard &g = guard();
    const int64_t t = now();
    const Limits *limits = kind == Call ? limitsof(L) : nullptr;
    const bool starting = limits && limits->starting;
    g.frames.push_back({L, t, t, budgetof(limits, starting), starting, nullptr});
    publish();
}

void ScriptGuard::leave()
{
    Guard &g = guard();
    const int64_t start = g.frames.back().start;
    g.frames.pop_back();
    if (!g.frames.empty())
        g.frames.back().origin += now() - start;
    publish();
}

void ScriptGuard::setLimits(lua_State *L, int callMs, int startMs)
{
    Limits *limits = limitsof(L);
    if (!limits)
        return;
    limits->callMs = callMs;
    if (startMs >= 0)
        limits->startMs = startMs;
    for (Frame &frame : guard().frames)
        if (frame.L == L)
            frame.budget = budgetof(limits, frame.starting);
    publish();
}

lua_State *ScriptGuard::resuming(lua_State *coroutine)
{
    Guard &g = guard();
    if (g.frames.empty())
        return nullptr;
    std::lock_guard<std::mutex> lock(g.mutex);
    lua_State *outer = g.frames.back().coroutine;
    g.frames.back().coroutine = coroutine;
    publish();
    return outer;
}

void ScriptGuard::resumed(lua_State *outer)
{
    Guard &g = guard();
    if (g.frames.empty())
        return;
    std::lock_guard<std::mutex> lock(g.mutex);
    g.frames.back().coroutine = outer;
    publish();
}

void ScriptGuard::setStarting(lua_State *L, bool starting)
{
    if (Limits *limits = limitsof(L))
        limits->starting = starting;
}
