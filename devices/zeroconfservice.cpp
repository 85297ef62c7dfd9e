#include "zeroconfservice.h"

#include <KDNSSD/PublicService>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QRegularExpression>

static const char *const daemonService = "org.freedesktop.Avahi";

bool ServiceType::parse(const QString &text, ServiceType *type)
{
    static const QString name = QStringLiteral("([a-z0-9](?:[a-z0-9-]{0,13}[a-z0-9])?)");
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern("_" + name + "\\._(tcp|udp)|" + name),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    if (type) {
        const bool bare = match.capturedLength(3) > 0;
        type->name = match.captured(bare ? 3 : 1);
        const bool udp = match.captured(2).compare(QLatin1String("udp"), Qt::CaseInsensitive) == 0;
        type->socket = udp ? QAbstractSocket::UdpSocket : QAbstractSocket::TcpSocket;
    }
    return true;
}

QString ServiceType::dnssd() const
{
    return "_" + name + (socket == QAbstractSocket::UdpSocket ? "._udp" : "._tcp");
}

QDBusServiceWatcher *watchZeroconfDaemon(QObject *parent)
{
    return new QDBusServiceWatcher(daemonService, QDBusConnection::systemBus(),
                                   QDBusServiceWatcher::WatchForOwnerChange, parent);
}

static QDBusMessage daemonQuery()
{
    QDBusMessage query = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner");
    query << QString::fromLatin1(daemonService);
    return query;
}

enum DaemonPresence { DaemonUnknown, DaemonAbsent, DaemonPresent };

// The daemon's presence as the bus last told it: asked once without waiting, then followed by
// the bus's notices, so the window waits for the bus only until its first answer has come.
static DaemonPresence &followDaemon()
{
    static DaemonPresence presence = DaemonUnknown;
    static QObject *follower = nullptr;
    if (follower)
        return presence;
    follower = new QObject;
    QDBusServiceWatcher *watcher = watchZeroconfDaemon(follower);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceRegistered, follower,
                     [] { presence = DaemonPresent; });
    QObject::connect(watcher, &QDBusServiceWatcher::serviceUnregistered, follower,
                     [] { presence = DaemonAbsent; });
    auto *call = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(daemonQuery()),
                                             follower);
    QObject::connect(call, &QDBusPendingCallWatcher::finished, follower,
                     [](QDBusPendingCallWatcher *answer) {
                         const QDBusPendingReply<bool> reply = *answer;
                         if (reply.isValid() && presence == DaemonUnknown)
                             presence = reply.value() ? DaemonPresent : DaemonAbsent;
                         answer->deleteLater();
                     });
    return presence;
}

// A blocking call on a bus connection that has gone trips an assertion of the D-Bus library.
bool zeroconfDaemonRunning()
{
    const DaemonPresence presence = followDaemon();
    if (presence != DaemonUnknown)
        return presence == DaemonPresent;
    if (!QDBusConnection::systemBus().isConnected())
        return false;
    const QDBusMessage answer = QDBusConnection::systemBus().call(daemonQuery(), QDBus::Block, 250);
    return answer.type() == QDBusMessage::ReplyMessage && answer.arguments().value(0).toBool();
}

const char *zeroconfErrorName(int error)
{
    switch (error) {
    case ZeroconfNoDaemon:
        return "nodaemon";
    case ZeroconfNameTaken:
        return "nametaken";
    case ZeroconfDaemonGone:
        return "daemongone";
    default:
        return "failed";
    }
}

ZeroconfService::ZeroconfService(const QString &serviceType, const QString &serviceName,
                                 QObject *parent)
    : QObject(parent), m_name(serviceName), m_domain(QStringLiteral("local."))
{
    ServiceType::parse(serviceType, &m_type);
    followDaemon();
    QDBusServiceWatcher *daemon = watchZeroconfDaemon(this);
    connect(daemon, &QDBusServiceWatcher::serviceRegistered, this, &ZeroconfService::onDaemonBack);
    connect(daemon, &QDBusServiceWatcher::serviceUnregistered, this,
            &ZeroconfService::onDaemonGone);
}

void ZeroconfService::registerService()
{
    if (m_public)
        withdraw();
    m_announcing = true;
    announce();
}

// The library reports a failure to start inside publishAsync; and where the daemon answers there
// at once that the name collides, the library has already taken another.
void ZeroconfService::announce()
{
    m_public = new KDNSSD::PublicService(m_name, m_type.dnssd(), m_port, m_domain);
    m_public->setParent(this);
    connect(m_public, &KDNSSD::PublicService::published, this, &ZeroconfService::onPublished);
    m_public->publishAsync();
    if (m_public && m_public->serviceName() != m_name)
        fail(ZeroconfNameTaken);
}

// A withdrawn announcement of the library stays, stopped and silent, until this object goes: it
// may be inside one of its own signals, from which the Lua application can run event loops.
void ZeroconfService::withdraw()
{
    disconnect(m_public, nullptr, this, nullptr);
    m_public->stop();
    m_public = nullptr;
}

// Without a daemon the announcement waits for one; a refusal is final.
void ZeroconfService::fail(int error)
{
    withdraw();
    m_announcing = error == ZeroconfNoDaemon || error == ZeroconfDaemonGone;
    emit registrationError(error);
}

// The library emits published(true) again each time it announces anew, and on a conflict with
// another host it takes another name and announces that.
void ZeroconfService::onPublished(bool successful)
{
    if (!successful)
        fail(zeroconfDaemonRunning() ? ZeroconfFailed : ZeroconfNoDaemon);
    else if (m_public->serviceName() != m_name)
        fail(ZeroconfNameTaken);
    else
        emit registered();
}

// The library reports a failure to start inside resolveAsync.
void ZeroconfService::resolve()
{
    m_remote =
        KDNSSD::RemoteService::Ptr(new KDNSSD::RemoteService(m_name, m_type.dnssd(), m_domain));
    connect(m_remote.data(), &KDNSSD::RemoteService::resolved, this, &ZeroconfService::onResolved);
    m_resolving = true;
    m_remote->resolveAsync();
}

// The library goes on watching a resolved service and reports every change again: the first
// answer is the one.
void ZeroconfService::onResolved(bool successful)
{
    if (!m_resolving)
        return;
    m_resolving = false;
    if (!successful) {
        emit resolveError(zeroconfDaemonRunning() ? ZeroconfFailed : ZeroconfNoDaemon);
        return;
    }
    m_host = m_remote->hostName();
    m_port = m_remote->port();
    m_domain = m_remote->domain();
    emit resolved(fullName());
}

void ZeroconfService::onDaemonBack()
{
    if (m_announcing && !m_public)
        announce();
}

void ZeroconfService::onDaemonGone()
{
    if (m_public) {
        fail(ZeroconfDaemonGone);
    } else if (m_resolving) {
        m_resolving = false;
        emit resolveError(ZeroconfDaemonGone);
    }
}

// RFC 6763: a dot or a backslash inside the name is escaped with a backslash.
QByteArray ZeroconfService::fullName() const
{
    QString name = m_name;
    name.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    name.replace(QLatin1Char('.'), QLatin1String("\\."));
    return (name + '.' + m_type.dnssd() + '.' + zeroconfAbsoluteDomain(m_domain)).toUtf8();
}

QString zeroconfAbsoluteDomain(const QString &domain)
{
    return domain.endsWith('.') ? domain : domain + '.';
}
