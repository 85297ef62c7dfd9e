#ifndef NATIVEMODULE_H
#define NATIVEMODULE_H

#include <lua.hpp>

#include <QString>

// The native modules that bring heavy libraries (Poppler, the multimedia stack, zeroconf, the
// serial library, OSC) live in shared objects of their own, native/<module>.so beside the
// program, and are loaded on the first require of their name. Their symbols from the runtime
// come from the program itself, which exports them.
class NativeModule
{
public:
    enum File { Pdf2, Bonjour, Player, Serial, Recorder, Net };

    // The preloaded opener of one module: loads its shared object and calls the opener inside
    // it. A missing or broken file is a Lua error at require.
    template <File F> static int open(lua_State *L);
    // The folder the shared objects are looked for in: "native" beside the program.
    static QString directory();
};

#endif
