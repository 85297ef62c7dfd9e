// A 1280 by 800 panel of 48 buttons (style painter, state, 14-pixel label, sprite icon) drawn
// 200 times into an image from Lua, against the same picture drawn with QPainter calls written
// directly in C++, in the same run.
#include "benchsupport.h"
#include "luax/luax.h"
#include "qtcore/graphic.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <algorithm>
#include <cstdio>
#include <vector>

static const int frames = 200;
static const char *const icons[] = {"cog", "music", "search", "play", "pause", "stop"};
static const char *const states[] = {"", "down", "disabled"};

static const char *const panel = R"(
local qt = require 'qt.core'
local image = qt.Image.create(1280, 800)
local p = qt.QPainter.create(image)
local icons = {'cog', 'music', 'search', 'play', 'pause', 'stop'}
local states = {'', 'down', 'disabled'}
local buttons = {}
for i = 0, 47 do
    buttons[#buttons + 1] = {
        x = (i % 8) * 160 + 8, y = (i // 8) * 133 + 8, label = 'Button ' .. (i + 1),
        icon = icons[i % 6 + 1], state = states[i % 3 + 1],
        rect = {x = (i % 8) * 160 + 20, y = (i // 8) * 133 + 20, w = 24, h = 24}}
end
function frame()
    p:fill(0, 0, 1280, 800, 'black')
    for _, b in ipairs(buttons) do
        p:gradient(b.x, b.y, 144, 117, 0x2060A0, 'button', b.state)
        p:text(b.x + 12, b.y + 80, b.label, 14, 'white')
        p:graphic(b.icon, b.rect)
    end
end
)";

// The plain button face of the style painter for this colour and state, built once per state.
static QBrush face(const QRectF &rect, const QColor &base, const char *state)
{
    if (strcmp(state, "disabled") == 0)
        return QColor(Qt::darkGray);
    if (strcmp(state, "down") == 0)
        return base.lighter(115);
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, Qt::white);
    gradient.setColorAt(0.05, base.lighter(140));
    gradient.setColorAt(0.49, base.lighter(115));
    gradient.setColorAt(0.5, base);
    return gradient;
}

static void cppframe(QPainter &painter, QSvgRenderer &sprites)
{
    const QColor base(0x20, 0x60, 0xA0);
    painter.fillRect(QRect(0, 0, 1280, 800), Qt::black);
    for (int i = 0; i < 48; ++i) {
        const int x = (i % 8) * 160 + 8;
        const int y = (i / 8) * 133 + 8;
        const QRectF rect(x, y, 144, 117);
        painter.save();
        painter.setPen(QPen(QBrush(QColor(0x33, 0x33, 0x33)), 1));
        painter.setBrush(face(rect, base, states[i % 3]));
        painter.setRenderHint(QPainter::Antialiasing);
        painter.drawRoundedRect(QRectF(x + 0.5, y + 0.5, 143, 116), 3, 3, Qt::AbsoluteSize);
        painter.restore();
        painter.save();
        QFont font = painter.font();
        font.setPixelSize(14);
        painter.setFont(font);
        painter.setPen(QPen(QBrush(Qt::white), 1));
        painter.drawText(QPoint(x + 12, y + 80 + painter.fontMetrics().ascent()),
                         QString("Button %1").arg(i + 1));
        painter.restore();
        sprites.render(&painter, QString("fa-") + icons[i % 6], QRectF(x + 12, y + 12, 24, 24));
    }
}

int main(int argc, char **argv)
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    lua_State *L = newQtCoreState();
    luaX_dostring(L, panel, nullptr);

    QPixmap pixmap(1280, 800);
    QPainter painter(&pixmap);
    QSvgRenderer sprites(QString(":images/sprites.svg"));

    std::vector<double> luaTimes;
    std::vector<double> cppTimes;
    for (int i = 0; i < frames; ++i) {
        QElapsedTimer timer;
        timer.start();
        lua_getglobal(L, "frame");
        luaX_pcall(L, 0, 0, nullptr);
        luaTimes.push_back(timer.nsecsElapsed() / 1e6);
        timer.restart();
        cppframe(painter, sprites);
        cppTimes.push_back(timer.nsecsElapsed() / 1e6);
    }
    painter.end();
    lua_close(L);
    const double lua = median(luaTimes);
    const double cpp = median(cppTimes);
    printf("Lua frame: %.3f ms (median of %d)\n", lua, frames);
    printf("C++ frame: %.3f ms\n", cpp);
    printf("SVG files parsed by the graphic cache: %d (the sprite sheet, once)\n", graphicLoads());
    printf("ratio: %.3f\n", lua / cpp);
    return 0;
}
