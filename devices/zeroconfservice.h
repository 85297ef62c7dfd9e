#ifndef ZEROCONFSERVICE_H
#define ZEROCONFSERVICE_H

#include <KDNSSD/RemoteService>

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

class QDBusServiceWatcher;

namespace KDNSSD
{
class PublicService;
}

// Why a zeroconf request failed: the library itself gives no reasons.
enum ZeroconfError {
    ZeroconfNoDaemon = 1,   // no daemon answers; the request waits for one
    ZeroconfFailed = 2,     // the daemon refused or gave up: a name in use here, nothing found
    ZeroconfNameTaken = 3,  // another host announces the name
    ZeroconfDaemonGone = 4, // the daemon went away; the request waits for its return
};

// A service type as DNS-SD writes it ("_remote._tcp", "_remote._udp"), or a bare name ("remote")
// that means TCP. The name is an RFC 6335 one: 1 to 15 letters, digits and inner hyphens.
struct ServiceType {
    QString name;
    QAbstractSocket::SocketType socket = QAbstractSocket::TcpSocket;

    // False for any other text; type may be null when only the answer counts.
    static bool parse(const QString &text, ServiceType *type);
    QString dnssd() const;
};

// The daemon's coming and going on the system bus, which the library does not report.
QDBusServiceWatcher *watchZeroconfDaemon(QObject *parent);
// Whether the daemon runs, as the bus said last; until the bus's first answer to the question
// asked without waiting has come, asks it again waiting a quarter of a second at most.
bool zeroconfDaemonRunning();
// The word Lua gets for a ZeroconfError.
const char *zeroconfErrorName(int error);

// A domain in the absolute form the daemon and resolve take ("local.").
QString zeroconfAbsoluteDomain(const QString &domain);

// One named service of a type, announced on the local network with a port, or looked up for its
// host and port. An announcement keeps its name: where the name is taken it fails instead of
// taking another, and it comes back by itself when the daemon does.
class ZeroconfService : public QObject
{
    Q_OBJECT

public:
    // A type that does not parse is left to the daemon, which refuses it.
    ZeroconfService(const QString &serviceType, const QString &serviceName,
                    QObject *parent = nullptr);

    QString name() const { return m_name; }
    QString host() const { return m_host; }
    quint16 port() const { return m_port; }
    void setPort(quint16 port) { m_port = port; }
    void setDomain(const QString &domain) { m_domain = domain; }

    void registerService();
    void resolve();

signals:
    void registered();
    void registrationError(int error);
    // The service's full DNS name: escaped name, type and domain.
    void resolved(const QByteArray &fullName);
    void resolveError(int error);

private:
    void announce();
    void withdraw();
    void fail(int error);
    void onPublished(bool successful);
    void onResolved(bool successful);
    void onDaemonBack();
    void onDaemonGone();
    QByteArray fullName() const;

    ServiceType m_type;
    QString m_name;
    QString m_domain;
    QString m_host;
    quint16 m_port = 0;
    bool m_announcing = false;
    bool m_resolving = false;
    KDNSSD::PublicService *m_public = nullptr;
    KDNSSD::RemoteService::Ptr m_remote;
};

#endif
