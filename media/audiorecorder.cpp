#include "audiorecorder.h"

#include "audioencoderworker.h"
#include "luax/luax.h"
#include "luax/objecttracker.h"

#include <QAudioDeviceInfo>
#include <QCoreApplication>
#include <QDebug>

static void listdevices(QAudio::Mode mode, const char *title, const char *defaultTitle,
                        const QAudioDeviceInfo &defaultDevice)
{
    qDebug() << title;
    for (const QAudioDeviceInfo &device : QAudioDeviceInfo::availableDevices(mode))
        qDebug().noquote() << device.deviceName();
    qDebug().noquote() << defaultTitle << defaultDevice.deviceName();
    qDebug().noquote() << QString(42, '-');
}

// The listing also makes Qt's PulseAudio engine, an object with a thread affinity, on the
// main thread, which outlives every recorder thread.
static void listdevices()
{
    qDebug().noquote() << QString(42, '-');
    listdevices(QAudio::AudioInput, "Available audio input devices:", "Default input:",
                QAudioDeviceInfo::defaultInputDevice());
    listdevices(QAudio::AudioOutput, "Available audio output devices:", "Default output:",
                QAudioDeviceInfo::defaultOutputDevice());
}

// A recorder still alive when the event loop ends goes with it, so its file is finished.
AudioRecorder::AudioRecorder()
{
    qDebug() << "AudioRecorder.thread" << &m_thread;
    listdevices();
    auto *worker = new AudioEncoderWorker;
    worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &AudioRecorder::run, worker, &AudioEncoderWorker::run);
    connect(this, &AudioRecorder::start, worker, &AudioEncoderWorker::start);
    connect(this, &AudioRecorder::stop, worker, &AudioEncoderWorker::stop);
    connect(this, &AudioRecorder::record, worker, &AudioEncoderWorker::startRecording);
    connect(this, &AudioRecorder::recordstop, worker, &AudioEncoderWorker::stopRecording);
    connect(worker, &AudioEncoderWorker::status, this, &AudioRecorder::onStatus);
    connect(worker, &AudioEncoderWorker::fileStatus, this, &AudioRecorder::onFileStatus);
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &QObject::deleteLater);
    m_thread.start();
    emit run();
}

// The worker dies on its thread as the thread finishes, taking the input and the encoder with
// it; waiting for that keeps a recording from being cut off.
AudioRecorder::~AudioRecorder()
{
    ObjectTracker::release(this);
    qDebug() << "Destroy AudioRecorder";
    m_thread.quit();
    m_thread.wait();
}

void AudioRecorder::onStatus(uchar recording, uchar peak)
{
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, "onStatus", "%s %d", recording ? "record" : "stop",
                      static_cast<int>(peak));
}

void AudioRecorder::onFileStatus(const QString &filename)
{
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, "onFileStatus", "%s", filename.toLocal8Bit().constData());
}

static AudioRecorder *checkrecorder(lua_State *L, int index)
{
    return static_cast<AudioRecorder *>(
        static_cast<QObject *>(luaX_checkclass(L, index, "AudioRecorder")));
}

static int lrecorder_create(lua_State *L)
{
    luaX_pushobject(L, static_cast<QObject *>(new AudioRecorder), "AudioRecorder", LUAX_BORROWED);
    return 1;
}

static int lrecorder_start(lua_State *L)
{
    AudioRecorder *recorder = checkrecorder(L, 1);
    qDebug() << "lrecorder_start";
    emit recorder->start();
    return 0;
}

static int lrecorder_stop(lua_State *L)
{
    AudioRecorder *recorder = checkrecorder(L, 1);
    qDebug() << "lrecorder_stop";
    emit recorder->stop();
    return 0;
}

// The name goes to the C library as a path: one holding a zero byte is refused.
static int lrecorder_record(lua_State *L)
{
    AudioRecorder *recorder = checkrecorder(L, 1);
    qDebug() << "lrecorder_record" << recorder;
    const char *filename = luaX_checkname(L, 2);
    emit recorder->record(QString::fromUtf8(filename));
    return 0;
}

static int lrecorder_recordstop(lua_State *L)
{
    AudioRecorder *recorder = checkrecorder(L, 1);
    qDebug() << "lrecorder_recordstop";
    emit recorder->recordstop();
    return 0;
}

static const luaL_Reg recorder_functions[] = {
    {"create", lrecorder_create}, {"start", lrecorder_start},           {"stop", lrecorder_stop},
    {"record", lrecorder_record}, {"recordstop", lrecorder_recordstop}, {nullptr, nullptr},
};

int luaopen_recorder_core(lua_State *L)
{
    luaX_createclass(L, "AudioRecorder", recorder_functions, "QObject", true, false);
    luaL_getmetatable(L, "AudioRecorder");
    return 1;
}
