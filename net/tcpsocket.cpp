#include "tcpsocket.h"

#include "hostlookup.h"
#include "luax/luax.h"
#include "luax/objecttracker.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <limits>

TcpSocket::TcpSocket(QTcpSocket *socket)
    : m_socket(socket ? socket : new QTcpSocket), m_retry(new QTimer(this))
{
    m_socket->setParent(this);
    m_socket->setReadBufferSize(receiveLimit);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &TcpSocket::dial);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_retryMs = firstRetryMs;
        deliver("onConnected");
    });
    connect(m_socket, &QTcpSocket::readyRead, this, [this] { deliver("onReadyRead"); });
    // A client's socket, made by a server, goes once its connection has ended: a server that
    // lives through many clients keeps none of them.
    connect(m_socket, &QTcpSocket::disconnected, this, [this, accepted = socket != nullptr] {
        retryLater();
        deliver("onDisconnected");
        if (accepted)
            deleteLater();
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TcpSocket::onError);
}

TcpSocket::~TcpSocket()
{
    ObjectTracker::release(this);
}

// The format is not null: a failing handler is reported and the program goes on.
void TcpSocket::deliver(const char *event)
{
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, event, "");
}

void TcpSocket::retryLater()
{
    if (!m_reconnect || m_host.isEmpty() || m_retry->isActive())
        return;
    m_retry->start(m_retryMs);
    m_retryMs = qMin(2 * m_retryMs, lastRetryMs);
}

void TcpSocket::onError()
{
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        retryLater();
    const QByteArray text = m_socket->errorString().toLocal8Bit();
    const char *reason = socketErrorName(m_socket->error());
    qWarning("TcpSocket %s:%d: %s %s", qPrintable(m_socket->peerName()), m_socket->peerPort(),
             reason, text.constData());
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, "onError", "%s %s", reason, text.constData());
}

const char *socketErrorName(int error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return "refused";
    case QAbstractSocket::RemoteHostClosedError:
        return "closed";
    case QAbstractSocket::HostNotFoundError:
        return "notfound";
    case QAbstractSocket::SocketAccessError:
        return "access";
    case QAbstractSocket::SocketTimeoutError:
        return "timeout";
    case QAbstractSocket::NetworkError:
        return "network";
    case QAbstractSocket::AddressInUseError:
        return "inuse";
    case QAbstractSocket::SocketAddressNotAvailableError:
        return "address";
    case QAbstractSocket::DatagramTooLargeError:
        return "toolarge";
    default:
        return "io";
    }
}

static TcpSocket *checksocket(lua_State *L, int index)
{
    return static_cast<TcpSocket *>(static_cast<QObject *>(luaX_checkclass(L, index, "TcpSocket")));
}

// The interpreter's tracker owns the sockets: closing it closes them.
static int ltcpsocket_create(lua_State *L)
{
    auto *socket = new TcpSocket;
    socket->setParent(ObjectTracker::instance(L));
    luaX_pushqobject(L, socket);
    return 1;
}

// A name in the local domain is the zeroconf daemon's to look up; the toolkit's socket looks up
// any other itself. A lookup that is no longer wanted (connect again, close) is dropped.
void TcpSocket::connectTo(const QString &host, quint16 port)
{
    m_host = host;
    m_port = port;
    m_retryMs = firstRetryMs;
    dial();
}

void TcpSocket::dial()
{
    m_retry->stop();
    m_socket->abort();
    ++m_lookup;
    if (!isLocalDomainName(m_host)) {
        m_socket->connectToHost(m_host, m_port);
        return;
    }
    const int lookup = m_lookup;
    lookupHost(m_host, this, [this, lookup](const QHostAddress &address, const QString &error) {
        if (lookup != m_lookup)
            return;
        if (!address.isNull()) {
            m_socket->connectToHost(address, m_port);
            return;
        }
        retryLater();
        if (ObjectTracker *tracker = ObjectTracker::forObject(this))
            LuaMsgHandler(tracker, this, "onError", "%s %s", "notfound",
                          error.toLocal8Bit().constData());
    });
}

void TcpSocket::close()
{
    ++m_lookup;
    m_host.clear();
    m_retry->stop();
    m_socket->disconnectFromHost();
}

static int ltcpsocket_setReconnect(lua_State *L)
{
    checksocket(L, 1)->setReconnect(lua_toboolean(L, 2));
    return 0;
}

// A name, an IPv4 or IPv6 address; the outcome comes as onConnected or onError.
static int ltcpsocket_connect(lua_State *L)
{
    TcpSocket *socket = checksocket(L, 1);
    const char *host = luaX_checkname(L, 2);
    const int port = luaX_checkinteger(L, 3, 1, 65535);
    socket->connectTo(QString::fromUtf8(host), static_cast<quint16>(port));
    return 0;
}

// Returns the number of bytes queued; a socket that is not connected is an error.
static int ltcpsocket_write(lua_State *L)
{
    TcpSocket *socket = checksocket(L, 1);
    size_t length;
    const char *data = luaL_checklstring(L, 2, &length);
    if (length > static_cast<size_t>(std::numeric_limits<int>::max()))
        return luaL_argerror(L, 2, "text too long");
    if (socket->socket()->state() != QAbstractSocket::ConnectedState)
        return luaL_error(L, "the socket is not connected");
    lua_pushinteger(L, socket->socket()->write(data, static_cast<qint64>(length)));
    return 1;
}

static int ltcpsocket_read(lua_State *L)
{
    luaX_pushtext(L, checksocket(L, 1)->socket()->readAll());
    return 1;
}

static int ltcpsocket_close(lua_State *L)
{
    checksocket(L, 1)->close();
    return 0;
}

static int ltcpsocket_state(lua_State *L)
{
    static const char *const names[] = {"unconnected", "lookup",    "connecting", "connected",
                                        "bound",       "listening", "closing"};
    lua_pushstring(L, names[checksocket(L, 1)->socket()->state()]);
    return 1;
}

static int ltcpsocket_peer(lua_State *L)
{
    const QTcpSocket *socket = checksocket(L, 1)->socket();
    luaX_pushtext(L, socket->peerAddress().toString().toUtf8());
    lua_pushinteger(L, socket->peerPort());
    return 2;
}

static const luaL_Reg tcpsocket_functions[] = {
    {"create", ltcpsocket_create},
    {"connect", ltcpsocket_connect},
    {"write", ltcpsocket_write},
    {"read", ltcpsocket_read},
    {"close", ltcpsocket_close},
    {"state", ltcpsocket_state},
    {"peer", ltcpsocket_peer},
    {"setReconnect", ltcpsocket_setReconnect},
    {nullptr, nullptr},
};

const luaL_Reg *tcpSocketFunctions()
{
    return tcpsocket_functions;
}
