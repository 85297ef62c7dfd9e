#include "audiorecorder.h"

#include "audioencoderworker.h"
#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "luax/threadreaper.h"

#include <QAudioDeviceInfo>
#include <QCoreApplication>
#include <QDebug>
#include <QPointer>

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

// Once the event loop has ended the program waits longer for a take to be finished: nothing is
// left to keep running, and a worker left behind then dies with the process.
static bool quitting = false;
static const int stopWaitMs = 80;
static const int quitWaitMs = 1500;

// A recorder still alive when the event loop ends goes with it, so its file is finished.
AudioRecorder::AudioRecorder() : m_thread(new QThread)
{
    qDebug() << "AudioRecorder.thread" << m_thread;
    listdevices();
    auto *worker = new AudioEncoderWorker;
    worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &AudioRecorder::run, worker, &AudioEncoderWorker::run);
    connect(this, &AudioRecorder::start, worker, &AudioEncoderWorker::start);
    connect(this, &AudioRecorder::stop, worker, &AudioEncoderWorker::stop);
    connect(this, &AudioRecorder::record, worker, &AudioEncoderWorker::startRecording);
    connect(this, &AudioRecorder::recordstop, worker, &AudioEncoderWorker::stopRecording);
    connect(worker, &AudioEncoderWorker::status, this, &AudioRecorder::onStatus);
    connect(worker, &AudioEncoderWorker::fileStatus, this, &AudioRecorder::onFileStatus);
    connect(worker, &AudioEncoderWorker::fileFailed, this, &AudioRecorder::onFileFailed);
    m_meterTimer.setSingleShot(true);
    connect(&m_meterTimer, &QTimer::timeout, this, &AudioRecorder::deliverLevel);
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, [this] {
            quitting = true;
            deleteLater();
        });
    m_thread->start();
    emit run();
}

// The worker dies on its thread as the thread finishes, taking the input and the encoder with
// it; waiting for that keeps a recording from being cut off. A worker that does not finish in
// time goes on finishing its file on its own; what it reports then reaches nobody.
AudioRecorder::~AudioRecorder()
{
    ObjectTracker::release(this);
    qDebug() << "Destroy AudioRecorder";
    if (!ThreadReaper::finish(m_thread, quitting ? quitWaitMs : stopWaitMs))
        qWarning("The recorder did not stop in time; its file is finished on its own");
}

static const int levelInterval = 50;

// Blocks come every few milliseconds: a Lua handler slower than that would fall ever further
// behind. The latest level waits until 50 ms after the last delivery ended.
void AudioRecorder::onStatus(uchar recording, uchar peak)
{
    m_recording = recording;
    m_peak = peak;
    m_levelPending = true;
    if (m_meterTimer.isActive())
        return;
    const qint64 waited = m_sinceLevel.isValid() ? m_sinceLevel.elapsed() : levelInterval;
    if (waited >= levelInterval)
        deliverLevel();
    else
        m_meterTimer.start(int(levelInterval - waited));
}

void AudioRecorder::deliverLevel()
{
    m_meterTimer.stop();
    if (!m_levelPending)
        return;
    m_levelPending = false;
    const QPointer<AudioRecorder> self(this);
    if (ObjectTracker *tracker = ObjectTracker::forObject(this))
        LuaMsgHandler(tracker, this, "onStatus", "%s %d", m_recording ? "record" : "stop",
                      static_cast<int>(m_peak));
    if (self)
        m_sinceLevel.start();
}

// A level still waiting goes first: Lua sees the reports in the order the worker made them.
// The tracker to deliver the next report with, or null when the recorder died meanwhile.
ObjectTracker *AudioRecorder::trackerAfterLevel()
{
    const QPointer<AudioRecorder> self(this);
    deliverLevel();
    return self ? ObjectTracker::forObject(this) : nullptr;
}

void AudioRecorder::onFileStatus(const QString &filename)
{
    if (ObjectTracker *tracker = trackerAfterLevel())
        LuaMsgHandler(tracker, this, "onFileStatus", "%s", filename.toLocal8Bit().constData());
}

void AudioRecorder::onFileFailed(const QString &reason, const QString &text)
{
    if (ObjectTracker *tracker = trackerAfterLevel())
        LuaMsgHandler(tracker, this, "onFileStatus", "%s %s %s", "",
                      reason.toLocal8Bit().constData(), text.toLocal8Bit().constData());
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
