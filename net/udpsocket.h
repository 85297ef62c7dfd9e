#ifndef UDPSOCKET_H
#define UDPSOCKET_H

#include <lua.hpp>

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

class QUdpSocket;

// Sends and receives datagrams. Each datagram received reaches Lua as "onDatagram"; those that
// come faster than Lua takes them wait in the system's buffer, which drops what overflows.
// Datagrams for a host name wait until the name is looked up.
class UdpSocket : public QObject
{
    Q_OBJECT

public:
    // Datagrams waiting for their names, at most: a send beyond is refused.
    static constexpr int maxWaiting = 256;

    UdpSocket();
    ~UdpSocket() override;

    QUdpSocket *socket() const { return m_socket; }
    bool send(const QString &host, quint16 port, const QByteArray &data);

private:
    void onReadyRead();

    QUdpSocket *m_socket;
    int m_waiting = 0;
    // The last address sent to, and the last sender with its text: the same peers come again.
    QString m_lastHost;
    QHostAddress m_lastAddress;
    QHostAddress m_lastSender;
    QByteArray m_lastSenderText;
};

const luaL_Reg *udpSocketFunctions();

#endif
