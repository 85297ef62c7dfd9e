// Round trip of an OSC message over UDP on loopback: a pinger sends "/ping i" and waits for
// "/pong i"; the answer is made by Lua through net.core (decode, encode, send) or, for the
// baseline in the same run, by plain C++ with liblo's same (de)serialisation.
#include "benchsupport.h"
#include "luax/luax.h"
#include "net/netmodule.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <lo/lo.h>
#include <lo/lo_lowlevel.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

static const int roundTrips = 5000;
static const int rounds = 21;

static QByteArray message(const char *path, int value)
{
    lo_message m = lo_message_new();
    lo_message_add_int32(m, value);
    size_t size = 0;
    void *data = lo_message_serialise(m, path, nullptr, &size);
    lo_message_free(m);
    const QByteArray packet(static_cast<const char *>(data), static_cast<int>(size));
    free(data);
    return packet;
}

// The pong of a ping, as the Lua answerer makes it.
static QByteArray answer(const QByteArray &ping)
{
    QByteArray copy = ping;
    int result = 0;
    lo_message m = lo_message_deserialise(copy.data(), static_cast<size_t>(copy.size()), &result);
    const int value = m ? lo_message_get_argv(m)[0]->i : -1;
    if (m)
        lo_message_free(m);
    return message("/pong", value);
}

// Sends the pings one after the other to port and returns the round-trip times in microseconds.
static std::vector<double> ping(QUdpSocket &pinger, quint16 port)
{
    std::vector<double> times;
    QElapsedTimer clock;
    for (int i = 0; i < roundTrips; ++i) {
        clock.start();
        pinger.writeDatagram(message("/ping", i), QHostAddress::LocalHost, port);
        while (!pinger.hasPendingDatagrams())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        pinger.receiveDatagram();
        times.push_back(clock.nsecsElapsed() / 1e3);
    }
    return times;
}

static double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * (values.size() - 1))];
}

int main(int argc, char **argv)
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    QUdpSocket pinger;
    pinger.bind(QHostAddress(QHostAddress::LocalHost), 0);

    QUdpSocket plain;
    plain.bind(QHostAddress(QHostAddress::LocalHost), 0);
    QObject::connect(&plain, &QUdpSocket::readyRead, [&] {
        while (plain.hasPendingDatagrams()) {
            const QNetworkDatagram d = plain.receiveDatagram();
            plain.writeDatagram(answer(d.data()), d.senderAddress(),
                                static_cast<quint16>(d.senderPort()));
        }
    });

    lua_State *L = newQtCoreState();
    luaL_requiref(L, "net.core", luaopen_net_core, 0);
    lua_setglobal(L, "net");
    luaX_dostring(L,
                  "u = net.UdpSocket.create() u:bind(0, '127.0.0.1') "
                  "function MsgHandler(h, e, data, host, port) "
                  "if e == 'onDatagram' then local _, n = net.osc.decode(data) "
                  "u:send(host, port, net.osc.encode('/pong', n)) end return 0 end",
                  nullptr);
    luaX_dostring(L, "port = u:port()", nullptr);
    lua_getglobal(L, "port");
    const auto luaPort = static_cast<quint16>(lua_tointeger(L, -1));
    lua_pop(L, 1);

    // A first round of each warms both up; then the rounds take turns, and the medians count.
    ping(pinger, plain.localPort());
    ping(pinger, luaPort);
    std::vector<double> plain50, plain99, lua50, lua99;
    for (int round = 0; round < rounds; ++round) {
        const std::vector<double> plainTimes = ping(pinger, plain.localPort());
        const std::vector<double> luaTimes = ping(pinger, luaPort);
        plain50.push_back(percentile(plainTimes, 0.5));
        plain99.push_back(percentile(plainTimes, 0.99));
        lua50.push_back(percentile(luaTimes, 0.5));
        lua99.push_back(percentile(luaTimes, 0.99));
    }
    lua_close(L);
    printf("plain C++: p50 %.1f us, p99 %.1f us\n", median(plain50), median(plain99));
    printf("Lua through net.core: p50 %.1f us, p99 %.1f us\n", median(lua50), median(lua99));
    printf("ratio: %.3f\n", median(lua99) / median(plain99));
    return 0;
}
