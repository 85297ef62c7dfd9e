// The Lua API manual in doc/ against what the interpreter really has: every module, class,
// function, global and event documented, and nothing documented that does not exist.

#include "common/hosttree.h"

#include <lua.hpp>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

using Names = QMap<QString, QSet<QString>>;

// What a page or the interpreter has: functions by owner ("module M", "class C"), the classes
// of each module, globals and events.
struct Api {
    Names functions;
    Names classes;
    QSet<QString> globals;
    QSet<QString> events;
    QSet<QString> classesWithoutExample;
};

static const char *const inventory = R"(
local host = {}
for name in pairs(_G) do host[#host + 1] = name end
local function say(...) print(table.concat({'inventory', ...}, '\t')) end
for _, name in ipairs(host) do say('global', name) end

local function ownFunctions(class)
    local meta = getmetatable(class)
    local base = meta and type(meta.__index) == 'table' and meta.__index or {}
    for name, value in pairs(class) do
        if type(value) == 'function' and not name:find('^__') and rawget(base, name) ~= value then
            say('function', 'class ' .. rawget(class, '__classname'), name)
        end
    end
end

local modules = {'qt.core'}
for name in pairs(package.preload) do modules[#modules + 1] = name end
for _, name in ipairs(modules) do
    local module = require(name)
    say('module', name)
    if rawget(module, '__classname') then
        say('class', name, module.__classname)
        ownFunctions(module)
    else
        for key, value in pairs(module) do
            if type(value) == 'table' and rawget(value, '__classname') then
                say('class', name, value.__classname)
                ownFunctions(value)
            elseif type(value) == 'function' then
                say('function', 'module ' .. name, key)
            end
        end
    end
end
function MsgHandler(_, event)
    if event == 'onStartup' then mainWindow:close() end
    return 0
end
)";

static QSet<QString> plainGlobals()
{
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    QSet<QString> names;
    lua_pushglobaltable(L);
    lua_pushnil(L);
    while (lua_next(L, -2)) {
        names << QString::fromUtf8(lua_tostring(L, -2));
        lua_pop(L, 1);
    }
    lua_close(L);
    return names;
}

static Api interpreterApi()
{
    HostTree tree;
    tree.writeApplication(inventory);
    const HostResult result = tree.run();
    Api api;
    if (!result.finished || result.exitCode != 0) {
        qWarning().noquote() << result.output;
        return api;
    }
    const QSet<QString> plain = plainGlobals();
    for (const QString &line : result.output.split('\n')) {
        const QStringList field = line.split('\t');
        if (field.value(0) != "inventory")
            continue;
        if (field.value(1) == "global" && !plain.contains(field.value(2)))
            api.globals << field.value(2);
        else if (field.value(1) == "module")
            api.classes[field.value(2)];
        else if (field.value(1) == "class")
            api.classes[field.value(2)] << field.value(3);
        else if (field.value(1) == "function")
            api.functions[field.value(2)] << field.value(3);
    }
    // Offered for the start chunk and described with the interpreter, not as the host's own.
    api.globals.remove("loadstring");
    return api;
}

// The events the host sends: the names it hands to MsgHandler or calls as methods.
static QSet<QString> sentEvents()
{
    static const QRegularExpression name("\"(on[A-Z]\\w*|__deleted)\"");
    QSet<QString> events;
    for (const char *folder :
         {"host", "luax", "qtcore", "tabs", "viewers", "devices", "media", "net"}) {
        QDirIterator it(QString(REMOTE_SOURCE_DIR) + '/' + folder, {"*.cpp"}, QDir::Files);
        while (it.hasNext()) {
            QFile file(it.next());
            file.open(QIODevice::ReadOnly);
            for (const QString &line : QString::fromUtf8(file.readAll()).split('\n')) {
                if (line.contains("qDebug"))
                    continue;
                auto match = name.globalMatch(line);
                while (match.hasNext())
                    events << match.next().captured(1);
            }
        }
    }
    return events;
}

static Api manualApi(const QString &text)
{
    static const QRegularExpression section("^## (?:Module `([^`]+)`|(\\w+))");
    static const QRegularExpression classHeading("^### Class `([^`]+)`");
    static const QRegularExpression functionHeading("^### Function `(\\w+)\\(");
    static const QRegularExpression memberHeading("^#### `(?:[^`(]*[.:])?(\\w+)\\(");
    static const QRegularExpression nameHeading("^### `(\\w+)`");
    Api api;
    QString part, module, owner;
    for (const QString &line : text.split('\n')) {
        QRegularExpressionMatch m;
        if ((m = section.match(line)).hasMatch()) {
            module = m.captured(1);
            part = module.isEmpty() ? m.captured(2) : "Module";
            owner.clear();
            if (!module.isEmpty())
                api.classes[module];
        } else if (part == "Module" && (m = classHeading.match(line)).hasMatch()) {
            owner = "class " + m.captured(1);
            api.classes[module] << m.captured(1);
            api.classesWithoutExample << m.captured(1);
        } else if (line.startsWith("```lua") && owner.startsWith("class ")) {
            api.classesWithoutExample.remove(owner.mid(6));
        } else if (part == "Module" && (m = functionHeading.match(line)).hasMatch()) {
            api.functions["module " + module] << m.captured(1);
            owner.clear();
        } else if (part == "Module" && (m = memberHeading.match(line)).hasMatch()) {
            api.functions[owner.isEmpty() ? "(no class)" : owner] << m.captured(1);
        } else if ((m = nameHeading.match(line)).hasMatch()) {
            (part == "Events" ? api.events : api.globals) << m.captured(1);
        }
    }
    return api;
}

static QStringList differences(const QString &what, const QSet<QString> &real,
                               const QSet<QString> &documented)
{
    QStringList list;
    for (const QString &name : real - documented)
        list << QString("undocumented %1: %2").arg(what, name);
    for (const QString &name : documented - real)
        list << QString("documented but missing %1: %2").arg(what, name);
    return list;
}

static QStringList differences(const QString &what, const Names &real, const Names &documented)
{
    QStringList list;
    QSet<QString> owners;
    for (const QString &owner : real.keys() + documented.keys())
        owners << owner;
    for (const QString &owner : owners)
        list << differences(what + " of " + owner, real.value(owner), documented.value(owner));
    return list;
}

// Every ```lua block of a page, compiled (not run); count tells how many there were.
static QStringList brokenExamples(const QString &page, int *count)
{
    QFile file(QString(REMOTE_SOURCE_DIR) + '/' + page);
    file.open(QIODevice::ReadOnly);
    static const QRegularExpression block("```lua\\n(.*?)```",
                                          QRegularExpression::DotMatchesEverythingOption);
    QStringList broken;
    lua_State *L = luaL_newstate();
    auto match = block.globalMatch(QString::fromUtf8(file.readAll()));
    while (match.hasNext()) {
        const QByteArray example = match.next().captured(1).toUtf8();
        ++*count;
        if (luaL_loadbuffer(L, example.constData(), example.size(), "=example") != LUA_OK)
            broken << page + ": " + QString::fromUtf8(lua_tostring(L, -1));
        lua_settop(L, 0);
    }
    lua_close(L);
    return broken;
}

class TestManual : public QObject
{
    Q_OBJECT

private slots:
    void examplesCompile()
    {
        int count = 0;
        const QStringList broken =
            brokenExamples("doc/lua-api.md", &count) + brokenExamples("README.md", &count);
        QVERIFY2(broken.isEmpty(), qPrintable(broken.join('\n')));
        QVERIFY(count > 20);
    }

    void manualMatchesTheInterpreter()
    {
        QFile file(QString(REMOTE_SOURCE_DIR) + "/doc/lua-api.md");
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QString text = QString::fromUtf8(file.readAll());
        const Api manual = manualApi(text);
        const Api real = interpreterApi();
        QVERIFY2(real.classes.contains("qt.core") && real.globals.contains("mainWindow"),
                 "the inventory application did not run");
        QVERIFY(real.functions.value("class QWidget").contains("setParent"));
        QVERIFY(sentEvents().contains("onTouchPress"));

        QStringList problems;
        problems << differences("class", real.classes, manual.classes);
        problems << differences("function", real.functions, manual.functions);
        problems << differences("global", real.globals, manual.globals);
        problems << differences("event", sentEvents(), manual.events);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        QVERIFY(text.contains("loadstring"));
        const QStringList bare = manual.classesWithoutExample.values();
        QVERIFY2(bare.isEmpty(), qPrintable("classes without an example: " + bare.join(", ")));
    }
};

QTEST_MAIN(TestManual)
#include "tst_manual.moc"
