#include "scriptguard.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
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

// One frame of the stack. The GUI thread writes it before it publishes the depth that shows
// it; the watchdog only reads it.
struct Frame {
    std::atomic<uint64_t> serial{0};
    std::atomic<lua_State *> L{nullptr};
    // The coroutine the frame runs in now, if any; it changes only under the lock, so the
    // watchdog never hooks one that was collected.
    std::atomic<lua_State *> coroutine{nullptr};
    // The budget in milliseconds, 0 for none, and whether it is the one for starting.
    std::atomic<int> budget{0};
    bool starting = false;
    // The time frames above this one have taken so far, in nanoseconds of the steady clock:
    // their time is not this frame's. Only nested frames read the clock, the GUI thread's
    // common call from the event loop does not.
    std::atomic<int64_t> covered{0};
    // When a nested frame began (GUI thread only).
    int64_t started = 0;
};

// Deeper nesting than this goes unguarded (Lua's own limit on nested C calls is lower).
constexpr int maximumDepth = 256;

// How often the watchdog looks: a runaway script is stopped within its budget and two of these.
const std::chrono::milliseconds watchInterval(20);
// The most one look charges, in nanoseconds.
constexpr int64_t maximumCharge = 3 * 20 * int64_t(1000000);

// What the watchdog knows of the frame it saw on top at one depth: its own time so far, and when
// it last saw it on top and the time of the frames above it then.
struct Seen {
    uint64_t serial = 0;
    int64_t own = 0;
    int64_t covered = 0;
    int64_t look = 0;
};

int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Lives as long as the process: the watchdog thread may outlive every static destructor. The
// GUI thread only pushes and pops frames; the watchdog keeps the time, so a call into Lua costs
// no clock reading.
struct Guard {
    std::vector<Limits> limits;
    std::array<Frame, maximumDepth> frames;
    std::atomic<int> depth{0};
    uint64_t serials = 0;
    // The frame the watchdog found over its budget; the hook raises only inside that one.
    std::atomic<uint64_t> overrunSerial{0};
    std::atomic<int> overrunBudget{0};
    std::mutex mutex;
    std::condition_variable wake;
    std::thread watchdog;
    bool stop = false;
};

// Made before main, so the hot path reads a plain pointer.
Guard *const theGuard = new Guard;

