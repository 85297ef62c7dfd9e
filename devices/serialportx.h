#ifndef SERIALPORTX_H
#define SERIALPORTX_H

#include <QObject>
#include <QSerialPort>

#include <functional>

// Drives one serial port on the thread of its SerialPort. Requests may come from any thread;
// they run on the worker's own, in the order they were made.
class SerialPortX : public QObject
{
    Q_OBJECT

public:
    SerialPortX() = default;

signals:
    void receive(const QByteArray &data);
    void error(const QString &portName);
    // Sent just before error(): a short word for what went wrong, and the system's text.
    void failed(const QString &reason, const QString &text);

public slots:
    void init();
    void open(const QString &name);
    void write(const QByteArray &data);
    // The receiver has taken one receive(): bytes held back meanwhile go out now.
    void delivered();

private slots:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError code);

private:
    bool requeue(const std::function<void()> &call);
    void send();

    QSerialPort *m_port = nullptr;
    // The device file: an unplugged adapter's goes, whatever error the port reports.
    QString m_location;
    int m_undelivered = 0;
};

#endif
