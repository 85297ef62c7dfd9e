#ifndef AUDIOENCODERWORKER_H
#define AUDIOENCODERWORKER_H

#include <QAudio>
#include <QObject>

class AudioEncoder;
class QAudioInput;

// Lives on a recorder's thread: owns the audio input and the device it writes into, and
// carries out the recorder's requests there.
class AudioEncoderWorker : public QObject
{
    Q_OBJECT

public:
    AudioEncoderWorker();
    ~AudioEncoderWorker() override;

signals:
    void status(uchar recording, uchar peak);
    void fileStatus(const QString &filename);
    void fileFailed(const QString &reason, const QString &text);

public slots:
    void run();
    bool start();
    void stop();
    void startRecording(const QString &filename);
    void stopRecording();

private slots:
    void handleStateChanged(QAudio::State state);

private:
    QAudioInput *m_input = nullptr;
    AudioEncoder *m_encoder = nullptr;
};

#endif
