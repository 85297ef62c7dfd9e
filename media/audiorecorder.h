#ifndef AUDIORECORDER_H
#define AUDIORECORDER_H

#include <lua.hpp>

#include <QObject>
#include <QThread>

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

private:
    QThread m_thread;
};

int luaopen_recorder_core(lua_State *L);

#endif
