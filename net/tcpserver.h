#ifndef TCPSERVER_H
#define TCPSERVER_H

#include <lua.hpp>

#include <QObject>

class QHostAddress;
class QTcpServer;

// Listens for TCP connections and hands each to Lua as a TcpSocket of its own.
class TcpServer : public QObject
{
    Q_OBJECT

public:
    TcpServer();
    ~TcpServer() override;

    QTcpServer *server() const { return m_server; }

private:
    void onNewConnection();

    QTcpServer *m_server;
};

const luaL_Reg *tcpServerFunctions();
// The address to listen or bind on: null means every interface; false when it is none.
bool listenAddress(const char *text, QHostAddress *address);
// The answer of listen and bind: true, or nil, a reason word and the system's text.
int pushListenResult(lua_State *L, bool done, int error, const QString &text);

#endif
