// Throughput of a TCP stream into Lua through net.core (onReadyRead, then read) against a plain
// Qt reader of the same kind of stream, both on loopback in one run; a writer thread sends 64 MiB
// of a counting pattern and every byte is checked where it arrives.
#include "benchsupport.h"
#include "luax/luax.h"
#include "net/netmodule.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

static const qint64 byteCount = 64 << 20;
static const int rounds = 3;

// The stream's bytes count up from 0 and wrap; a piece is right when each byte is its place's.
struct Checker {
    qint64 received = 0;
    bool exact = true;

    void take(const char *data, qint64 size)
    {
        for (qint64 i = 0; i < size; ++i)
            exact = exact && static_cast<unsigned char>(data[i]) == ((received + i) & 0xFF);
        received += size;
    }
};

static Checker checker;

static void writeStream(quint16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return;
    }
    std::vector<char> block(1 << 16);
    for (qint64 sent = 0; sent < byteCount;) {
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>((sent + static_cast<qint64>(i)) & 0xFF);
        // A blocking socket writes the whole block, or fails.
        const ssize_t n = write(fd, block.data(), block.size());
        if (n <= 0)
            break;
        sent += n;
    }
    close(fd);
}

static int lcheck(lua_State *L)
{
    size_t length;
    const char *data = luaL_checklstring(L, 1, &length);
    checker.take(data, static_cast<qint64>(length));
    return 0;
}

static double timeStream(quint16 port, const std::function<bool()> &done)
{
    checker = Checker();
    QElapsedTimer timer;
    timer.start();
    std::thread writer(writeStream, port);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    writer.join();
    return timer.nsecsElapsed() / 1e9;
}

static double plainReader()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    QTcpSocket *client = nullptr;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        client = server.nextPendingConnection();
        QObject::connect(client, &QTcpSocket::readyRead, [&] {
            const QByteArray data = client->readAll();
            checker.take(data.constData(), data.size());
        });
    });
    return timeStream(server.serverPort(), [] { return checker.received >= byteCount; });
}

static double luaReader(lua_State *L)
{
    luaX_dostring(L, "server = net.TcpServer.create() server:listen(0, '127.0.0.1')", nullptr);
    lua_getglobal(L, "server");
    lua_getfield(L, -1, "port");
    lua_insert(L, -2);
    lua_call(L, 1, 1);
    const auto port = static_cast<quint16>(lua_tointeger(L, -1));
    lua_settop(L, 0);
    const double seconds = timeStream(port, [] { return checker.received >= byteCount; });
    luaX_dostring(L, "server:close() server = nil", nullptr);
    return seconds;
}

int main(int argc, char **argv)
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    lua_State *L = newQtCoreState();
    luaL_requiref(L, "net.core", luaopen_net_core, 0);
    lua_setglobal(L, "net");
    lua_pushcfunction(L, lcheck);
    lua_setglobal(L, "check");
    luaX_dostring(L,
                  "function MsgHandler(h, e, c) "
                  "if e == 'onReadyRead' then check(h:read()) end return 0 end",
                  nullptr);
    std::vector<double> plain;
    std::vector<double> lua;
    bool exact = true;
    for (int round = 0; round < rounds; ++round) {
        plain.push_back(plainReader());
        exact = exact && checker.exact && checker.received == byteCount;
        lua.push_back(luaReader(L));
        exact = exact && checker.exact && checker.received == byteCount;
    }
    lua_close(L);
    const double plainTime = median(plain);
    const double luaTime = median(lua);
    printf("plain Qt reader: %.0f MiB/s\n", byteCount / plainTime / (1 << 20));
    printf("net.core into Lua: %.0f MiB/s\n", byteCount / luaTime / (1 << 20));
    printf("byte-exact: %s\n", exact ? "yes" : "NO");
    printf("ratio: %.3f\n", luaTime / plainTime);
    return exact ? 0 : 1;
}
