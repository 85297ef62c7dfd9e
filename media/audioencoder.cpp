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
    finishFile();
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
        m_mp3->encode(samples, static_cast<int>(std::min<qint64>(count, INT_MAX)));
    return size;
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
        emit fileStatus(QString());
        return false;
    }
    m_mp3 = std::move(mp3);
    emit fileStatus(fileName);
    return true;
}

void AudioEncoder::stopRecording()
{
    finishFile();
    emit fileStatus(QString());
}

void AudioEncoder::finishFile()
{
    if (!m_mp3)
        return;
    m_mp3->finish();
    m_mp3.reset();
}
