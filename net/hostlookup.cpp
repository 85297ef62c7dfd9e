#include "hostlookup.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QHostInfo>

bool isLocalDomainName(const QString &name)
{
    return name.endsWith(".local", Qt::CaseInsensitive) ||
           name.endsWith(".local.", Qt::CaseInsensitive);
}

// Avahi's Server.ResolveHostName: any interface, any protocol, an IPv4 answer preferred.
static void askDaemon(const QString &name, QObject *context, const HostAnswer &answer)
{
    QDBusMessage query = QDBusMessage::createMethodCall(
        "org.freedesktop.Avahi", "/", "org.freedesktop.Avahi.Server", "ResolveHostName");
    query << -1 << -1 << name << 0 << 0u;
    auto *call =
        new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(query), context);
    QObject::connect(call, &QDBusPendingCallWatcher::finished, context,
                     [answer](QDBusPendingCallWatcher *reply) {
                         reply->deleteLater();
                         const QDBusMessage message = reply->reply();
                         const QHostAddress address(message.arguments().value(4).toString());
                         if (message.type() == QDBusMessage::ReplyMessage && !address.isNull())
                             answer(address, QString());
                         else
                             answer(QHostAddress(), message.errorMessage());
                     });
}

void lookupHost(const QString &name, QObject *context, const HostAnswer &answer)
{
    const QHostAddress literal(name);
    if (!literal.isNull()) {
        answer(literal, QString());
        return;
    }
    if (isLocalDomainName(name)) {
        askDaemon(name, context, answer);
        return;
    }
    new HostLookup(name, context, answer);
}

HostLookup::HostLookup(const QString &name, QObject *context, const HostAnswer &answer)
    : QObject(context), m_answer(answer)
{
    m_id = QHostInfo::lookupHost(name, this, SLOT(answered(QHostInfo)));
}

HostLookup::~HostLookup()
{
    if (m_id >= 0)
        QHostInfo::abortHostLookup(m_id);
}

// The answer may end the context, and this lookup with it: nothing of it is used after.
void HostLookup::answered(const QHostInfo &info)
{
    m_id = -1;
    const HostAnswer answer = m_answer;
    deleteLater();
    if (info.addresses().isEmpty())
        answer(QHostAddress(), info.errorString());
    else
        answer(info.addresses().first(), QString());
}
