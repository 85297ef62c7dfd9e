#ifndef SOUNDCHECK_H
#define SOUNDCHECK_H

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <QVector>

class LuaFixture;

// Sound as the tests measure it: what a file decodes to, or what a sound server source carried.
struct Sound {
    int rate = 0;
    int channels = 0;
    QVector<short> samples; // interleaved

    double seconds() const;
    int peak() const;
    // The amplitude of a steady tone, from its mean power: unlike the peak, a coding transient at
    // the start or end of a recording does not move it.
    double amplitude() const;
    // Of a steady tone, from the rising zero crossings of the first channel.
    double frequency() const;
};

// 16-bit samples of a sine at the given amplitude (of 32767), interleaved for every channel.
QVector<short> tone(double hertz, double amplitude, int rate, int channels, double seconds);
// Decodes an MP3 file with the lame command; an empty Sound when it cannot.
Sound decodeMp3(const QString &path);
Sound readWav(const QString &path);
// Records a source of the private sound server (mono, 44.1 kHz) for the given time.
Sound captureSource(const QString &source, int ms);
// True inside with-pulse.sh, which gives the test its own sound server.
bool hasSoundServer();

// Loads player.core and recorder.core into the fixture as the globals player and recorder.
void loadMediaModules(LuaFixture &fixture);

// Deletes the object behind a Lua global when the test ends, before the fixture (declared
// earlier) closes its interpreter: recorders and players have no parent to do it.
class GlobalObject
{
public:
    GlobalObject(LuaFixture &fixture, const char *global, const char *className);
    ~GlobalObject() { delete m_object; }
    GlobalObject(const GlobalObject &) = delete;
    GlobalObject &operator=(const GlobalObject &) = delete;

    template <class T> T *as() const { return static_cast<T *>(m_object.data()); }
    bool isAlive() const { return !m_object.isNull(); }

private:
    QPointer<QObject> m_object;
};

// The events the fixture's MsgHandler recorded, gathered while the event loop runs.
class EventLog
{
public:
    explicit EventLog(LuaFixture &fixture) : m_fixture(fixture) {}

    // Waits until an event matching the whole pattern has come since the last take.
    bool waitFor(const QString &pattern, int ms = 5000);
    // The events since the last take, after running the event loop for ms.
    QStringList take(int ms = 0);

private:
    LuaFixture &m_fixture;
    QStringList m_pending;
};

// Everything written to standard output (by printf and friends) between construction and
// finish(), which gives it back; the test's own output goes on as before after that.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    QByteArray finish();

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

#endif
