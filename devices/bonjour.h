#ifndef BONJOUR_H
#define BONJOUR_H

#include <lua.hpp>

#include <QByteArray>
#include <QObject>
#include <QString>

class QTimer;

// The Lua application's window on zeroconf: announces services, browses for them and resolves
// them, and reports what it learns to MsgHandler; it also gives the application a steady 10 ms
// tick (onTimer). What it announces stays announced, and what it browses stays browsed, for as
// long as it lives.
class Bonjour : public QObject
{
    Q_OBJECT

public:
    Bonjour();
    ~Bonjour() override;

    void publish(const QString &serviceType, const QString &serviceName, quint16 port);
    void subscribe(const QString &serviceType);
    void resolve(const QString &serviceType, const QString &serviceName, const QString &domain);

private slots:
    void onRegistrationError(int err);
    void onRegistered();
    void onServiceAdded(const QString &name, const QString &domain);
    void onServiceRemoved(const QString &name);
    void onBrowsingFailed(int err);
    void onResolved(const QByteArray &domainName);
    void onResolveError(int err);
    void onTimer();

private:
    void fail(const char *operation, int err, const QString &name);

    QTimer *m_timer;
};

// C linkage: the host looks the opener up by name in the module's shared object.
extern "C" int luaopen_bonjour_core(lua_State *L);

#endif
