// Cost of the runaway-script guard: one tight Lua loop called through the host's protected call
// with the guard watching it, against the same loop with the guard turned off, in one interpreter.
#include "benchsupport.h"
#include "luax/luax.h"
#include "luax/scriptguard.h"

#include <QElapsedTimer>

#include <cstdio>
#include <vector>

static const int rounds = 7;

static double runloop(lua_State *L)
{
    lua_getglobal(L, "spin");
    QElapsedTimer timer;
    timer.start();
    if (luaX_pcall(L, 0, 0, "") != LUA_OK) {
        printf("the loop failed: %s\n", lua_tostring(L, -1));
        lua_pop(L, 1);
    }
    return timer.nsecsElapsed() / 1e9;
}

int main()
{
    lua_State *L = luaX_newstate();
    luaX_dostring(L,
                  "function spin() local x = 0 for i = 1, 20000000 do x = x + i % 7 end "
                  "return x end",
                  nullptr);
    // The guarded loop stays well inside its budget: the cost measured is that of watching.
    ScriptGuard::setLimits(L, 10000, -1);
    runloop(L);
    std::vector<double> guarded;
    std::vector<double> unguarded;
    for (int round = 0; round < rounds; ++round) {
        ScriptGuard::setLimits(L, 10000, -1);
        guarded.push_back(runloop(L));
        ScriptGuard::setLimits(L, 0, -1);
        unguarded.push_back(runloop(L));
    }
    lua_close(L);
    const double with = median(guarded);
    const double without = median(unguarded);
    printf("loop with the guard: %.1f ms\n", with * 1e3);
    printf("loop without the guard: %.1f ms\n", without * 1e3);
    printf("ratio: %.3f\n", with / without);
    return 0;
}