inline Guard &guard()
{
    return *theGuard;
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

// The frame on top, or null when there is none or it is too deep to be kept.
Frame *topframe()
{
    Guard &g = guard();
    const int depth = g.depth.load(std::memory_order_relaxed);
    return depth > 0 && depth <= maximumDepth ? &g.frames[depth - 1] : nullptr;
}

// The budget of the frame on top when the watchdog found it over budget, else 0.
int overrun()
{
    Guard &g = guard();
    const Frame *top = topframe();
    if (!top || top->serial.load(std::memory_order_relaxed) !=
                    g.overrunSerial.load(std::memory_order_acquire))
        return 0;
    return g.overrunBudget.load(std::memory_order_relaxed);
}

// Whether the frame the watchdog found over budget is on the stack below the one on top.
bool overrunBelow()
{
    Guard &g = guard();
    const uint64_t serial = g.overrunSerial.load(std::memory_order_acquire);
    const int depth = std::min(g.depth.load(std::memory_order_relaxed), maximumDepth);
    for (int i = 0; i + 1 < depth; ++i)
        if (g.frames[i].serial.load(std::memory_order_relaxed) == serial)
            return true;
    return false;
}

// Once set, the hook stays until the frame ends, so the error comes again at the next step of a
// script that caught it: a pcall around the loop cannot keep it running. Only the count hook,
// which runs inside the Lua machine, raises the error: a call hook also runs for a C function
// that C++ calls without protection, and an error there would jump over C++ frames.
void stophook(lua_State *L, lua_Debug *debug)
{
    const int budget = overrun();
    if (!budget) {
        // A call made from inside the stopped one runs to its end, looked at now and then
        // rather than at every step; the error comes once the stopped frame runs again.
        std::lock_guard<std::mutex> lock(guard().mutex);
        if (overrunBelow())
            lua_sethook(L, stophook, LUA_MASKCOUNT, 1000);
        else
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

// Adds the time since the frame on top was last seen on top, less what frames above it took
// meanwhile (every one of them began and ended in between), to its own time; a frame seen for
// the first time starts from nothing, so a script is never stopped early. Tells whether it is
// over its budget.
bool overBudget(Seen &seen, const Frame &top, uint64_t serial, int budget, int64_t look)
{
    const int64_t covered = top.covered.load(std::memory_order_relaxed);
    if (seen.serial != serial) {
        seen = {serial, 0, covered, look};
        return false;
    }
    // A stopped process (a debugger, a suspended session) or a starved watchdog charges no more
    // than a few looks' worth at once: the frame is never stopped for time it did not run.
    const int64_t since = std::min<int64_t>(look - seen.look, maximumCharge);
    seen.own += std::max<int64_t>(0, since - (covered - seen.covered));
    seen.covered = covered;
    seen.look = look;
    return budget && seen.own >= budget * int64_t(1000000);
}

// The hook is set under the lock, so a state is never hooked after it was detached.
void watch()
{
    Guard &g = guard();
    std::array<Seen, maximumDepth> seen{};
    std::unique_lock<std::mutex> lock(g.mutex);
    while (!g.stop) {
        g.wake.wait_for(lock, watchInterval);
        const int64_t look = steadyNs();
        const int depth = g.depth.load(std::memory_order_acquire);
        if (depth <= 0 || depth > maximumDepth)
            continue;
        const Frame &top = g.frames[depth - 1];
        // Read once: the frame may end and another take its place meanwhile.
        const uint64_t serial = top.serial.load(std::memory_order_relaxed);
        const int budget = top.budget.load(std::memory_order_relaxed);
        lua_State *L = top.L.load(std::memory_order_relaxed);
        if (!L || !overBudget(seen[depth - 1], top, serial, budget, look))
            continue;
        g.overrunBudget.store(budget, std::memory_order_relaxed);
        g.overrunSerial.store(serial, std::memory_order_release);
        lua_sethook(L, stophook, LUA_MASKCOUNT, 1);
        if (lua_State *coroutine = top.coroutine.load(std::memory_order_relaxed))
            lua_sethook(coroutine, stophook, LUA_MASKCOUNT, 1);
    }
}

} // namespace

void ScriptGuard::attach(lua_State *L)
{
    Guard &g = guard();
    g.limits.push_back({L, 500, 10000, false});
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
        const int depth = std::min(g.depth.load(std::memory_order_relaxed), maximumDepth);
        for (int i = 0; i < depth; ++i)
            if (g.frames[i].L.load(std::memory_order_relaxed) == L) {
                g.frames[i].budget.store(0, std::memory_order_relaxed);
                g.frames[i].L.store(nullptr, std::memory_order_relaxed);
            }
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
    const int depth = g.depth.load(std::memory_order_relaxed);
    if (depth < maximumDepth) {
        const Limits *limits = kind == Call ? limitsof(L) : nullptr;
        Frame &frame = g.frames[depth];
        frame.starting = limits && limits->starting;
        frame.serial.store(++g.serials, std::memory_order_relaxed);
        frame.L.store(L, std::memory_order_relaxed);
        frame.coroutine.store(nullptr, std::memory_order_relaxed);
        frame.budget.store(budgetof(limits, frame.starting), std::memory_order_relaxed);
        frame.covered.store(0, std::memory_order_relaxed);
        frame.started = depth > 0 ? steadyNs() : 0;
    }
    g.depth.store(depth + 1, std::memory_order_release);
}

void ScriptGuard::leave()
{
    Guard &g = guard();
    const int leaving = g.depth.load(std::memory_order_relaxed) - 1;
    if (leaving > 0 && leaving < maximumDepth)
        g.frames[leaving - 1].covered.fetch_add(steadyNs() - g.frames[leaving].started,
                                                std::memory_order_relaxed);
    g.depth.store(leaving, std::memory_order_release);
}

void ScriptGuard::setLimits(lua_State *L, int callMs, int startMs)
{
    Limits *limits = limitsof(L);
    if (!limits)
        return;
    limits->callMs = callMs;
    if (startMs >= 0)
        limits->startMs = startMs;
    Guard &g = guard();
    const int depth = std::min(g.depth.load(std::memory_order_relaxed), maximumDepth);
    for (int i = 0; i < depth; ++i)
        if (g.frames[i].L.load(std::memory_order_relaxed) == L)
            g.frames[i].budget.store(budgetof(limits, g.frames[i].starting),
                                     std::memory_order_relaxed);
}

lua_State *ScriptGuard::resuming(lua_State *coroutine)
{
    Frame *top = topframe();
    if (!top)
        return nullptr;
    std::lock_guard<std::mutex> lock(guard().mutex);
    return top->coroutine.exchange(coroutine, std::memory_order_relaxed);
}

void ScriptGuard::resumed(lua_State *outer)
{
    Frame *top = topframe();
    if (!top)
        return;
    std::lock_guard<std::mutex> lock(guard().mutex);
    top->coroutine.store(outer, std::memory_order_relaxed);
}

void ScriptGuard::setStarting(lua_State *L, bool starting)
{
    if (Limits *limits = limitsof(L))
        limits->starting = starting;
}
