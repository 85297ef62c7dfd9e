#ifndef FOOTPEDALCONTROLLER_H
#define FOOTPEDALCONTROLLER_H

#include <QObject>
#include <QThread>

class FootPedal;
class QTimer;

// Owns the pedal's thread and worker on the main thread: connects a second after start(),
// tries again five seconds after every connection that ends, and turns each report's switch
// byte into one pressed or released signal per pedal that changed.
class FootPedalController : public QObject
{
    Q_OBJECT

public:
    explicit FootPedalController(QObject *parent = nullptr);
    ~FootPedalController() override;

signals:
    void pressed(int pedal);
    void released(int pedal);
    void operate();
    void connected(const QString &product);
    void disconnected(const QString &product);

public slots:
    void start();
    // Final: the worker goes with its thread, and nothing starts again.
    void quit();

private slots:
    void onChanged(int mask);
    void onConnected(const QString &product);
    void onStarted();
    void onStopped();
    void onTimeout();

private:
    // Heap-held: a worker stuck in the system when the controller quits is left to end on its
    // own, and its thread goes when it does. Null once quit() has run.
    QThread *m_thread;
    QTimer *m_timer;
    // Null once quit() has run.
    FootPedal *m_pedal;
    quint8 m_lastMask = 0;
    // From the attempt's start until the worker reports its end.
    bool m_connecting = false;
    // The pedal connected now; null while there is none.
    QString m_product;
};

#endif
