#include "bonjour.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "luax/qtcoremodule.h"
#include "zeroconfbrowser.h"
#include "zeroconfservice.h"

#include <QDebug>
#include <QNetworkInterface>
#include <QPointer>
#include <QTimer>

#include <cstring>

Bonjour::Bonjour() : m_timer(new QTimer(this))
{
    m_timer->setInterval(10);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &Bonjour::onTimer);
    m_timer->start();
}

Bonjour::~Bonjour()
{
    ObjectTracker::release(this);
}

void Bonjour::publish(const QString &serviceType, const QString &serviceName, quint16 port)
{
    auto *service = new ZeroconfService(serviceType, serviceName, this);
    service->setPort(port);
    connect(service, &ZeroconfService::registered, this, &Bonjour::onRegistered);
    connect(service, &ZeroconfService::registrationError, this, &Bonjour::onRegistrationError);
    service->registerService();
    qDebug().noquote() << "registering" << service->host() << "on port" << service->port();
}

void Bonjour::subscribe(const QString &serviceType)
{
    auto *browser = new ZeroconfBrowser(serviceType, this);
    connect(browser, &ZeroconfBrowser::browsingFailed, this, &Bonjour::onBrowsingFailed);
    connect(browser, &ZeroconfBrowser::serviceAdded, this, &Bonjour::onServiceAdded);
    connect(browser, &ZeroconfBrowser::serviceRemoved, this, &Bonjour::onServiceRemoved);
    browser->browse();
}

void Bonjour::resolve(const QString &serviceType, const QString &serviceName, const QString &domain)
{
    qDebug() << "Resolve" << serviceType << serviceName << domain;
    auto *service = new ZeroconfService(serviceType, serviceName, this);
    service->setDomain(domain);
    connect(service, &ZeroconfService::resolved, this, &Bonjour::onResolved);
    connect(service, &ZeroconfService::resolveError, this, &Bonjour::onResolveError);
    service->resolve();
}

// A failure is a warning in the log and an event for Lua: the remote that never appears must be
// explained somewhere an operator looks.
void Bonjour::fail(const char *operation, int err, const QString &name)
{
    const QByteArray subject = name.toLocal8Bit();
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, "onServiceError", "%s %s %s", operation,
                      zeroconfErrorName(err), subject.constData());
}

void Bonjour::onRegistrationError(int err)
{
    const auto *service = qobject_cast<ZeroconfService *>(sender());
    const QString name = service ? service->name() : QString();
    qWarning().noquote() << "Registration Failed:" << err << zeroconfErrorName(err) << name;
    fail("publish", err, name);
}

void Bonjour::onRegistered()
{
    qDebug() << "Registered OK";
}

// The full type is made again from the browser's bare name, so a type subscribed either way is
// reported the way DNS-SD writes it.
void Bonjour::onServiceAdded(const QString &name, const QString &domain)
{
    const auto *browser = qobject_cast<ZeroconfBrowser *>(sender());
    if (!browser)
        return;
    const bool tcp = browser->socketType() == QAbstractSocket::TcpSocket;
    const QByteArray type =
        ("_" + browser->serviceType() + (tcp ? "._tcp" : "._udp")).toLocal8Bit();
    qDebug().noquote() << "Service added" << type << name << domain;
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, "onServiceAdded", "%s %s %s", type.constData(),
                      name.toLocal8Bit().constData(), domain.toLocal8Bit().constData());
}

void Bonjour::onServiceRemoved(const QString &name)
{
    qDebug().noquote() << "Service Removed" << name;
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, "onServiceRemoved", "%s", name.toLocal8Bit().constData());
}

void Bonjour::onBrowsingFailed(int err)
{
    const auto *browser = qobject_cast<ZeroconfBrowser *>(sender());
    const QString type = browser ? browser->serviceType() : QString();
    qWarning().noquote() << "Browsing Failed:" << err << zeroconfErrorName(err) << type;
    fail("browse", err, type);
}

// The answer is read before Lua runs; the resolving service goes once Lua is done with it.
void Bonjour::onResolved(const QByteArray &domainName)
{
    const QPointer<ZeroconfService> service = qobject_cast<ZeroconfService *>(sender());
    if (!service)
        return;
    const QByteArray host = service->host().toLocal8Bit();
    const int port = service->port();
    qDebug().noquote() << "Resolved" << domainName << "to host" << host << "on port" << port;
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, "onResolved", "%s %s %d", domainName.constData(),
                      host.constData(), port);
    if (service)
        service->deleteLater();
}

