#ifndef SCRIPTGUARD_H
#define SCRIPTGUARD_H

#include <lua.hpp>

// Stops a script that runs past its time budget. Every call from the host into Lua is a frame on
// one stack (all of them run on the GUI thread); the frame on top is the one whose clock runs. A
// watchdog thread looks at the top frame a few dozen times a second, keeps its time on top and,
// once that has passed the budget, sets a debug hook on the interpreter; the hook, back on the
// GUI thread, checks that the same frame is still on top and raises "script ran longer than N
// ms" inside the running script. Nothing is paid per Lua instruction until then, and per call
// only a few stores: the GUI thread reads the clock only for a call made from inside another.
//
// A frame above another stops the other's clock: a call made from inside a call, and a nested
// event loop (a message box, a dialog), which is a frame without a budget of its own.
class ScriptGuard
{
public:
    enum Kind { Wait, Call };

    static void attach(lua_State *L);
    static void detach(lua_State *L);
    static void enter(lua_State *L, Kind kind);
    static void leave();
    // Budgets in milliseconds, 0 for none: one for callbacks, one for the start of the
    // application (its top-level code and the start event), used while starting is set. A
    // negative start budget keeps the one set.
    static void setLimits(lua_State *L, int callMs, int startMs);
    static void setStarting(lua_State *L, bool starting);
    // A coroutine resumed by the frame on top runs until resumed() is given what resuming()
    // returned: the guard stops a loop inside it too.
    static lua_State *resuming(lua_State *coroutine);
    static void resumed(lua_State *outer);

    // A nested event loop for the scope: its waiting counts against no callback.
    class NestedLoop
    {
    public:
        NestedLoop() { enter(nullptr, Wait); }
        ~NestedLoop() { leave(); }
        NestedLoop(const NestedLoop &) = delete;
        NestedLoop &operator=(const NestedLoop &) = delete;
    };
};

#endif
