#ifndef SINGLEINSTANCE_H
#define SINGLEINSTANCE_H

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>

class QDeadlineTimer;
class QSocketNotifier;
class QWidget;

// Lets one copy of the program run per user. The first copy holds an advisory lock on a file
// named after the id and the user (the system lets it go when the process ends, however it
// ends) and listens on a local socket of the same name; a later copy sends it a message and
// learns that it is running. Plain system sockets: the toolkit's network library is not loaded
// at start for this.
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

    // Decides which copy runs: the one that takes the lock. Every other copy hands the message
    // to it, waiting up to the time-out for the winner to listen and acknowledge.
    Role claim(const QString &message, int timeoutMs);
    // The window brought to the front whenever a message arrives.
    void setActivationWindow(QWidget *window);

signals:
    void messageReceived(const QString &message);

private:
    bool sendMessage(const QByteArray &message, const QDeadlineTimer &deadline);
    void listen();
    void acceptConnections();
    void readConnection(int fd);
    void closeConnection(int fd);
    void activateWindow();

    QByteArray m_path; // of the socket; the lock file adds ".lock"
    int m_lock = -1;
    int m_server = -1;
    QSocketNotifier *m_serverNotifier = nullptr;
    struct Connection {
        QSocketNotifier *notifier;
        QByteArray received;
    };
    QHash<int, Connection> m_connections;
    QPointer<QWidget> m_window;
};

#endif
