#ifndef FOOTPEDAL_H
#define FOOTPEDAL_H

#include <QObject>
#include <QString>

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
    // Sent just before started(), with what the pedal calls itself.
    void connected(const QString &product);

public slots:
    void run();

private:
    void connectOnce();
    void explainFailedOpen();
    void readReports(hid_device_ *device);

    std::atomic<bool> m_stopRequested{false};
    // Why the pedal that is there could not be opened, as last logged.
    QString m_problem;
};

#endif
