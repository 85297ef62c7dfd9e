#ifndef ZEROCONFBROWSER_H
#define ZEROCONFBROWSER_H

#include "zeroconfservice.h"

#include <KDNSSD/RemoteService>

#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>

namespace KDNSSD
{
class ServiceBrowser;
}

// Watches the local network for the services of one type and reports each service once as it
// comes and once as it goes. It browses again by itself when the daemon comes back.
class ZeroconfBrowser : public QObject
{
    Q_OBJECT

public:
    // The type as ServiceType reads it; one that does not parse is left to the daemon.
    explicit ZeroconfBrowser(const QString &serviceType, QObject *parent = nullptr);

    // The bare name: "remote" for "_remote._tcp".
    QString serviceType() const { return m_type.name; }
    QAbstractSocket::SocketType socketType() const { return m_type.socket; }

    void browse();

signals:
    void browsingFailed(int error);
    void serviceAdded(const QString &name, const QString &domain);
    void serviceRemoved(const QString &name, const QString &domain);

private:
    void start();
    void stop();
    void onAdded(const KDNSSD::RemoteService::Ptr &service);
    void onRemoved(const KDNSSD::RemoteService::Ptr &service);
    void onDaemonBack();
    void onDaemonGone();

    using Key = QPair<QString, QString>; // name, domain

    ServiceType m_type;
    bool m_browsing = false;
    KDNSSD::ServiceBrowser *m_browser = nullptr;
    // How often the library reported each service: once per interface and protocol it is on.
    QMap<Key, int> m_reports;
};

#endif
