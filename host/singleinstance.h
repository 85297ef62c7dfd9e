#ifndef SINGLEINSTANCE_H
#define SINGLEINSTANCE_H

#include <QObject>
#include <QPointer>

class QDeadlineTimer;
class QLocalServer;
class QLockFile;
class QWidget;

// Lets one copy of the program run per user. The first copy listens on a local socket named
// after the id and the user; a later copy sends it a message and learns that it is running.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum Role {
        Running,     // this copy runs the application
        Secondary,   // another copy runs and acknowledged the message
        Unreachable, // another copy holds the lock but did not answer in time
    };

    explicit SingleInstance(const QString &id, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Decides which copy runs: the one that takes the lock (a lock left by a crashed copy is
    // taken over). Every other copy hands the message to it, waiting up to the time-out for
    // the winner to listen and acknowledge.
    Role claim(const QString &message, int timeoutMs);
    // The window brought to the front whenever a message arrives.
    void setActivationWindow(QWidget *window);

signals:
    void messageReceived(const QString &message);

private slots:
    void newConnection();

private:
    bool sendMessage(const QString &message, const QDeadlineTimer &deadline);
    void listen();
    void activateWindow();

    QString m_name;
    QLocalServer *m_server = nullptr;
    QLockFile *m_lock = nullptr;
    QPointer<QWidget> m_window;
};

#endif
