#include "singleinstance.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

static const QByteArray acknowledgement = "ack\n";
// A message longer than this is no message of ours.
static constexpr int maximumMessage = 4096;

static bool socketAddress(const QByteArray &path, sockaddr_un *address)
{
    memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.size() >= int(sizeof address->sun_path))
        return false;
    memcpy(address->sun_path, path.constData(), path.size());
    return true;
}

// Waits until the descriptor is ready for the events, or the deadline passes.
static bool waitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    pollfd entry = {fd, events, 0};
    for (;;) {
        const int result = poll(&entry, 1, int(qMax<qint64>(0, deadline.remainingTime())));
        if (result > 0)
            return true;
        if (result == 0 || errno != EINTR)
            return false;
    }
}

SingleInstance::SingleInstance(const QString &id, QObject *parent)
    : QObject(parent),
      m_path(QFile::encodeName(QDir::temp().filePath(id + '-' + QString::number(getuid()))))
{
}

SingleInstance::~SingleInstance()
{
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it)
        ::close(it.key());
    if (m_server >= 0) {
        ::close(m_server);
        unlink(m_path.constData());
    }
    if (m_lock >= 0)
        ::close(m_lock);
}

// The lock file, unless it is a link or belongs to another user (who could hold it to keep this
// copy from starting): then -1, and the copy runs without the guard.
static int openLock(const QByteArray &path)
{
    const int fd = open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    struct stat status;
    if (fd < 0 || (fstat(fd, &status) == 0 && status.st_uid == getuid()))
        return fd;
    ::close(fd);
    errno = EPERM;
    return -1;
}

SingleInstance::Role SingleInstance::claim(const QString &message, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    m_lock = openLock(m_path + ".lock");
    for (;;) {
        if (m_lock >= 0 && flock(m_lock, LOCK_EX | LOCK_NB) == 0) {
            listen();
            return Running;
        }
        if (m_lock >= 0 && errno == EINTR)
            continue;
        // Without a lock nothing tells whether a copy runs: this one runs, unguarded, and leaves
        // the socket alone.
        if (m_lock < 0 || errno != EWOULDBLOCK) {
            qWarning() << "Single instance: cannot lock" << m_path + ".lock:" << strerror(errno)
                       << "- running without the guard";
            return Running;
        }
        if (sendMessage(message.toUtf8() + '\n', deadline))
            return Secondary;
        if (deadline.hasExpired())
            return Unreachable;
        QThread::msleep(20);
    }
}

// Never blocks past the deadline: a copy that holds the lock but takes no connection (its queue
// full) makes connect fail at once, and the caller tries again until the deadline.
bool SingleInstance::sendMessage(const QByteArray &message, const QDeadlineTimer &deadline)
{
    sockaddr_un address;
    if (!socketAddress(m_path, &address))
        return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    QByteArray answer;
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 ||
        errno == EINPROGRESS;
    const bool sent = connected && waitFor(fd, POLLOUT, deadline) &&
                      send(fd, message.constData(), message.size(), MSG_NOSIGNAL) == message.size();
    while (sent && !answer.contains('\n') && waitFor(fd, POLLIN, deadline)) {
        char buffer[64];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, int(n));
    }
    ::close(fd);
    return sent && answer == acknowledgement;
}

// Holding the lock means no live copy owns the socket: one left behind is stale.
void SingleInstance::listen()
{
    sockaddr_un address;
    if (!socketAddress(m_path, &address)) {
        qWarning() << "Single instance: cannot listen: the socket path is too long:" << m_path;
        return;
    }
    unlink(m_path.constData());
    m_server = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const mode_t mask = umask(077);
    const bool bound =
        m_server >= 0 &&
        bind(m_server, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::listen(m_server, 8) == 0;
    umask(mask);
    if (!bound) {
        qWarning() << "Single instance: cannot listen:" << strerror(errno);
        if (m_server >= 0)
            ::close(m_server);
        m_server = -1;
        return;
    }
    m_serverNotifier = new QSocketNotifier(m_server, QSocketNotifier::Read, this);
    connect(m_serverNotifier, &QSocketNotifier::activated, this,
            &SingleInstance::acceptConnections);
}

void SingleInstance::setActivationWindow(QWidget *window)
{
    m_window = window;
}

void SingleInstance::acceptConnections()
{
    for (;;) {
        const int fd = accept4(m_server, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && errno != EAGAIN && errno != EINTR && errno != ECONNABORTED) {
            // Out of descriptors, say: the waiting connection would wake us at once again.
            m_serverNotifier->setEnabled(false);
            QTimer::singleShot(100, m_serverNotifier,
                               [this] { m_serverNotifier->setEnabled(true); });
        }
        if (fd < 0)
            return;
        auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] { readConnection(fd); });
        m_connections.insert(fd, {notifier, QByteArray()});
    }
}

void SingleInstance::readConnection(int fd)
{
    auto it = m_connections.find(fd);
    if (it == m_connections.end())
        return;
    char buffer[512];
    ssize_t n = 0;
    while (it->received.size() <= maximumMessage && (n = recv(fd, buffer, sizeof buffer, 0)) > 0)
        it->received.append(buffer, int(n));
    const int newline = it->received.indexOf('\n');
    if (newline < 0) {
        if (n == 0 || (n < 0 && errno != EAGAIN) || it->received.size() > maximumMessage)
            closeConnection(fd);
        return;
    }
    const QString message = QString::fromUtf8(it->received.left(newline)).trimmed();
    send(fd, acknowledgement.constData(), acknowledgement.size(), MSG_NOSIGNAL);
    closeConnection(fd);
    emit messageReceived(message);
    activateWindow();
}

void SingleInstance::closeConnection(int fd)
{
    const Connection connection = m_connections.take(fd);
    connection.notifier->setEnabled(false);
    connection.notifier->deleteLater();
    ::close(fd);
}

void SingleInstance::activateWindow()
{
    if (!m_window)
        return;
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->raise();
    m_window->activateWindow();
}
