#include "painter.h"

#include "font.h"
#include "graphic.h"
#include "luax/luax.h"
#include "stylepainter.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>

// Painters that Lua opened on images, by image. Lua may collect an image and its painter in
// either order (at the latest when the interpreter closes); whichever goes first, the painter is
// ended before its pixmap is deleted.
static QHash<QPixmap *, QPainter *> imagePainters;

QPainter *checkpainter(lua_State *L, int index)
{
    return static_cast<QPainter *>(luaX_checkclass(L, index, "QPainter"));
}

QPixmap *checkimage(lua_State *L, int index)
{
    return static_cast<QPixmap *>(luaX_checkclass(L, index, "Image"));
}

static void endimagepainter(QPixmap *pixmap)
{
    QPainter *painter = imagePainters.take(pixmap);
    if (painter)
        painter->end();
}

static int limage_create(lua_State *L)
{
    const int width = luaX_checksize(L, 1);
    const int height = luaX_checksize(L, 2);
    auto *pixmap = new QPixmap(width, height);
    pixmap->fill(Qt::transparent);
    luaX_pushobject(L, pixmap, "Image", LUAX_OWNED | LUAX_NOCACHE);
    return 1;
}

static int limage_size(lua_State *L)
{
    const QPixmap *pixmap = checkimage(L, 1);
    lua_pushinteger(L, pixmap->width());
    lua_pushinteger(L, pixmap->height());
    return 2;
}

static int limage_gc(lua_State *L)
{
    auto *pixmap = static_cast<QPixmap *>(luaX_takeowned(L, 1, "Image"));
    if (!pixmap)
        return 0;
    endimagepainter(pixmap);
    delete pixmap;
    return 0;
}

static const luaL_Reg image_functions[] = {
    {"create", limage_create},
    {"size", limage_size},
    {"__gc", limage_gc},
    {nullptr, nullptr},
};

const luaL_Reg *imageFunctions()
{
    return image_functions;
}

// The painter holds its image's handle as its user value, so the image lives at least as long.
static int lqpainter_create(lua_State *L)
{
    QPixmap *pixmap = checkimage(L, 1);
    endimagepainter(pixmap);
    auto *painter = new QPainter(pixmap);
    imagePainters.insert(pixmap, painter);
    luaX_pushobject(L, painter, "QPainter", LUAX_OWNED | LUAX_NOCACHE);
    lua_pushvalue(L, 1);
    lua_setuservalue(L, -2);
    return 1;
}

static int lqpainter_gc(lua_State *L)
{
    auto *painter = static_cast<QPainter *>(luaX_takeowned(L, 1, "QPainter"));
    if (!painter)
        return 0;
    for (auto it = imagePainters.begin(); it != imagePainters.end(); ++it) {
        if (it.value() == painter) {
            imagePainters.erase(it);
            painter->end();
            break;
        }
    }
    delete painter;
    return 0;
}

static bool hascolor(lua_State *L, int index)
{
    return lua_type(L, index) == LUA_TSTRING || lua_type(L, index) == LUA_TNUMBER;
}

// The fill colour of fill and gradient: the argument when one is given, else the brush's.
static QColor fillcolor(lua_State *L, int index, const QPainter *painter)
{
    return hascolor(L, index) ? luaX_tocolor(L, index, "white") : painter->brush().color();
}

static QRect checkrect(lua_State *L, int first)
{
    return QRect(luaX_checkcoord(L, first), luaX_checkcoord(L, first + 1),
                 luaX_checkcoord(L, first + 2), luaX_checkcoord(L, first + 3));
}

// An ended painter still remembers its last device, which may be gone: it has no size.
static int lqpainter_size(lua_State *L)
{
    QPainter *painter = checkpainter(L, 1);
    const QPaintDevice *device = painter->isActive() ? painter->device() : nullptr;
    lua_pushinteger(L, device ? device->width() : 0);
    lua_pushinteger(L, device ? device->height() : 0);
    return 2;
}

static int lqpainter_setBrush(lua_State *L)
{
    QPainter *painter = checkpainter(L, 1);
    const QColor color = luaX_tocolor(L, 2, "black");
    if (painter->isActive())
        painter->setBrush(color);
    return 0;
}

static int lqpainter_setPen(lua_State *L)
{
    QPainter *painter = checkpainter(L, 1);
    const QColor color = luaX_tocolor(L, 2, "black");
    if (painter->isActive())
        painter->setPen(QPen(QBrush(color), 1));
    return 0;
}

static int lqpainter_setFont(lua_State *L)
{
    QPainter *painter = checkpainter(L, 1);
    const QFont *font = checkfont(L, 2);
    if (painter->isActive())
        painter->setFont(*font);
    return 0;
}

