#include "nativemodule.h"

#include "luax/scriptguard.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>

struct ModuleFile {
    const char *name;
    const char *opener;
};

// In the order of NativeModule::File.
static const ModuleFile moduleFiles[] = {
    {"pdf2.core", "luaopen_pdf2_core"},         {"bonjour.core", "luaopen_bonjour_core"},
    {"player.core", "luaopen_player_core"},     {"serial.core", "luaopen_serial_core"},
    {"recorder.core", "luaopen_recorder_core"}, {"net.core", "luaopen_net_core"},
};

QString NativeModule::directory()
{
    return QCoreApplication::applicationDirPath() + "/native";
}

// A cold load of a large library may take a while: it counts against no script's time budget.
static bool loadLibrary(QLibrary &library)
{
    const ScriptGuard::NestedLoop loading;
    return library.load();
}

// Leaves the opener inside the module's shared object, or the reason there is none, on the
// stack. The library stays loaded for the rest of the process.
static lua_CFunction findOpener(lua_State *L, const ModuleFile &module)
{
    const QString path = NativeModule::directory() + "/" + module.name + ".so";
    if (!QFileInfo::exists(path)) {
        lua_pushfstring(L, "module '%s' is not installed: %s not found", module.name,
                        path.toLocal8Bit().constData());
        return nullptr;
    }
    QLibrary library(path);
    // Every symbol the module needs from the program is bound now, so a missing one is an error
    // here rather than a failed call later.
    library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!loadLibrary(library)) {
        lua_pushfstring(L, "module '%s' cannot be loaded: %s", module.name,
                        library.errorString().toLocal8Bit().constData());
        return nullptr;
    }
    const auto opener = reinterpret_cast<lua_CFunction>(library.resolve(module.opener));
    if (!opener)
        lua_pushfstring(L, "module '%s' cannot be loaded: %s has no %s", module.name,
                        path.toLocal8Bit().constData(), module.opener);
    return opener;
}

// Without upvalues, as every preloaded opener is: the module is told by the template argument.
template <NativeModule::File F> int NativeModule::open(lua_State *L)
{
    const lua_CFunction opener = findOpener(L, moduleFiles[F]);
    if (!opener)
        return lua_error(L);
    return opener(L);
}

template int NativeModule::open<NativeModule::Pdf2>(lua_State *L);
template int NativeModule::open<NativeModule::Bonjour>(lua_State *L);
template int NativeModule::open<NativeModule::Player>(lua_State *L);
template int NativeModule::open<NativeModule::Serial>(lua_State *L);
template int NativeModule::open<NativeModule::Recorder>(lua_State *L);
template int NativeModule::open<NativeModule::Net>(lua_State *L);
