#include "tcpserver.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "tcpsocket.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

TcpServer::TcpServer() : m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &TcpServer::onNewConnection);
}

TcpServer::~TcpServer()
{
    ObjectTracker::release(this);
}

// Each client becomes a TcpSocket owned by the interpreter's tracker, as one Lua made would be.
void TcpServer::onNewConnection()
{
    while (QTcpSocket *client = m_server->nextPendingConnection()) {
        ObjectTracker *tracker = ObjectTracker::forObject(this);
        if (!tracker) {
            delete client;
            continue;
        }
        auto *socket = new TcpSocket(client);
        socket->setParent(tracker);
        lua_State *L = tracker->state();
        luaX_pushqobject(L, socket);
        lua_pop(L, 1);
        LuaMsgHandler(tracker, this, "onNewConnection", "%o", static_cast<QObject *>(socket));
    }
}

bool parseListenAddress(lua_State *L, int index, QHostAddress *address)
{
    if (lua_isnoneornil(L, index)) {
        *address = QHostAddress::Any;
        return true;
    }
    return address->setAddress(QString::fromUtf8(luaX_checkname(L, index)));
}

static TcpServer *checkserver(lua_State *L, int index)
{
    return static_cast<TcpServer *>(static_cast<QObject *>(luaX_checkclass(L, index, "TcpServer")));
}

static int ltcpserver_create(lua_State *L)
{
    auto *server = new TcpServer;
    server->setParent(ObjectTracker::instance(L));
    luaX_pushqobject(L, server);
    return 1;
}

// Port 0 takes a free one (port() says which). Returns true, or nil and the reason.
static int ltcpserver_listen(lua_State *L)
{
    TcpServer *server = checkserver(L, 1);
    const int port = luaX_checkinteger(L, 2, 0, 65535);
    QHostAddress address;
    if (!parseListenAddress(L, 3, &address))
        return luaL_argerror(L, 3, "not an IP address");
    server->server()->close();
    if (server->server()->listen(address, static_cast<quint16>(port))) {
        lua_pushboolean(L, 1);
        return 1;
    }
    lua_pushnil(L);
    lua_pushstring(L, socketErrorName(server->server()->serverError()));
    luaX_pushtext(L, server->server()->errorString().toUtf8());
    return 3;
}

static int ltcpserver_port(lua_State *L)
{
    lua_pushinteger(L, checkserver(L, 1)->server()->serverPort());
    return 1;
}

static int ltcpserver_close(lua_State *L)
{
    checkserver(L, 1)->server()->close();
    return 0;
}

static const luaL_Reg tcpserver_functions[] = {
    {"create", ltcpserver_create},
    {"listen", ltcpserver_listen},
    {"port", ltcpserver_port},
    {"close", ltcpserver_close},
    {nullptr, nullptr},
};

const luaL_Reg *tcpServerFunctions()
{
    return tcpserver_functions;
}
