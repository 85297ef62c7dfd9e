#ifndef AUDIORECORDER_H
#define AUDIORECORDER_H

#include <lua.hpp>

#include <QElapsedTimer>
#include <QObject>
#include <QThread>
#include <QTimer>

class ObjectTracker;

// The Lua face of a recorder: its methods only emit requests, carried out by a worker on a
// thread of its own, whose reports come back as onStatus and onFileStatus.
class AudioRecorder : public QObject
{
    Q_OBJECT

public:
    AudioRecorder();
    ~AudioRecorder() override;

signals:
    void run();
    void start();
    void stop();
    void record(const QString &filename);
    void recordstop();

private slots:
    void onStatus(uchar recording, uchar peak);
    void onFileStatus(const QString &filename);
    void onFileFailed(const QString &reason, const QString &text);
    void deliverLevel();

private:
    ObjectTracker *trackerAfterLevel();

    // Heap-held: a worker stuck in a write (storage that stopped answering) is left to end on
    // its own, and its thread goes when it does.
    QThread *m_thread;
    // The meter reaches Lua at most every 50 ms, with the latest level.
    QTimer m_meterTimer;
    QElapsedTimer m_sinceLevel;
    bool m_levelPending = false;
    uchar m_recording = 0;
    uchar m_peak = 0;
};

// C linkage: the host looks the opener up by name in the module's shared object.
extern "C" int luaopen_recorder_core(lua_State *L);

#endif
