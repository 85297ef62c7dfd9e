#ifndef MP3ENCODER_H
#define MP3ENCODER_H

#include "lamelibrary.h"

#include <cstdio>
#include <memory>
#include <string>

// One MP3 file being written: LAME set up for the sample rate and channel count, blocks of
// 16-bit samples encoded and appended, the last frames flushed by finish. Every failure is
// printed to standard output; one that ends the file (it could not be made or written, or it
// left its path) is also kept as a reason word and the system's text.
class Mp3Encoder
{
public:
    explicit Mp3Encoder(LameLibrary &library = LameLibrary::instance());
    ~Mp3Encoder();
    Mp3Encoder(const Mp3Encoder &) = delete;
    Mp3Encoder &operator=(const Mp3Encoder &) = delete;

    // 0 when the file is created and LAME is ready, -1 otherwise.
    int open(const char *path, int sampleRate, bool stereo);
    // Samples in native byte order, interleaved for two channels; count is all of them.
    // 0 when the frames were written, -1 when (part of) the block was lost.
    int encode(const short *samples, int count);
    // Flushes LAME's last frames and closes the file; always 0.
    int finish();
    // Fails with the reason "removed" once the file open is no longer the one at its path.
    void checkPath();

    // "noencoder", "encoder", "memory", "notfound", "permission", "full", "removed" or "io";
    // null while nothing ended the file.
    const char *failure() const { return m_failure; }
    const std::string &failureText() const { return m_failureText; }

private:
    bool setUp(int sampleRate, int channels);
    void printConfiguration() const;
    int encodeSlice(const short *samples, int frames, int channels);
    bool writeFrames(int bytes);
    void fail(const char *reason, const std::string &text);
    void failWithErrno(int error);

    LameLibrary &m_library;
    const LameApi *m_lame = nullptr;
    FILE *m_file = nullptr;
    std::unique_ptr<unsigned char[]> m_mp3Buffer;
    int m_mp3BufferSize = 0;
    lame_t m_flags = nullptr;
    std::string m_path;
    const char *m_failure = nullptr;
    std::string m_failureText;
};

#endif
