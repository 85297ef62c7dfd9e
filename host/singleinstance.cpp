#include "singleinstance.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QWidget>

#include <unistd.h>

static const QByteArray acknowledgement = "ack\n";

SingleInstance::SingleInstance(const QString &id, QObject *parent)
    : QObject(parent), m_name(id + '-' + QString::number(getuid()))
{
}

SingleInstance::~SingleInstance()
{
    delete m_lock;
}

SingleInstance::Role SingleInstance::claim(const QString &message, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    m_lock = new QLockFile(QDir::temp().filePath(m_name + ".lock"));
    for (;;) {
        if (m_lock->tryLock(0)) {
            listen();
            return Running;
        }
        if (sendMessage(message, deadline))
            return Secondary;
        if (deadline.hasExpired())
            return Unreachable;
        QThread::msleep(20);
    }
}

bool SingleInstance::sendMessage(const QString &message, const QDeadlineTimer &deadline)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(deadline.remainingTime()))
        return false;
    socket.write(message.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(deadline.remainingTime()))
        return false;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(deadline.remainingTime()))
            return false;
    }
    return socket.readLine() == acknowledgement;
}

// Holding the lock means no live copy owns the socket: one left behind is stale.
void SingleInstance::listen()
{
    QLocalServer::removeServer(m_name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::newConnection);
    if (!m_server->listen(m_name))
        qWarning() << "Single instance: cannot listen:" << m_server->errorString();
}

void SingleInstance::setActivationWindow(QWidget *window)
{
    m_window = window;
}

void SingleInstance::newConnection()
{
    QLocalSocket *socket = m_server->nextPendingConnection();
    if (!socket)
        return;
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine())
            return;
        const QString message = QString::fromUtf8(socket->readLine()).trimmed();
        socket->write(acknowledgement);
        socket->flush();
        emit messageReceived(message);
        activateWindow();
    });
}

void SingleInstance::activateWindow()
{
    if (!m_window)
        return;
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->raise();
    m_window->activateWindow();
}
