#include "footpedalcontroller.h"

#include "footpedal.h"
#include "luax/threadreaper.h"

#include <QDebug>
#include <QTimer>

#include <utility>

static const int firstAttemptMs = 1000;
static const int retryMs = 5000;
static const int quitWaitMs = 80;
static const int pedalCount = 8;

FootPedalController::FootPedalController(QObject *parent)
    : QObject(parent), m_thread(new QThread), m_timer(new QTimer(this)), m_pedal(new FootPedal)
{
    m_pedal->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_pedal, &QObject::deleteLater);
    connect(m_pedal, &FootPedal::connected, this, &FootPedalController::onConnected);
    connect(this, &FootPedalController::operate, m_pedal, &FootPedal::run);
    connect(m_pedal, &FootPedal::changed, this, &FootPedalController::onChanged);
    connect(m_pedal, &FootPedal::started, this, &FootPedalController::onStarted);
    connect(m_pedal, &FootPedal::stopped, this, &FootPedalController::onStopped);
    connect(m_timer, &QTimer::timeout, this, &FootPedalController::onTimeout);
    m_timer->setInterval(firstAttemptMs);
    m_timer->setSingleShot(true);
}

// Destroying a running thread is fatal.
FootPedalController::~FootPedalController()
{
    quit();
}

// While an attempt runs, its end schedules the next one.
void FootPedalController::start()
{
    if (m_pedal && !m_connecting)
        m_timer->start();
}

// A worker whose thread never ran is not deleted by the thread's end, so it goes here.
void FootPedalController::quit()
{
    m_timer->stop();
    if (!m_pedal)
        return;
    qDebug() << "Running" << m_thread->isRunning();
    FootPedal *pedal = std::exchange(m_pedal, nullptr);
    QThread *thread = std::exchange(m_thread, nullptr);
    pedal->requestStop();
    if (!thread->isRunning()) {
        delete pedal;
        delete thread;
        return;
    }
    if (!ThreadReaper::finish(thread, quitWaitMs))
        qWarning("The foot pedal did not stop in time; it stops on its own");
}

// Reports still queued when quit() ran reach nobody.
void FootPedalController::onChanged(int mask)
{
    const quint8 now = static_cast<quint8>(mask);
    if (!m_pedal || now == m_lastMask)
        return;
    qDebug() << int(m_lastMask) << "->" << int(now);
    const unsigned changedBits = m_lastMask ^ now;
    m_lastMask = now;
    for (int pedal = 0; pedal < pedalCount; ++pedal) {
        const unsigned bit = 1u << pedal;
        if (!(changedBits & bit))
            continue;
        if (now & bit)
            emit pressed(pedal);
        else
            emit released(pedal);
    }
}

void FootPedalController::onConnected(const QString &product)
{
    if (!m_pedal)
        return;
    m_product = product.isNull() ? QString("") : product;
    emit connected(m_product);
}

void FootPedalController::onStarted()
{
    qDebug() << "Footpedal connected" << m_thread;
}

// Every pedal still held is released: its release will never be reported.
void FootPedalController::onStopped()
{
    m_connecting = false;
    onChanged(0);
    if (!m_pedal)
        return;
    if (!m_product.isNull())
        emit disconnected(std::exchange(m_product, QString()));
    m_timer->setInterval(retryMs);
    m_timer->start();
}

void FootPedalController::onTimeout()
{
    if (!m_pedal)
        return;
    m_thread->start(QThread::InheritPriority);
    m_connecting = true;
    emit operate();
}
