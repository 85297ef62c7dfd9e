#include "audioencoderworker.h"

#include "audioencoder.h"

#include <QAudioDeviceInfo>
#include <QAudioInput>
#include <QCoreApplication>
#include <QDebug>
#include <QThread>

#include <cstdio>

AudioEncoderWorker::AudioEncoderWorker()
{
    qDebug() << "AudioEncoderWorker.thread" << thread();
}

// Qt's PulseAudio input runs the thread's events while it closes: requests still queued for
// this worker must not reach it half destroyed. The input goes before the encoder, so the
// file is finished after the last block.
AudioEncoderWorker::~AudioEncoderWorker()
{
    qDebug() << "Destroy AudioEncoderWorker";
    QCoreApplication::removePostedEvents(this);
    delete m_input;
}

static QAudioFormat requestedFormat()
{
    QAudioFormat format;
    format.setSampleRate(44100);
    format.setChannelCount(1);
    format.setSampleSize(16);
    format.setCodec("audio/pcm");
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::SignedInt);
    return format;
}

// No buffer size is set: Qt's PulseAudio input takes it as the size of the blocks it
// delivers, and one second of buffer would mean a level meter that moves once a second.
void AudioEncoderWorker::run()
{
    qDebug() << "AudioEncoderWorker::run" << thread();
    const QAudioDeviceInfo device = QAudioDeviceInfo::defaultInputDevice();
    QAudioFormat format = requestedFormat();
    if (!device.isFormatSupported(format)) {
        qWarning() << "Default format not supported, trying to use the nearest.";
        format = device.nearestFormat(format);
    }
    m_input = new QAudioInput(device, format, this);
    m_input->setNotifyInterval(500);
    m_input->setVolume(0.75);
    qDebug() << "Audio volume" << m_input->volume();
    printf("Audio Volume:%f\n", m_input->volume());
    connect(m_input, &QAudioInput::stateChanged, this, &AudioEncoderWorker::handleStateChanged);
    m_encoder = new AudioEncoder(this);
    m_encoder->setFormat(format.sampleRate(), format.channelCount());
    connect(m_encoder, &AudioEncoder::status, this, &AudioEncoderWorker::status);
    connect(m_encoder, &AudioEncoder::fileStatus, this, &AudioEncoderWorker::fileStatus);
    connect(m_encoder, &AudioEncoder::fileFailed, this, &AudioEncoderWorker::fileFailed);
}

bool AudioEncoderWorker::start()
{
    qDebug() << "AudioEncoderWorker::start" << m_input << m_encoder;
    if (!m_encoder->isOpen())
        m_encoder->start();
    if (m_input->state() != QAudio::ActiveState)
        m_input->start(m_encoder);
    qDebug() << "AudioEncoder: " << m_input->state() << " " << m_input->error();
    return m_input->error() == QAudio::NoError && m_encoder->isOpen();
}

void AudioEncoderWorker::stop()
{
    qDebug() << "AudioEncoderWorker::stop" << m_input << m_encoder;
    m_input->stop();
    m_encoder->stop();
}

static QString inputErrorText(QAudio::Error error)
{
    switch (error) {
    case QAudio::OpenError:
        return QStringLiteral("the audio input could not be opened");
    case QAudio::IOError:
        return QStringLiteral("the audio input failed while reading");
    case QAudio::FatalError:
        return QStringLiteral("the audio input is not available");
    default:
        return QStringLiteral("the audio input did not start");
    }
}

// After a file that failed to open the encoder is closed; the input stops too, or it would
// go on writing each block into the closed device, with a warning each time.
void AudioEncoderWorker::startRecording(const QString &filename)
{
    qDebug() << "AudioEncoderWorker::startRecording" << filename;
    if (!start()) {
        const QString text = inputErrorText(m_input->error());
        qWarning().noquote() << "Recording to" << filename << "failed: nodevice" << text;
        emit fileFailed(QStringLiteral("nodevice"), text);
        return;
    }
    if (m_encoder->startRecording(filename))
        return;
    if (!m_encoder->isOpen())
        m_input->stop();
}

void AudioEncoderWorker::stopRecording()
{
    qDebug() << "AudioEncoderWorker::stopRecording" << m_input->bufferSize()
             << m_input->periodSize() << m_input->bytesReady() << m_input->processedUSecs();
    m_encoder->stopRecording();
}

void AudioEncoderWorker::handleStateChanged(QAudio::State state)
{
    qDebug() << "AudioEncoderWorker::handleStateChanged" << state;
}