static int lqpainter_fill(lua_State *L)
{
    QPainter *painter = checkpainter(L, 1);
    const QRect rect = checkrect(L, 2);
    const QColor color = fillcolor(L, 6, painter);
    if (painter->isActive())
        painter->fillRect(rect, color);
    return 0;
}

static int lqpainter_gradient(lua_State *L)
{
    QPainter *painter = checkpainter(L, 1);
    const QRect rect = checkrect(L, 2);
    const QColor color = fillcolor(L, 6, painter);
    const char *style = luaX_optname(L, 7, "");
    const char *state = luaX_optname(L, 8, "");
    if (painter->isActive())
        paintStyle(painter, rect, color, style, state);
    return 0;
}

// The outline covers exactly the pixels of the w by h box; a box one pixel thin is a line.
static int lqpainter_box(lua_State *L)
{
    QPainter *painter = checkpainter(L, 1);
    const QRect rect = checkrect(L, 2);
    const bool colored = hascolor(L, 6);
    const QColor color = colored ? luaX_tocolor(L, 6, "black") : QColor();
    if (!painter->isActive() || rect.width() == 0 || rect.height() == 0)
        return 0;
    painter->save();
    if (colored)
        painter->setPen(QPen(QBrush(color), 1));
    const int x = rect.x();
    const int y = rect.y();
    if (rect.width() == 1)
        painter->drawLine(x, y, x, y + rect.height() - 1);
    else if (rect.height() == 1)
        painter->drawLine(x, y, x + rect.width() - 1, y);
    else
        painter->drawRect(QRect(QPoint(x, y), QPoint(x + rect.width() - 2, y + rect.height() - 2)));
    painter->restore();
    return 0;
}

static int lqpainter_text(lua_State *L)
{
    QPainter *painter = checkpainter(L, 1);
    const int x = luaX_checkcoord(L, 2);
    const int y = luaX_checkcoord(L, 3);
    luaL_checkstring(L, 4);
    const bool sized = lua_isnumber(L, 5);
    const int size = sized ? luaX_checkrange(L, 5, -LUAX_MAXFONTSIZE, LUAX_MAXFONTSIZE) : 0;
    const bool colored = hascolor(L, 6);
    const QColor color = colored ? luaX_tocolor(L, 6, "black") : QColor();
    // Lua errors unwind without destructors, so the text becomes a QString after every check.
    const QString text = luaX_checkqstring(L, 4);
    if (!painter->isActive())
        return 0;
    painter->save();
    if (sized) {
        QFont font = painter->font();
        font.setPixelSize(size);
        painter->setFont(font);
    }
    if (colored)
        painter->setPen(QPen(QBrush(color), 1));
    painter->drawText(QPoint(x, y + painter->fontMetrics().ascent()), text);
    painter->restore();
    return 0;
}

static int optcoord(lua_State *L, int index, int def)
{
    return lua_isnoneornil(L, index) ? def : luaX_checkcoord(L, index);
}

static int lqpainter_image(lua_State *L)
{
    QPainter *painter = checkpainter(L, 1);
    const int x = luaX_checkcoord(L, 2);
    const int y = luaX_checkcoord(L, 3);
    const QPixmap *pixmap = checkimage(L, 4);
    const QRect source(optcoord(L, 5, 0), optcoord(L, 6, 0), optcoord(L, 7, pixmap->width()),
                       optcoord(L, 8, pixmap->height()));
    if (painter->isActive())
        painter->drawPixmap(QRect(QPoint(x, y), source.size()), *pixmap, source);
    return 0;
}

static int lqpainter_graphic(lua_State *L)
{
    // Reading the rectangle may run Lua code (a metatable's __index): the painter is checked
    // after it.
    const char *name = luaX_checkname(L, 2);
    const QRect rect = luaX_torect(L, 3);
    QPainter *painter = checkpainter(L, 1);
    if (!drawGraphic(painter, QString::fromUtf8(name), rect))
        luaL_error(L, "Cannot find graphic 'fa-%s'", name);
    return 0;
}

static const luaL_Reg painter_functions[] = {
    {"create", lqpainter_create}, {"__gc", lqpainter_gc},
    {"size", lqpainter_size},     {"setBrush", lqpainter_setBrush},
    {"setPen", lqpainter_setPen}, {"setFont", lqpainter_setFont},
    {"fill", lqpainter_fill},     {"gradient", lqpainter_gradient},
    {"box", lqpainter_box},       {"text", lqpainter_text},
    {"image", lqpainter_image},   {"graphic", lqpainter_graphic},
    {nullptr, nullptr},
};

const luaL_Reg *painterFunctions()
{
    return painter_functions;
}
