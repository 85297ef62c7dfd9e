#include "netmodule.h"

#include "luax/luax.h"
#include "luax/qtcoremodule.h"
#include "osc.h"
#include "tcpserver.h"
#include "tcpsocket.h"
#include "udpsocket.h"

// The sockets derive from QObject, so qt.core is loaded first when it is not yet.
int luaopen_net_core(lua_State *L)
{
    luaL_checkversion(L);
    luaL_requiref(L, "qt.core", luaopen_qt_core, 0);
    lua_pop(L, 1);
    lua_newtable(L);
    luaX_createclass(L, "TcpSocket", tcpSocketFunctions(), "QObject", true, true);
    luaX_createclass(L, "TcpServer", tcpServerFunctions(), "QObject", true, true);
    luaX_createclass(L, "UdpSocket", udpSocketFunctions(), "QObject", true, true);
    pushOscTable(L);
    lua_setfield(L, -2, "osc");
    return 1;
}
