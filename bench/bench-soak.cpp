// A long run: 1,000,000 events through MsgHandler (mouse moves, paints that draw boxes and text,
// and timer runs), with the resident memory every 100,000 events and the longest stall of the
// event loop. The baseline is the resident memory after the first 100,000, once the caches have
// filled: the ratio is memory at the end over memory then.
#include "benchsupport.h"
#include "luax/luax.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWidget>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

static const long long eventCount = 1000000;
static const long long reportEvery = 100000;
static const int movesPerPass = 8;

// Every event keeps a little state, as an application does: a position, a history of the last
// moves, texts made for drawing.
static const char *const application = R"(
events, last, kinds = 0, {}, {}
local moves = {}
function MsgHandler(h, e, x, y)
    events = events + 1
    kinds[e] = (kinds[e] or 0) + 1
    if e == 'onTouchMove' then
        moves[#moves % 64 + 1] = {x, y}
        last.x, last.y = x, y
    elseif e == 'onPaint' then
        lcdCanvas:fill(0, 0, 120, 80, 'black')
        lcdCanvas:box(2, 2, 116, 76, 'white')
        lcdCanvas:text(6, 6, string.format('%d %d', last.x or 0, last.y or 0), 14, 'green')
    end
    return 0
end
ticker = qt.Timer.create()
ticker:setTimeout(0)
ticker:setSingleShot(false)
function ticker:onTimeout()
    events = events + 1
    kinds.onTimeout = (kinds.onTimeout or 0) + 1
end
ticker:start()
)";

static long long residentKiB()
{
    FILE *f = fopen("/proc/self/statm", "r");
    long long size = 0;
    long long resident = 0;
    if (!f || fscanf(f, "%lld %lld", &size, &resident) != 2)
        resident = 0;
    if (f)
        fclose(f);
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

static long long luaevents(lua_State *L)
{
    lua_getglobal(L, "events");
    const long long value = lua_tointeger(L, -1);
    lua_pop(L, 1);
    return value;
}

int main(int argc, char **argv)
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    lua_State *L = newQtCoreState();
    luaX_dostring(L, application, "!");
    luaX_dostring(L, "w = qt.QWidget.create(nil, false) w:setGeometry(0, 0, 120, 80) w:show()",
                  "!");
    lua_getglobal(L, "w");
    auto *widget =
        static_cast<QWidget *>(static_cast<QObject *>(luaX_checkclass(L, -1, "QWidget")));
    lua_pop(L, 1);

    long long baseline = 0;
    long long resident = 0;
    long long nextReport = reportEvery;
    qint64 longestStallNs = 0;
    int pass = 0;
    QElapsedTimer stall;
    QElapsedTimer total;
    total.start();
    stall.start();
    while (luaevents(L) < eventCount) {
        for (int i = 0; i < movesPerPass; ++i) {
            const QPointF at((pass + i) % 120, (pass * 3 + i) % 80);
            QMouseEvent move(QEvent::MouseMove, at, at, Qt::LeftButton, Qt::LeftButton,
                             Qt::NoModifier);
            QCoreApplication::sendEvent(widget, &move);
        }
        widget->repaint();
        QCoreApplication::processEvents();
        longestStallNs = std::max(longestStallNs, stall.nsecsElapsed());
        stall.restart();
        ++pass;
        const long long events = luaevents(L);
        if (events < nextReport)
            continue;
        resident = residentKiB();
        if (!baseline)
            baseline = resident;
        printf("events %7lld: resident %lld KiB\n", events, resident);
        nextReport += reportEvery;
    }
    const double seconds = total.nsecsElapsed() / 1e9;
    luaX_dostring(L,
                  "for _, k in ipairs{'onTouchMove', 'onPaint', 'onTimeout'} do "
                  "print(k, kinds[k]) end",
                  "!");
    lua_close(L);
    printf("%lld events in %.1f s\n", eventCount, seconds);
    printf("growth after the first %lld: %lld KiB\n", reportEvery, resident - baseline);
    printf("longest stall: %.2f ms\n", longestStallNs / 1e6);
    printf("ratio: %.4f\n", double(resident) / double(baseline));
    return 0;
}
