#ifndef THREADREAPER_H
#define THREADREAPER_H

#include <QObject>

class QThread;
class QTimer;

// Takes the threads whose owners could not wait for them: a worker stuck in the system (a tty
// close, a write to storage that stopped answering) is left to finish, and its thread object
// is deleted once it has. Deleting it earlier would wait for it, and deleting it on its finished
// signal too: the worker's own destruction, which may be what is stuck, comes after that signal.
class ThreadReaper : public QObject
{
    Q_OBJECT

public:
    // Asks the thread to quit and waits up to ms for it; true when it finished (and was deleted).
    static bool finish(QThread *thread, int ms);

private:
    ThreadReaper();
    void adopt(QThread *thread);
    void reap();

    QTimer *m_timer;
    QList<QThread *> m_threads;
};

#endif
