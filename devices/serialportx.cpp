#include "serialportx.h"

#include <QFileInfo>
#include <QThread>

static const qint32 baudRate = 38400;

// The port is made on the worker's thread, where it lives, before any request is handled.
void SerialPortX::init()
{
    m_port = new QSerialPort(this);
    connect(m_port, &QSerialPort::readyRead, this, &SerialPortX::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialPortX::onError);
}

bool SerialPortX::requeue(const std::function<void()> &call)
{
    if (QThread::currentThread() == thread())
        return false;
    QMetaObject::invokeMethod(this, call, Qt::QueuedConnection);
    return true;
}

// Every open starts from a closed port with the fixed line settings. A failed open reaches
// the receiver only through error().
void SerialPortX::open(const QString &name)
{
    if (requeue([this, name] { open(name); }))
        return;
    if (m_port->isOpen())
        m_port->close();
    m_port->setPortName(name);
    m_location = name.contains('/') ? name : "/dev/" + name;
    m_port->setBaudRate(baudRate, QSerialPort::AllDirections);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::OddParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->open(QIODevice::ReadWrite);
}

// Bytes for a closed port are dropped; QIODevice would only warn about them.
void SerialPortX::write(const QByteArray &data)
{
    if (requeue([this, data] { write(data); }))
        return;
    if (!m_port->isOpen())
        return;
    // Out now, not at the next turn of this thread's loop: an answer to a device that waits for
    // it is due at once.
    m_port->write(data);
    m_port->flush();
}

void SerialPortX::delivered()
{
    if (requeue([this] { delivered(); }))
        return;
    --m_undelivered;
    onReadyRead();
}

// One receive() at a time is on its way. What arrives meanwhile waits in the port's buffer
// and follows in one piece, so a busy receiver gets fewer and larger pieces, never a backlog.
void SerialPortX::onReadyRead()
{
    if (m_undelivered > 0 || !m_port->isOpen() || m_port->bytesAvailable() == 0)
        return;
    ++m_undelivered;
    emit receive(m_port->readAll());
}

// QSerialPort reports the clearing of its error at every open as an error too; that is no
// news. After a failed read the port is closed: QSerialPort goes on reporting a port whose
// other end hung up, at every turn of the event loop.
// QSerialPort reports a port held by another program (its lock file, or the exclusive open it
// asks of the driver) as a permission error too; only the text tells the two apart.
static QString reasonof(QSerialPort::SerialPortError code, const QString &text)
{
    switch (code) {
    case QSerialPort::DeviceNotFoundError:
        return "notfound";
    case QSerialPort::PermissionError:
        return text.contains("lock", Qt::CaseInsensitive) ||
                       text.contains("busy", Qt::CaseInsensitive)
                   ? "busy"
                   : "permission";
    case QSerialPort::OpenError:
        return "busy";
    case QSerialPort::ResourceError:
        return "removed";
    case QSerialPort::TimeoutError:
        return "timeout";
    default:
        return "io";
    }
}

void SerialPortX::onError(QSerialPort::SerialPortError code)
{
    if (code == QSerialPort::NoError)
        return;
    const QString text = m_port->errorString();
    emit failed(m_port->isOpen() && !QFileInfo::exists(m_location) ? "removed"
                                                                   : reasonof(code, text),
                text);
    emit error(m_port->portName());
    const bool readFailed = code == QSerialPort::ReadError || code == QSerialPort::ResourceError;
    if (readFailed && m_port->isOpen())
        m_port->close();
}
