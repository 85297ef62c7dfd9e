#include "zeroconfbrowser.h"

#include <KDNSSD/ServiceBrowser>

#include <QDBusServiceWatcher>
#include <QList>
#include <QPointer>

ZeroconfBrowser::ZeroconfBrowser(const QString &serviceType, QObject *parent) : QObject(parent)
{
    ServiceType::parse(serviceType, &m_type);
    QDBusServiceWatcher *daemon = watchZeroconfDaemon(this);
    connect(daemon, &QDBusServiceWatcher::serviceRegistered, this, &ZeroconfBrowser::onDaemonBack);
    connect(daemon, &QDBusServiceWatcher::serviceUnregistered, this,
            &ZeroconfBrowser::onDaemonGone);
}

void ZeroconfBrowser::browse()
{
    if (m_browsing)
        return;
    m_browsing = true;
    start();
}

// The library tells of a browse that no daemon took, or that the daemon refused, only by
// finishing at once inside startBrowse; a working browse finishes later. Without a daemon the
// browse waits for one; a refusal is final.
void ZeroconfBrowser::start()
{
    auto *browser = new KDNSSD::ServiceBrowser(m_type.dnssd());
    browser->setParent(this);
    bool refused = false;
    const QMetaObject::Connection finished =
        connect(browser, &KDNSSD::ServiceBrowser::finished, this, [&refused] { refused = true; });
    connect(browser, &KDNSSD::ServiceBrowser::serviceAdded, this, &ZeroconfBrowser::onAdded);
    connect(browser, &KDNSSD::ServiceBrowser::serviceRemoved, this, &ZeroconfBrowser::onRemoved);
    m_browser = browser;
    browser->startBrowse();
    disconnect(finished);
    if (!refused)
        return;
    m_browser = nullptr;
    delete browser;
    const bool daemon = zeroconfDaemonRunning();
    m_browsing = !daemon;
    emit browsingFailed(daemon ? ZeroconfFailed : ZeroconfNoDaemon);
}

// A stopped browser of the library stays, silent, until this object goes: it may be inside one
// of its own signals, from which the Lua application can run event loops.
void ZeroconfBrowser::stop()
{
    disconnect(m_browser, nullptr, this, nullptr);
    m_browser = nullptr;
}

void ZeroconfBrowser::onAdded(const KDNSSD::RemoteService::Ptr &service)
{
    const Key key(service->serviceName(), zeroconfAbsoluteDomain(service->domain()));
    if (m_reports[key]++ == 0)
        emit serviceAdded(key.first, key.second);
}

void ZeroconfBrowser::onRemoved(const KDNSSD::RemoteService::Ptr &service)
{
    const Key key(service->serviceName(), zeroconfAbsoluteDomain(service->domain()));
    const auto report = m_reports.find(key);
    if (report == m_reports.end() || --*report > 0)
        return;
    m_reports.erase(report);
    emit serviceRemoved(key.first, key.second);
}

void ZeroconfBrowser::onDaemonBack()
{
    if (m_browsing && !m_browser)
        start();
}

// The library says nothing when the daemon goes. Whatever it found can no longer be followed, so
// it counts as gone until the daemon is back and finds it again.
void ZeroconfBrowser::onDaemonGone()
{
    if (!m_browser)
        return;
    stop();
    const QList<Key> lost = m_reports.keys();
    m_reports.clear();
    const QPointer<ZeroconfBrowser> self(this);
    for (const Key &key : lost) {
        emit serviceRemoved(key.first, key.second);
        if (!self)
            return;
    }
    emit browsingFailed(ZeroconfDaemonGone);
}
