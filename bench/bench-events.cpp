// Cost of forwarding a mouse move through the object tracker into a Lua MsgHandler, against a
// minimal filter that makes the same Lua call with the plain C API on the same kind of widget.
#include "benchsupport.h"
#include "luax/luax.h"
#include "qtcore/widget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

static const int eventCount = 100000;
static const int rounds = 21;
static const char handleKey = 0;

struct AllocationCounter {
    lua_Alloc original;
    void *originalData;
    long long allocations;
};

static void *countingalloc(void *ud, void *ptr, size_t osize, size_t nsize)
{
    auto *counter = static_cast<AllocationCounter *>(ud);
    if (nsize > 0 && (!ptr || nsize > osize))
        ++counter->allocations;
    return counter->original(counter->originalData, ptr, osize, nsize);
}

// The floor: the same Lua call any event must pay for (handle, name, x, y and the finger),
// written with the plain C API.
class BaselineFilter : public QObject
{
public:
    explicit BaselineFilter(lua_State *L) : L(L) {}

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::MouseMove)
            return false;
        auto *e = static_cast<QMouseEvent *>(event);
        const int top = lua_gettop(L);
        lua_getglobal(L, "MsgHandler");
        lua_rawgetp(L, LUA_REGISTRYINDEX, &handleKey);
        lua_pushstring(L, "onTouchMove");
        lua_pushinteger(L, e->x());
        lua_pushinteger(L, e->y());
        lua_pushinteger(L, 1);
        const bool consumed = lua_pcall(L, 5, 1, 0) == LUA_OK && lua_tointeger(L, -1) != 0;
        lua_settop(L, top);
        return consumed;
    }

private:
    lua_State *L;
};

static double sendmoves(QWidget *target)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 20), QPointF(10, 20), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < eventCount; ++i)
        QCoreApplication::sendEvent(target, &move);
    return timer.nsecsElapsed() / 1e9;
}

int main(int argc, char **argv)
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    lua_State *L = newQtCoreState();
    luaX_dostring(L, "function MsgHandler() return 0 end w = qt.QWidget.create(nil, false)",
                  nullptr);
    lua_getglobal(L, "w");
    auto *tracked =
        static_cast<QWidget *>(static_cast<QObject *>(luaX_checkclass(L, -1, "QWidget")));
    lua_rawsetp(L, LUA_REGISTRYINDEX, &handleKey);

    // The same kind of widget as the tracked one, without a handle: only the filters differ.
    Widget plain;
    BaselineFilter baseline(L);
    plain.installEventFilter(&baseline);

    AllocationCounter counter{nullptr, nullptr, 0};
    counter.original = lua_getallocf(L, &counter.originalData);
    sendmoves(tracked);
    sendmoves(&plain);

    std::vector<double> trackedTimes;
    std::vector<double> plainTimes;
    long long allocations = 0;
    for (int round = 0; round < rounds; ++round) {
        counter.allocations = 0;
        lua_setallocf(L, countingalloc, &counter);
        trackedTimes.push_back(sendmoves(tracked));
        lua_setallocf(L, counter.original, counter.originalData);
        allocations += counter.allocations;
        plainTimes.push_back(sendmoves(&plain));
    }
    lua_close(L);
    const double trackedTime = median(trackedTimes);
    const double plainTime = median(plainTimes);
    printf("tracker filter: %.0f events/s\n", eventCount / trackedTime);
    printf("plain Lua call: %.0f events/s\n", eventCount / plainTime);
    printf("allocations per event: %g\n", double(allocations) / (double(eventCount) * rounds));
    printf("ratio: %.3f\n", trackedTime / plainTime);
    return 0;
}
