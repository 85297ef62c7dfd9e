#ifndef TCPSOCKET_H
#define TCPSOCKET_H

#include <lua.hpp>

#include <QObject>
#include <QString>

class QTcpSocket;
class QTimer;

// The Lua face of one TCP connection, made by Lua or handed over by a TcpServer. Received bytes
// wait in the socket until Lua reads them, up to a limit: past it the socket stops reading and
// the peer waits, so a flood costs no memory.
class TcpSocket : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 receiveLimit = 16 * 1024 * 1024;

    // Takes the socket over; a null one makes a new, unconnected socket.
    explicit TcpSocket(QTcpSocket *socket = nullptr);
    ~TcpSocket() override;

    // Reconnection waits this long after a loss at first, twice as long after each failure.
    static constexpr int firstRetryMs = 500;
    static constexpr int lastRetryMs = 8000;

    QTcpSocket *socket() const { return m_socket; }
    void connectTo(const QString &host, quint16 port);
    void close();
    // A lost connection, or one that failed, is tried again with a growing wait until close().
    void setReconnect(bool reconnect) { m_reconnect = reconnect; }

private:
    void deliver(const char *event);
    void onError();
    void dial();
    void retryLater();

    QTcpSocket *m_socket;
    QTimer *m_retry;
    QString m_host;
    quint16 m_port = 0;
    bool m_reconnect = false;
    int m_retryMs = firstRetryMs;
    // Counts the connects and closes, so a lookup's late answer knows it is not wanted.
    int m_lookup = 0;
};

// A short word for a socket error, shared by the socket classes.
const char *socketErrorName(int error);

const luaL_Reg *tcpSocketFunctions();

#endif
