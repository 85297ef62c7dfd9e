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
// An address for listening or binding: absent means every interface; false when it is none.
bool parseListenAddress(lua_State *L, int index, QHostAddress *address);

#endif
