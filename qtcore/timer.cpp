#include "timer.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QTimer>

#include <limits>

Timer::Timer() : m_timer(new QTimer(this))
{
    m_timer->setInterval(1000);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &Timer::onTimeout);
}

Timer::~Timer()
{
    ObjectTracker::release(this);
}

void Timer::onTimeout()
{
    ObjectTracker *tracker = ObjectTracker::forObject(this);
    if (!tracker)
        return;
    const Delivery delivery(tracker, this);
    luaX_callmethod(tracker->state(), static_cast<QObject *>(this), "onTimeout", nullptr);
}

static Timer *checktimer(lua_State *L, int index)
{
    return static_cast<Timer *>(static_cast<QObject *>(luaX_checkclass(L, index, "Timer")));
}

static QElapsedTimer *checkelapsed(lua_State *L, int index)
{
    return static_cast<QElapsedTimer *>(luaX_checkclass(L, index, "ElapsedTimer"));
}

static int ltimer_create(lua_State *L)
{
    luaX_pushobject(L, static_cast<QObject *>(new Timer), "Timer", LUAX_OWNED | LUAX_CACHE);
    return 1;
}

static int ltimer_start(lua_State *L)
{
    checktimer(L, 1)->timer()->start();
    return 0;
}

static int ltimer_stop(lua_State *L)
{
    checktimer(L, 1)->timer()->stop();
    return 0;
}

static int ltimer_setTimeout(lua_State *L)
{
    Timer *timer = checktimer(L, 1);
    timer->timer()->setInterval(luaX_checkinteger(L, 2, 0, std::numeric_limits<int>::max()));
    return 0;
}

static int ltimer_setSingleShot(lua_State *L)
{
    Timer *timer = checktimer(L, 1);
    timer->timer()->setSingleShot(luaX_optflag(L, 2));
    return 0;
}

static int ltimer_gc(lua_State *L)
{
    delete static_cast<QObject *>(luaX_takeowned(L, 1, "Timer"));
    return 0;
}

static const luaL_Reg timer_functions[] = {
    {"create", ltimer_create},
    {"start", ltimer_start},
    {"stop", ltimer_stop},
    {"setTimeout", ltimer_setTimeout},
    {"setSingleShot", ltimer_setSingleShot},
    {"__gc", ltimer_gc},
    {nullptr, nullptr},
};

const luaL_Reg *timerFunctions()
{
    return timer_functions;
}

static int lelapsedtimer_create(lua_State *L)
{
    auto *timer = new QElapsedTimer;
    timer->start();
    qDebug() << "Clock Type" << static_cast<int>(QElapsedTimer::clockType());
    luaX_pushobject(L, timer, "ElapsedTimer", LUAX_OWNED | LUAX_NOCACHE);
    return 1;
}

static int lelapsedtimer_start(lua_State *L)
{
    checkelapsed(L, 1)->start();
    return 0;
}

static int lelapsedtimer_elapsed(lua_State *L)
{
    const QElapsedTimer *timer = checkelapsed(L, 1);
    if (timer->isValid())
        lua_pushinteger(L, timer->elapsed());
    else
        lua_pushnil(L);
    return 1;
}

static int lelapsedtimer_restart(lua_State *L)
{
    QElapsedTimer *timer = checkelapsed(L, 1);
    const qint64 nanoseconds = timer->isValid() ? timer->nsecsElapsed() : 0;
    lua_pushnumber(L, nanoseconds / 1e9);
    timer->start();
    return 1;
}

static int lelapsedtimer_cancel(lua_State *L)
{
    checkelapsed(L, 1)->invalidate();
    return 0;
}

static int lelapsedtimer_isActive(lua_State *L)
{
    lua_pushboolean(L, checkelapsed(L, 1)->isValid());
    return 1;
}

static int lelapsedtimer_gc(lua_State *L)
{
    delete static_cast<QElapsedTimer *>(luaX_takeowned(L, 1, "ElapsedTimer"));
    return 0;
}

static int lelapsedtimer_tostring(lua_State *L)
{
    const QElapsedTimer *timer = checkelapsed(L, 1);
    const bool valid = timer->isValid();
    const QByteArray text =
        QString::asprintf("ElapsedTimer type:%d elapsed: %lld ms %lld ns",
                          static_cast<int>(QElapsedTimer::clockType()),
                          valid ? timer->elapsed() : 0LL, valid ? timer->nsecsElapsed() : 0LL)
            .toLatin1();
    lua_pushstring(L, text.constData());
    return 1;
}

static const luaL_Reg elapsedtimer_functions[] = {
    {"create", lelapsedtimer_create},
    {"start", lelapsedtimer_start},
    {"elapsed", lelapsedtimer_elapsed},
    {"restart", lelapsedtimer_restart},
    {"cancel", lelapsedtimer_cancel},
    {"isActive", lelapsedtimer_isActive},
    {"__gc", lelapsedtimer_gc},
    {"__tostring", lelapsedtimer_tostring},
    {nullptr, nullptr},
};

const luaL_Reg *elapsedtimerFunctions()
{
    return elapsedtimer_functions;
}
