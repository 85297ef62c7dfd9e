#include "font.h"

#include "luax/luax.h"

#include <QFontMetrics>

#include <cctype>
#include <cstring>

QFont *checkfont(lua_State *L, int index)
{
    return static_cast<QFont *>(luaX_checkclass(L, index, "QFont"));
}

static void pushfont(lua_State *L, QFont *font)
{
    luaX_pushobject(L, font, "QFont", LUAX_OWNED | LUAX_NOCACHE);
}

static int lqfont_create(lua_State *L)
{
    auto *font = new QFont("Courier New");
    font->setWeight(QFont::Normal);
    font->setStyleStrategy(QFont::PreferAntialias);
    pushfont(L, font);
    return 1;
}

// Applies one word of the attribute vocabulary; false for a word outside it.
static bool applyword(QFont *font, const char *word)
{
    static const struct {
        const char *word;
        int weight;
    } weights[] = {{"bold", 75}, {"demibold", 63}, {"normal", 50}, {"light", 25}};
    for (const auto &entry : weights) {
        if (strcmp(word, entry.word) == 0) {
            font->setWeight(entry.weight);
            return true;
        }
    }
    if (strcmp(word, "italic") == 0)
        font->setItalic(true);
    else if (strcmp(word, "overline") == 0)
        font->setOverline(true);
    else if (strcmp(word, "underline") == 0)
        font->setUnderline(true);
    else
        return false;
    return true;
}

static int lqfont_setFont(lua_State *L)
{
    QFont *font = checkfont(L, 1);
    const int top = lua_gettop(L);
    for (int i = 2; i <= top; ++i) {
        if (lua_isnil(L, i))
            continue;
        if (lua_isnumber(L, i)) {
            font->setPixelSize(luaX_checkrange(L, i, -LUAX_MAXFONTSIZE, LUAX_MAXFONTSIZE));
            continue;
        }
        const char *word = lua_type(L, i) == LUA_TSTRING ? lua_tostring(L, i) : nullptr;
        if (word && isupper(static_cast<unsigned char>(word[0])))
            font->setFamily(QString::fromUtf8(word));
        else if (!word || !applyword(font, word))
            luaL_argerror(L, i, "Unexpected font attribute");
    }
    return 0;
}

static int lqfont_textBounds(lua_State *L)
{
    const QFont *font = checkfont(L, 1);
    const QString text = luaX_checkqstring(L, 2);
    const QSize size = QFontMetrics(*font).boundingRect(QRect(), 0, text).size();
    lua_pushinteger(L, size.width());
    lua_pushinteger(L, size.height());
    return 2;
}

// The argument is checked before anything is allocated: a failed check unwinds past this frame.
static int lqfont_copy(lua_State *L)
{
    const QFont *font = checkfont(L, 1);
    pushfont(L, new QFont(*font));
    return 1;
}

static int lqfont_gc(lua_State *L)
{
    delete static_cast<QFont *>(luaX_takeowned(L, 1, "QFont"));
    return 0;
}

static const luaL_Reg font_functions[] = {
    {"create", lqfont_create}, {"setFont", lqfont_setFont}, {"textBounds", lqfont_textBounds},
    {"copy", lqfont_copy},     {"__gc", lqfont_gc},         {nullptr, nullptr},
};

const luaL_Reg *fontFunctions()
{
    return font_functions;
}
