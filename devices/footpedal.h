#ifndef FOOTPEDAL_H
#define FOOTPEDAL_H

#include <QObject>

#include <atomic>

struct hid_device_;

// Reads the USB foot pedal through hidapi on a thread of its own: each run() is one blocking
// connection, and every input report comes out as changed() with its switch byte.
class FootPedal : public QObject
{
    Q_OBJECT

public:
    FootPedal() = default;

    // Seen by the read loop between reads, so a stop takes effect within one read time-out.
    void requestStop() { m_stopRequested = true; }

signals:
    void changed(int flags);
    void started();
    void stopped();

public slots:
    void run();

private:
    void connectOnce();
    void readReports(hid_device_ *device);

    std::atomic<bool> m_stopRequested{false};
};

#endif
