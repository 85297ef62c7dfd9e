#ifndef AUDIOENCODER_H
#define AUDIOENCODER_H

#include <QElapsedTimer>
#include <QIODevice>

#include <memory>
#include <vector>

class Mp3Encoder;

// The device the audio input writes its captured blocks into: each block's peak level is
// reported, and while a recording is in progress the block goes on into the MP3 file.
// Blocks are signed 16-bit samples in native byte order, interleaved; more than two channels are
// mixed down to one for the file.
class AudioEncoder : public QIODevice
{
    Q_OBJECT

public:
    explicit AudioEncoder(QObject *parent = nullptr);
    ~AudioEncoder() override;

    // The sample rate and channel count (one or two) of the blocks, and so of the next file.
    void setFormat(int sampleRate, int channels);

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return true; }

    void start();
    void stop();
    bool startRecording(const QString &fileName);
    void stopRecording();

signals:
    void status(uchar recording, uchar peak);
    void fileStatus(const QString &filename);
    // A take that could not begin or stopped being written: a reason word and the system's text.
    void fileFailed(const QString &reason, const QString &text);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    void encode(const short *samples, qint64 count);
    void reportFailure(const QString &fileName, const Mp3Encoder &mp3);

    std::unique_ptr<Mp3Encoder> m_mp3;
    QString m_fileName;
    QElapsedTimer m_pathCheck;
    std::vector<short> m_aligned;
    std::vector<short> m_mixed;
    int m_sampleRate = 44100;
    int m_channels = 1;
};

#endif
