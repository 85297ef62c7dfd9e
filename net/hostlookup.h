#ifndef HOSTLOOKUP_H
#define HOSTLOOKUP_H

#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QString>

#include <functional>

// Looks up a host's address without waiting. A name in the "local" domain (what zeroconf
// resolves to) is asked of the zeroconf daemon, since the system's resolver may know no
// multicast DNS; any other name goes to the system's resolver. The answer comes on the
// context's thread, and not at all once the context is gone; a null address carries the reason.
using HostAnswer = std::function<void(const QHostAddress &address, const QString &error)>;
void lookupHost(const QString &name, QObject *context, const HostAnswer &answer);
bool isLocalDomainName(const QString &name);

// One question to the system's resolver, owned by its context: going with it, it takes the
// question back, so no answer is left waiting for a context that has gone, also at exit.
class HostLookup : public QObject
{
    Q_OBJECT

public:
    HostLookup(const QString &name, QObject *context, const HostAnswer &answer);
    ~HostLookup() override;

private slots:
    void answered(const QHostInfo &info);

private:
    HostAnswer m_answer;
    int m_id = -1;
};

#endif
