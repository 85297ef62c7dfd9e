#include "audioencoder.h"

#include "mp3encoder.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

AudioEncoder::AudioEncoder(QObject *parent) : QIODevice(parent) {}

// Destroyed while recording (its recorder died, the program ended), the file still gets its
// last frames.
AudioEncoder::~AudioEncoder()
{
    if (m_mp3)
        m_mp3->finish();
}

void AudioEncoder::setFormat(int sampleRate, int channels)
{
    m_sampleRate = sampleRate;
    m_channels = channels;
}

bool AudioEncoder::open(OpenMode mode)
{
    if (m_mp3)
        return false;
    return QIODevice::open(mode);
}

void AudioEncoder::close()
{
    qDebug() << "close";
    stopRecording();
    QIODevice::close();
}

qint64 AudioEncoder::readData(char *, qint64 maxSize)
{
    qDebug() << "readData" << maxSize;
    return 0;
}

// The level is 255 + 20 ln(M / 32767) for the largest magnitude M (-32768 counting as 32767),
// worked in single precision: full scale reads 255, half scale 242, one step 48. Digital
// silence has no logarithm and reads 0.
static uchar level(const short *samples, qint64 count)
{
    int peak = 0;
    for (qint64 i = 0; i < count; ++i)
        peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    peak = std::min(peak, 32767);
    if (peak == 0)
        return 0;
    const float logarithm = std::log(static_cast<float>(peak) / 32767.0f);
    return static_cast<uchar>(255 + static_cast<int>(20 * logarithm));
}

qint64 AudioEncoder::writeData(const char *data, qint64 size)
{
    const qint64 count = size / 2;
    auto *samples = reinterpret_cast<const short *>(data);
    if (reinterpret_cast<quintptr>(data) % alignof(short)) {
        m_aligned.resize(static_cast<size_t>(count));
        std::copy_n(data, count * 2, reinterpret_cast<char *>(m_aligned.data()));
        samples = m_aligned.data();
    }
    emit status(m_mp3 ? 1 : 0, level(samples, count));
    if (m_mp3)
        encode(samples, count);
    return size;
}

// The file is set up for one or two channels: more are mixed down to one. A file that can no
// longer be written, or that left its path, ends the take; a block LAME fails on is lost alone.
void AudioEncoder::encode(const short *samples, qint64 count)
{
    if (m_channels > 2) {
        const qint64 frames = count / m_channels;
        m_mixed.resize(static_cast<size_t>(frames));
        for (qint64 frame = 0; frame < frames; ++frame) {
            int sum = 0;
            for (int channel = 0; channel < m_channels; ++channel)
                sum += samples[frame * m_channels + channel];
            m_mixed[static_cast<size_t>(frame)] = static_cast<short>(sum / m_channels);
        }
        samples = m_mixed.data();
        count = frames;
    }
    m_mp3->encode(samples, static_cast<int>(std::min<qint64>(count, INT_MAX)));
    if (!m_pathCheck.isValid() || m_pathCheck.hasExpired(1000)) {
        m_pathCheck.start();
        m_mp3->checkPath();
    }
    if (m_mp3->failure())
        stopRecording();
}

void AudioEncoder::reportFailure(const QString &fileName, const Mp3Encoder &mp3)
{
    const QString reason = QString::fromLatin1(mp3.failure());
    const QString text = QString::fromLocal8Bit(mp3.failureText().c_str());
    qWarning().noquote() << "Recording to" << fileName << "failed:" << reason << text;
    emit fileFailed(reason, text);
}

void AudioEncoder::start()
{
    open(WriteOnly | Truncate);
}

void AudioEncoder::stop()
{
    emit status(0, 0);
    close();
}

// A file that cannot be opened closes the device (without close's finishing): capture stops
// feeding it until the next start.
bool AudioEncoder::startRecording(const QString &fileName)
{
    if (!isOpen())
        start();
    if (!isOpen() || m_mp3) {
        qDebug() << "Unable to start AudioEncoder";
        return false;
    }
    stopRecording();
    auto mp3 = std::make_unique<Mp3Encoder>();
    if (mp3->open(QFile::encodeName(fileName).constData(), m_sampleRate, m_channels == 2) != 0) {
        QIODevice::close();
        reportFailure(fileName, *mp3);
        return false;
    }
    m_mp3 = std::move(mp3);
    m_fileName = fileName;
    m_pathCheck.invalidate();
    emit fileStatus(fileName);
    return true;
}

// A take that failed (while it was written, or in its last frames or close) reports why instead
// of the plain end.
void AudioEncoder::stopRecording()
{
    if (!m_mp3) {
        emit fileStatus(QString());
        return;
    }
    std::unique_ptr<Mp3Encoder> mp3 = std::move(m_mp3);
    mp3->finish();
    if (mp3->failure())
        reportFailure(m_fileName, *mp3);
    else
        emit fileStatus(QString());
}
