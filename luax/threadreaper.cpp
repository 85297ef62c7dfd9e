#include "threadreaper.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

static const int reapIntervalMs = 100;

ThreadReaper::ThreadReaper() : m_timer(new QTimer(this))
{
    m_timer->setInterval(reapIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &ThreadReaper::reap);
}

// The reaper lives as long as the process: threads still stuck when it ends die with it.
bool ThreadReaper::finish(QThread *thread, int ms)
{
    thread->quit();
    if (thread->wait(ms)) {
        delete thread;
        return true;
    }
    static ThreadReaper *reaper = new ThreadReaper;
    reaper->adopt(thread);
    return false;
}

void ThreadReaper::adopt(QThread *thread)
{
    m_threads << thread;
    m_timer->start();
}

// isFinished() is true already while the thread destroys its objects after its finished
// signal; a wait without time tells whether it has really ended.
void ThreadReaper::reap()
{
    for (int i = m_threads.size() - 1; i >= 0; --i)
        if (m_threads.at(i)->wait(0))
            delete m_threads.takeAt(i);
    if (m_threads.isEmpty())
        m_timer->stop();
}
