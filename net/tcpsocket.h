#ifndef TCPSOCKET_H
#define TCPSOCKET_H

#include <lua.hpp>

#include <QObject>
#include <QString>

class QTcpSocket;

// The Lua face of one TCP connection, made by Lua or handed over by a TcpServer. Received bytes
// wait in the socket until Lua reads them, up to a limit: past it the socket stops reading and
// the peer waits, so a flood costs no memory.
class TcpSocket : public QObject
{
    Q_OBJECT

public:
    static const qint64 receiveLimit = 16 * 1024 * 1024;

    // Takes the socket over; a null one makes a new, unconnected socket.
    explicit TcpSocket(QTcpSocket *socket = nullptr);
    ~TcpSocket() override;

    QTcpSocket *socket() const { return m_socket; }
    void connectTo(const QString &host, quint16 port);
    void close();

private:
    void deliver(const char *event);
    void onError();

    QTcpSocket *m_socket;
    // Counts the connects and closes, so a lookup's late answer knows it is not wanted.
    int m_lookup = 0;
};

// A short word for a socket error, shared by the socket classes.
const char *socketErrorName(int error);

const luaL_Reg *tcpSocketFunctions();

#endif
