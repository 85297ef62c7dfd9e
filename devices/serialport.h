#ifndef SERIALPORT_H
#define SERIALPORT_H

#include <lua.hpp>

#include <QByteArray>
#include <QObject>
#include <QThread>

class SerialPortX;

// The Lua face of one serial port. The port runs on a thread of its own; received bytes wait
// here until Lua reads them, and onReadyRead and onError tell Lua when to look.
class SerialPort : public QObject
{
    Q_OBJECT

public:
    SerialPort();
    ~SerialPort() override;

    void open(const QString &name);
    void write(const QByteArray &data);
    const QByteArray &received() const { return m_receiveBuffer; }
    void clearReceived() { m_receiveBuffer.clear(); }

protected slots:
    void onReceive(const QByteArray &data);
    void onError(const QString &portName);

private:
    void deliver(const char *event);

    // Heap-held: a thread stuck in the system when the port goes is left to end on its own.
    QThread *m_thread;
    SerialPortX *m_worker;
    QByteArray m_receiveBuffer;
    QString m_name;
    QByteArray m_reason;
    QByteArray m_reasonText;
};

// C linkage: the host looks the opener up by name in the module's shared object.
extern "C" int luaopen_serial_core(lua_State *L);

#endif
