#include "udpsocket.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "tcpserver.h"
#include "tcpsocket.h"

#include "hostlookup.h"

#include <QNetworkDatagram>
#include <QPointer>
#include <QUdpSocket>

UdpSocket::UdpSocket() : m_socket(new QUdpSocket(this))
{
    connect(m_socket, &QUdpSocket::readyRead, this, &UdpSocket::onReadyRead);
}

UdpSocket::~UdpSocket()
{
    ObjectTracker::release(this);
}

// One datagram per delivery; the socket may die in Lua, or its tracker with the interpreter.
void UdpSocket::onReadyRead()
{
    const QPointer<UdpSocket> self(this);
    while (self && m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram();
        ObjectTracker *tracker = ObjectTracker::forObject(this);
        if (!tracker)
            continue;
        if (datagram.senderAddress() != m_lastSender) {
            m_lastSender = datagram.senderAddress();
            m_lastSenderText = m_lastSender.toString().toUtf8();
        }
        const QByteArray sender = m_lastSenderText;
        const QByteArray data = datagram.data();
        lua_State *L = tracker->state();
        luaX_pushtext(L, data);
        LuaMsgHandler(tracker, this, "onDatagram", "%i %s %d", lua_gettop(L), sender.constData(),
                      datagram.senderPort());
        lua_pop(L, 1);
    }
}

// An address goes at once; a name is looked up first, without waiting.
bool UdpSocket::send(const QString &host, quint16 port, const QByteArray &data)
{
    // An answer goes to the address it came from, datagram after datagram: parsed once.
    if (host != m_lastHost) {
        m_lastHost = host;
        m_lastAddress = QHostAddress(host);
    }
    if (!m_lastAddress.isNull())
        return m_socket->writeDatagram(data, m_lastAddress, port) >= 0;
    if (m_waiting >= maxWaiting)
        return false;
    ++m_waiting;
    lookupHost(host, this, [this, port, data](const QHostAddress &address, const QString &) {
        --m_waiting;
        if (!address.isNull())
            m_socket->writeDatagram(data, address, port);
    });
    return true;
}

static UdpSocket *checkudp(lua_State *L, int index)
{
    return static_cast<UdpSocket *>(static_cast<QObject *>(luaX_checkclass(L, index, "UdpSocket")));
}

static int ludpsocket_create(lua_State *L)
{
    auto *socket = new UdpSocket;
    socket->setParent(ObjectTracker::instance(L));
    luaX_pushqobject(L, socket);
    return 1;
}

// Lua errors unwind without destructors: they are raised once no C++ object is left.
static bool bindto(UdpSocket *socket, const char *text, int port, int *results, lua_State *L)
{
    QHostAddress address;
    if (!listenAddress(text, &address))
        return false;
    QUdpSocket *udp = socket->socket();
    udp->abort();
    const bool done = udp->bind(address, static_cast<quint16>(port),
                                QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
    *results = pushListenResult(L, done, udp->error(), udp->errorString());
    return true;
}

static bool join(UdpSocket *socket, const char *text, lua_State *L)
{
    QHostAddress group;
    if (!group.setAddress(QString::fromUtf8(text)) || !group.isMulticast())
        return false;
    lua_pushboolean(L, socket->socket()->joinMulticastGroup(group));
    return true;
}

// Port 0 takes a free one. Other programs may bind the same port (for broadcasts and
// multicasts). Returns true, or nil, a reason word and the system's text.
static int ludpsocket_bind(lua_State *L)
{
    UdpSocket *socket = checkudp(L, 1);
    const int port = luaX_checkinteger(L, 2, 0, 65535);
    const char *address = luaX_optname(L, 3, nullptr);
    int results = 0;
    if (!bindto(socket, address, port, &results, L))
        return luaL_argerror(L, 3, "not an IP address");
    return results;
}

// Returns true once the datagram is sent or waits for its host's name.
static int ludpsocket_send(lua_State *L)
{
    UdpSocket *socket = checkudp(L, 1);
    const char *host = luaX_checkname(L, 2);
    const int port = luaX_checkinteger(L, 3, 1, 65535);
    size_t length;
    const char *data = luaL_checklstring(L, 4, &length);
    if (length > 65507)
        return luaL_argerror(L, 4, "datagram too long");
    lua_pushboolean(L, socket->send(QString::fromUtf8(host), static_cast<quint16>(port),
                                    QByteArray(data, static_cast<int>(length))));
    return 1;
}

static int ludpsocket_join(lua_State *L)
{
    UdpSocket *socket = checkudp(L, 1);
    if (!join(socket, luaX_checkname(L, 2), L))
        return luaL_argerror(L, 2, "not a multicast address");
    return 1;
}

static int ludpsocket_port(lua_State *L)
{
    lua_pushinteger(L, checkudp(L, 1)->socket()->localPort());
    return 1;
}

static int ludpsocket_close(lua_State *L)
{
    checkudp(L, 1)->socket()->abort();
    return 0;
}

static const luaL_Reg udpsocket_functions[] = {
    {"create", ludpsocket_create},
    {"bind", ludpsocket_bind},
    {"send", ludpsocket_send},
    {"join", ludpsocket_join},
    {"port", ludpsocket_port},
    {"close", ludpsocket_close},
    {nullptr, nullptr},
};

const luaL_Reg *udpSocketFunctions()
{
    return udpsocket_functions;
}
