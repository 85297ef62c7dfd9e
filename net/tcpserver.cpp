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

bool listenAddress(const char *text, QHostAddress *address)
{
    if (!text) {
        *address = QHostAddress::Any;
        return true;
    }
    return address->setAddress(QString::fromUtf8(text));
}

int pushListenResult(lua_State *L, bool done, int error, const QString &text)
{
    if (done) {
        lua_pushboolean(L, 1);
        return 1;
    }
    lua_pushnil(L);
    lua_pushstring(L, socketErrorName(error));
    luaX_pushtext(L, text.toUtf8());
    return 3;
}

// Lua errors unwind without destructors: they are raised once no C++ object is left.
static bool listen(TcpServer *server, const char *text, int port, int *results, lua_State *L)
{
    QHostAddress address;
    if (!listenAddress(text, &address))
        return false;
    QTcpServer *listener = server->server();
    listener->close();
    const bool done = listener->listen(address, static_cast<quint16>(port));
    *results = pushListenResult(L, done, listener->serverError(), listener->errorString());
    return true;
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
    const char *address = luaX_optname(L, 3, nullptr);
    int results = 0;
    if (!listen(server, address, port, &results, L))
        return luaL_argerror(L, 3, "not an IP address");
    return results;
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
