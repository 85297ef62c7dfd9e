#include "soundcheck.h"

#include "common/luafixture.h"
#include "luax/luax.h"
#include "media/audiorecorder.h"
#include "media/mediaplayer.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

double Sound::seconds() const
{
    return rate && channels ? double(samples.size()) / channels / rate : 0;
}

int Sound::peak() const
{
    int peak = 0;
    for (const short sample : samples)
        peak = std::max(peak, std::abs(int(sample)));
    return peak;
}

double Sound::amplitude() const
{
    if (samples.isEmpty())
        return 0;
    double power = 0;
    for (const short sample : samples)
        power += double(sample) * sample;
    return std::sqrt(2 * power / samples.size());
}

// Rising crossings of the first channel, each one from below -peak/4 to above +peak/4 so that
// coding noise around zero does not count twice, timed from the first to the last: silence
// around the tone (an encoder's delay, a capture that starts early) does not count either.
double Sound::frequency() const
{
    if (channels <= 0)
        return 0;
    const int threshold = peak() / 4;
    bool low = false;
    int first = -1;
    int last = -1;
    int rising = 0;
    for (int i = 0; i < samples.size(); i += channels) {
        if (samples[i] < -threshold) {
            low = true;
        } else if (low && samples[i] > threshold) {
            low = false;
            first = first < 0 ? i : first;
            last = i;
            ++rising;
        }
    }
    return rising > 1 ? (rising - 1) * double(rate) * channels / (last - first) : 0;
}

QVector<short> tone(double hertz, double amplitude, int rate, int channels, double seconds)
{
    const double twoPi = 2 * std::acos(-1.0);
    const int frames = int(seconds * rate);
    QVector<short> samples(frames * channels);
    for (int i = 0; i < frames; ++i) {
        const short value = short(std::lround(amplitude * std::sin(twoPi * hertz * i / rate)));
        for (int c = 0; c < channels; ++c)
            samples[i * channels + c] = value;
    }
    return samples;
}

static quint32 le32(const QByteArray &data, int at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}

static quint16 le16(const QByteArray &data, int at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}

// Walks the RIFF chunks for the format and the samples; only 16-bit PCM is expected.
Sound readWav(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    Sound sound;
    for (int at = 12; at + 8 <= data.size();) {
        const QByteArray id = data.mid(at, 4);
        const int size = int(std::min<quint32>(le32(data, at + 4), quint32(data.size() - at - 8)));
        if (id == "fmt " && size >= 16) {
            sound.channels = le16(data, at + 10);
            sound.rate = int(le32(data, at + 12));
        } else if (id == "data") {
            sound.samples.resize(size / 2);
            memcpy(sound.samples.data(), data.constData() + at + 8, size_t(size / 2 * 2));
        }
        at += 8 + size + (size & 1);
    }
    return sound;
}

Sound decodeMp3(const QString &path)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath("decoded.wav");
    QProcess lame;
    lame.start("lame", {"--decode", "--quiet", path, wav});
    if (!lame.waitForFinished(30000) || lame.exitCode() != 0)
        return {};
    return readWav(wav);
}

Sound captureSource(const QString &source, int ms)
{
    QProcess parec;
    parec.start("parec", {"-d", source, "--raw", "--format=s16le", "--rate=44100", "--channels=1",
                          "--latency-msec=20"});
    if (!parec.waitForStarted())
        return {};
    // Read as it comes: a full pipe would hold parec up and lose sound at the server.
    QByteArray raw;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        parec.waitForReadyRead(20);
        raw += parec.readAllStandardOutput();
    }
    parec.terminate();
    parec.waitForFinished();
    raw += parec.readAllStandardOutput();
    Sound sound{44100, 1, QVector<short>(raw.size() / 2)};
    memcpy(sound.samples.data(), raw.constData(), size_t(raw.size() / 2 * 2));
    return sound;
}

bool hasSoundServer()
{
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER");
}

void loadMediaModules(LuaFixture &fixture)
{
    luaL_requiref(fixture.L, "player.core", luaopen_player_core, 0);
    lua_setglobal(fixture.L, "player");
    luaL_requiref(fixture.L, "recorder.core", luaopen_recorder_core, 0);
    lua_setglobal(fixture.L, "recorder");
}

GlobalObject::GlobalObject(LuaFixture &fixture, const char *global, const char *className)
{
    lua_getglobal(fixture.L, global);
    m_object = static_cast<QObject *>(luaX_testclass(fixture.L, -1, className));
    lua_pop(fixture.L, 1);
}

bool EventLog::waitFor(const QString &pattern, int ms)
{
    const QRegularExpression whole(QRegularExpression::anchoredPattern(pattern));
    QDeadlineTimer deadline(ms);
    for (;;) {
        m_pending += m_fixture.events();
        for (const QString &event : qAsConst(m_pending))
            if (whole.match(event).hasMatch())
                return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
}

QStringList EventLog::take(int ms)
{
    if (ms > 0)
        QTest::qWait(ms);
    m_pending += m_fixture.events();
    QStringList events;
    events.swap(m_pending);
    return events;
}

StdoutCapture::StdoutCapture()
{
    m_file.open();
    fflush(stdout);
    m_saved = dup(STDOUT_FILENO);
    dup2(m_file.handle(), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    finish();
}

QByteArray StdoutCapture::finish()
{
    if (m_saved < 0)
        return QByteArray();
    fflush(stdout);
    dup2(m_saved, STDOUT_FILENO);
    close(m_saved);
    m_saved = -1;
    QFile written(m_file.fileName());
    written.open(QIODevice::ReadOnly);
    return written.readAll();
}
