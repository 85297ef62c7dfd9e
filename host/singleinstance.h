#ifndef SINGLEINSTANCE_H
#define SINGLEINSTANCE_H

#include <QObject>
#include <QPointer>

class QLocalServer;
class QLockFile;
class QWidget;

// Lets one copy of the program run per user. The first copy listens on a local socket named
// after the id and the user; a later copy sends it a message and learns that it is running.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString &id, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when a running copy received the message and acknowledged it within the time-out.
    bool sendMessage(const QString &message, int timeoutMs);
    // Becomes the running copy; a lock left by a crashed copy is taken over.
    bool listen();
    // The window brought to the front whenever a message arrives.
    void setActivationWindow(QWidget *window);

signals:
    void messageReceived(const QString &message);

private slots:
    void newConnection();

private:
    void activateWindow();

    QString m_name;
    QLocalServer *m_server = nullptr;
    QLockFile *m_lock = nullptr;
    QPointer<QWidget> m_window;
};

#endif