// The resolving service goes once Lua is done with its failure.
void Bonjour::onResolveError(int err)
{
    const QPointer<ZeroconfService> service = qobject_cast<ZeroconfService *>(sender());
    const QString name = service ? service->name() : QString();
    qWarning().noquote() << "onResolveError:" << err << zeroconfErrorName(err) << name;
    fail("resolve", err, name);
    if (service)
        service->deleteLater();
}

void Bonjour::onTimer()
{
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, "onTimer", nullptr);
}

static Bonjour *checkbonjour(lua_State *L, int index)
{
    return static_cast<Bonjour *>(static_cast<QObject *>(luaX_checkclass(L, index, "Bonjour")));
}

// As DNS-SD writes it ("_remote._tcp", "_remote._udp"), or a bare name meaning TCP.
static const char *checkservicetype(lua_State *L, int index)
{
    const char *type = luaX_checkname(L, index);
    if (!ServiceType::parse(QString::fromUtf8(type), nullptr))
        luaL_argerror(L, index, "invalid service type");
    return type;
}

// A service name is one DNS label: 1 to 63 bytes.
static const char *checkservicename(lua_State *L, int index)
{
    const char *name = luaX_checkname(L, index);
    const size_t length = strlen(name);
    if (length == 0 || length > 63)
        luaL_argerror(L, index, "invalid service name");
    return name;
}

static QByteArray machineid()
{
    const QList<QNetworkInterface> entries = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &entry : entries) {
        const QNetworkInterface::InterfaceFlags flags = entry.flags();
        if ((flags & QNetworkInterface::IsRunning) && !(flags & QNetworkInterface::IsLoopBack))
            return entry.hardwareAddress().toLocal8Bit();
    }
    return QByteArray();
}

static int lbonjourcore_machineID(lua_State *L)
{
    luaX_pushtext(L, machineid());
    return 1;
}

// The interpreter's tracker owns the objects Lua makes: closing the interpreter ends their
// announcements and browsing, and their ticks, which would have nowhere to go.
static int lbonjour_create(lua_State *L)
{
    auto *bonjour = new Bonjour;
    bonjour->setParent(ObjectTracker::instance(L));
    luaX_pushqobject(L, bonjour);
    return 1;
}

// A port outside 0..65535 is an error rather than some other port.
static int lbonjour_publish(lua_State *L)
{
    Bonjour *bonjour = checkbonjour(L, 1);
    const char *name = checkservicename(L, 3);
    const char *type = checkservicetype(L, 2);
    const int port = luaX_checkrange(L, 4, 0, 65535);
    bonjour->publish(QString::fromUtf8(type), QString::fromUtf8(name), static_cast<quint16>(port));
    return 0;
}

static int lbonjour_subscribe(lua_State *L)
{
    Bonjour *bonjour = checkbonjour(L, 1);
    const char *type = checkservicetype(L, 2);
    bonjour->subscribe(QString::fromUtf8(type));
    return 0;
}

static int lbonjour_resolve(lua_State *L)
{
    Bonjour *bonjour = checkbonjour(L, 1);
    const char *domain = luaX_optname(L, 4, "local.");
    const char *name = checkservicename(L, 3);
    const char *type = checkservicetype(L, 2);
    bonjour->resolve(QString::fromUtf8(type), QString::fromUtf8(name), QString::fromUtf8(domain));
    return 0;
}

static const luaL_Reg bonjourcore_functions[] = {
    {"machineID", lbonjourcore_machineID},
    {nullptr, nullptr},
};

// Handles made by create are borrowed, so the class keeps the do-nothing __gc of QObject.
static const luaL_Reg bonjour_functions[] = {
    {"create", lbonjour_create},
    {"publish", lbonjour_publish},
    {"subscribe", lbonjour_subscribe},
    {"resolve", lbonjour_resolve},
    {nullptr, nullptr},
};

// Bonjour derives from QObject, so qt.core is loaded first when it is not yet.
int luaopen_bonjour_core(lua_State *L)
{
    luaL_checkversion(L);
    luaL_requiref(L, "qt.core", luaopen_qt_core, 0);
    lua_pop(L, 1);
    luaL_newlib(L, bonjourcore_functions);
    luaX_createclass(L, "Bonjour", bonjour_functions, "QObject", false, true);
    return 1;
}
