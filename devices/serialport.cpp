#include "serialport.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "luax/qtcoremodule.h"
#include "luax/threadreaper.h"
#include "serialportx.h"

#include <QSerialPortInfo>

#include <limits>

// How long the window waits for a port to close when it goes.
static const int closeWaitMs = 50;

SerialPort::SerialPort() : m_thread(new QThread), m_worker(new SerialPortX)
{
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_worker, &SerialPortX::init);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &SerialPortX::receive, this, &SerialPort::onReceive);
    connect(m_worker, &SerialPortX::error, this, &SerialPort::onError);
    connect(m_worker, &SerialPortX::failed, this,
            [this](const QString &reason, const QString &text) {
                m_reason = reason.toUtf8();
                m_reasonText = text.toLocal8Bit();
            });
    m_thread->start(QThread::InheritPriority);
}

// The worker goes when its thread finishes, and closes the port as it goes. A close stuck in
// the system (a tty driver waiting for its line) does not hold up the window: the thread then
// ends on its own, and its signals no longer reach this object.
SerialPort::~SerialPort()
{
    ObjectTracker::release(this);
    if (!ThreadReaper::finish(m_thread, closeWaitMs))
        qWarning("Serial port %s did not close in time; it closes on its own", qPrintable(m_name));
}

void SerialPort::open(const QString &name)
{
    m_receiveBuffer.clear();
    m_name = name;
    m_worker->open(name);
}

void SerialPort::write(const QByteArray &data)
{
    m_worker->write(data);
}

// The worker may send the next piece while Lua handles this one.
void SerialPort::onReceive(const QByteArray &data)
{
    m_worker->delivered();
    m_receiveBuffer.append(data);
    deliver("onReadyRead");
}

void SerialPort::onError(const QString &portName)
{
    m_receiveBuffer.clear();
    qWarning("Serial port %s failed: %s %s", qPrintable(portName), m_reason.constData(),
             m_reasonText.constData());
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, "onError", "%s %s", m_reason.constData(),
                      m_reasonText.constData());
}

// The format is empty, not null: a failing handler is reported and the program goes on.
void SerialPort::deliver(const char *event)
{
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, event, "");
}

static SerialPort *checkserialport(lua_State *L, int index)
{
    return static_cast<SerialPort *>(
        static_cast<QObject *>(luaX_checkclass(L, index, "SerialPort")));
}

// The pushes need stack room for every name; without it nothing is pushed and -1 comes back.
static int pushportnames(lua_State *L)
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (!lua_checkstack(L, ports.size()))
        return -1;
    for (const QSerialPortInfo &info : ports)
        luaX_pushtext(L, info.portName().toLocal8Bit());
    return ports.size();
}

static int lserialcore_ports(lua_State *L)
{
    const int count = pushportnames(L);
    if (count < 0)
        return luaL_error(L, "too many serial ports");
    return count;
}

// The interpreter's tracker owns the ports Lua makes: closing the interpreter closes them and
// stops their threads, which nothing else would do before the program ends.
static int lserialport_create(lua_State *L)
{
    auto *port = new SerialPort;
    port->setParent(ObjectTracker::instance(L));
    luaX_pushqobject(L, port);
    return 1;
}

// A name goes to the system as a zero-terminated path, so one holding a zero byte is refused.
static int lserialport_open(lua_State *L)
{
    SerialPort *port = checkserialport(L, 1);
    const char *name = luaX_checkname(L, 2);
    port->open(QString::fromUtf8(name));
    lua_pushboolean(L, 1);
    return 1;
}

static int lserialport_read(lua_State *L)
{
    SerialPort *port = checkserialport(L, 1);
    luaX_pushtext(L, port->received());
    port->clearReceived();
    return 1;
}

static int lserialport_write(lua_State *L)
{
    SerialPort *port = checkserialport(L, 1);
    size_t length;
    const char *data = luaL_checklstring(L, 2, &length);
    if (length > static_cast<size_t>(std::numeric_limits<int>::max()))
        luaL_argerror(L, 2, "text too long");
    port->write(QByteArray(data, static_cast<int>(length)));
    return 0;
}

static const luaL_Reg serialcore_functions[] = {
    {"ports", lserialcore_ports},
    {nullptr, nullptr},
};

// Handles made by create are borrowed, so the class keeps the do-nothing __gc of QObject.
static const luaL_Reg serialport_functions[] = {
    {"create", lserialport_create}, {"open", lserialport_open}, {"read", lserialport_read},
    {"write", lserialport_write},   {nullptr, nullptr},
};

// SerialPort derives from QObject, so qt.core is loaded first when it is not yet.
int luaopen_serial_core(lua_State *L)
{
    luaL_checkversion(L);
    luaL_requiref(L, "qt.core", luaopen_qt_core, 0);
    lua_pop(L, 1);
    luaL_newlib(L, serialcore_functions);
    luaX_createclass(L, "SerialPort", serialport_functions, "QObject", true, true);
    return 1;
}
