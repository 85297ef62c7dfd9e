#include "textedit.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "widget.h"

#include <QLineEdit>
#include <QPlainTextEdit>

#include <cstdio>
#include <limits>

static QLineEdit *checklineedit(lua_State *L, int index)
{
    return static_cast<QLineEdit *>(static_cast<QObject *>(luaX_checkclass(L, index, "QLineEdit")));
}

static QPlainTextEdit *checkplaintextedit(lua_State *L, int index)
{
    return static_cast<QPlainTextEdit *>(
        static_cast<QObject *>(luaX_checkclass(L, index, "QPlainTextEdit")));
}

// Text arguments never fail: a string or a number is the text, anything else counts as empty.
static QString optionaltext(lua_State *L, int index)
{
    const int type = lua_type(L, index);
    if (type != LUA_TSTRING && type != LUA_TNUMBER)
        return QString();
    return luaX_tovariant(L, index).toString();
}

static void pushlocal(lua_State *L, const QString &text)
{
    luaX_pushtext(L, text.toLocal8Bit());
}

static int llineedit_create(lua_State *L)
{
    auto *edit = new Tracked<QLineEdit>(testwidget(L, 1));
    luaX_pushqobject(L, edit);
    edit->setVisible(true);
    edit->setFrame(false);
    return 1;
}

static int llineedit_setText(lua_State *L)
{
    QLineEdit *edit = checklineedit(L, 1);
    edit->setText(optionaltext(L, 2));
    return 0;
}

static int llineedit_text(lua_State *L)
{
    pushlocal(L, checklineedit(L, 1)->text());
    return 1;
}

static int llineedit_setInputMask(lua_State *L)
{
    QLineEdit *edit = checklineedit(L, 1);
    edit->setInputMask(luaX_checkqstring(L, 2));
    return 0;
}

static int llineedit_setAlignment(lua_State *L)
{
    QLineEdit *edit = checklineedit(L, 1);
    const char *mode = luaL_optstring(L, 2, "left");
    const Qt::Alignment horizontal = mode[0] == 'c' ? Qt::AlignHCenter : Qt::AlignLeft;
    edit->setAlignment((edit->alignment() & ~Qt::AlignHorizontal_Mask) | horizontal);
    return 0;
}

static int llineedit_insert(lua_State *L)
{
    QLineEdit *edit = checklineedit(L, 1);
    edit->insert(optionaltext(L, 2));
    return 0;
}

static int llineedit_backspace(lua_State *L)
{
    checklineedit(L, 1)->backspace();
    return 0;
}

static int llineedit_del(lua_State *L)
{
    checklineedit(L, 1)->del();
    return 0;
}

// The field ignores a position past the end of its text, so the move stops at the end here.
static int llineedit_cursorMove(lua_State *L)
{
    QLineEdit *edit = checklineedit(L, 1);
    const int maximum = std::numeric_limits<int>::max();
    const lua_Integer delta = qBound<lua_Integer>(-maximum, luaL_checkinteger(L, 2), maximum);
    const int position = edit->cursorPosition();
    printf("ltextedit_cursorMove %d %d", static_cast<int>(delta), position);
    const lua_Integer target = qBound<lua_Integer>(0, position + delta, edit->text().size());
    edit->setCursorPosition(static_cast<int>(target));
    return 0;
}

static int llineedit_selectAll(lua_State *L)
{
    checklineedit(L, 1)->selectAll();
    return 0;
}

static int llineedit_setMaxLength(lua_State *L)
{
    QLineEdit *edit = checklineedit(L, 1);
    edit->setMaxLength(luaX_checkint(L, 2));
    return 0;
}

static const luaL_Reg lineedit_functions[] = {
    {"create", llineedit_create},
    {"setText", llineedit_setText},
    {"text", llineedit_text},
    {"setInputMask", llineedit_setInputMask},
    {"setAlignment", llineedit_setAlignment},
    {"insert", llineedit_insert},
    {"backspace", llineedit_backspace},
    {"del", llineedit_del},
    {"cursorMove", llineedit_cursorMove},
    {"selectAll", llineedit_selectAll},
    {"setMaxLength", llineedit_setMaxLength},
    {nullptr, nullptr},
};

const luaL_Reg *lineeditFunctions()
{
    return lineedit_functions;
}

static int lplaintextedit_create(lua_State *L)
{
    auto *edit = new Tracked<QPlainTextEdit>(testwidget(L, 1));
    luaX_pushqobject(L, edit);
    edit->setVisible(true);
    return 1;
}

static int lplaintextedit_append(lua_State *L)
{
    QPlainTextEdit *edit = checkplaintextedit(L, 1);
    edit->appendPlainText(optionaltext(L, 2));
    return 0;
}

static int lplaintextedit_text(lua_State *L)
{
    pushlocal(L, checkplaintextedit(L, 1)->toPlainText());
    return 1;
}

static int lplaintextedit_clear(lua_State *L)
{
    checkplaintextedit(L, 1)->clear();
    return 0;
}

static const luaL_Reg plaintextedit_functions[] = {
    {"create", lplaintextedit_create},
    {"append", lplaintextedit_append},
    {"text", lplaintextedit_text},
    {"clear", lplaintextedit_clear},
    {nullptr, nullptr},
};

const luaL_Reg *plaintexteditFunctions()
{
    return plaintextedit_functions;
}
