#include "mp3encoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <sys/stat.h>

static const int mp3BufferSize = 8192;
static const int streamBufferSize = 65536;

// LAME promises that a call given n samples a channel writes at most 1.25 n + 7200 bytes, so
// blocks are fed in slices that always fit the buffer: a long block (a recorder thread that
// fell behind) is encoded whole instead of failing with "buffer not big enough".
static const int sliceFrames = (mp3BufferSize - 7200) * 4 / 5;

Mp3Encoder::Mp3Encoder(LameLibrary &library) : m_library(library) {}

// A file that was never finished loses its last frames here: finish is the orderly end.
Mp3Encoder::~Mp3Encoder()
{
    if (m_file)
        fclose(m_file);
    if (m_flags)
        m_lame->lame_close(m_flags);
}

void Mp3Encoder::fail(const char *reason, const std::string &text)
{
    if (m_failure)
        return;
    m_failure = reason;
    m_failureText = text;
}

void Mp3Encoder::failWithErrno(int error)
{
    const char *reason = "io";
    if (error == ENOENT || error == ENOTDIR)
        reason = "notfound";
    else if (error == EACCES || error == EPERM || error == EROFS)
        reason = "permission";
    else if (error == ENOSPC || error == EDQUOT || error == EFBIG)
        reason = "full";
    fail(reason, strerror(error));
}

int Mp3Encoder::open(const char *path, int sampleRate, bool stereo)
{
    m_lame = m_library.bind();
    if (!m_lame) {
        fail("noencoder", "the LAME MP3 encoder library could not be loaded");
        return -1;
    }
    m_file = fopen(path, "w+b");
    if (!m_file) {
        const int error = errno;
        printf("Failed to create file %s\n%s", path, strerror(error));
        failWithErrno(error);
        return -1;
    }
    m_path = path;
    setvbuf(m_file, nullptr, _IOFBF, streamBufferSize);
    if (!setUp(sampleRate, stereo ? 2 : 1)) {
        printf("Failed to initialize encoder\n");
        fail("encoder", "LAME refused to set up the encoder");
        return -1;
    }
    m_mp3Buffer.reset(new (std::nothrow) unsigned char[mp3BufferSize]);
    if (!m_mp3Buffer) {
        printf("Out of memory");
        fail("memory", strerror(ENOMEM));
        return -1;
    }
    m_mp3BufferSize = mp3BufferSize;
    return 0;
}

// No bit rate, quality or mode is set: LAME picks them for the input rate and channel count.
bool Mp3Encoder::setUp(int sampleRate, int channels)
{
    m_flags = m_lame->lame_init();
    if (!m_flags)
        return false;
    m_lame->id3tag_init(m_flags);
    m_lame->lame_set_in_samplerate(m_flags, sampleRate);
    m_lame->lame_set_num_channels(m_flags, channels);
    if (m_lame->lame_init_params(m_flags) < 0) {
        printf("Failed to set encoder paramaters\n");
        m_lame->lame_close(m_flags);
        m_flags = nullptr;
        return false;
    }
    printConfiguration();
    return true;
}

void Mp3Encoder::printConfiguration() const
{
    static const char *const modeNames[2][4] = {
        {"stereo", "j-stereo", "dual-ch", "single-ch"},
        {"stereo", "force-ms", "dual-ch", "single-ch"},
    };
    const int outRate = m_lame->lame_get_out_samplerate(m_flags);
    printf("Encoding as %g kHz ", 0.001 * outRate);
    printf("%3d kbps", m_lame->lame_get_brate(m_flags));
    const int mode = m_lame->lame_get_mode(m_flags);
    const int forceMs = m_lame->lame_get_force_ms(m_flags) ? 1 : 0;
    // LAME answers NOT_SET (4) when it was left to choose and did not.
    const char *modeName = mode >= 0 && mode < 4 ? modeNames[forceMs][mode] : "?";
    const float ratio = m_lame->lame_get_compression_ratio(m_flags);
    printf(" %s MPEG-%u%s Layer III (%s%gx) quality %i\n", modeName,
           static_cast<unsigned>(2 - m_lame->lame_get_version(m_flags)),
           outRate < 16000 ? ".5" : "", "", static_cast<int>(ratio * 10 + 0.5) * 0.1,
           m_lame->lame_get_quality(m_flags));
}

int Mp3Encoder::encode(const short *samples, int count)
{
    const int channels = m_lame->lame_get_num_channels(m_flags);
    const int frames = count / channels;
    for (int done = 0; done < frames;) {
        const int slice = std::min(frames - done, sliceFrames);
        if (encodeSlice(samples + done * channels, slice, channels) != 0)
            return -1;
        done += slice;
    }
    return 0;
}

int Mp3Encoder::encodeSlice(const short *samples, int frames, int channels)
{
    // LAME reads the interleaved samples without changing them, whatever its prototype says.
    const int bytes =
        channels == 1
            ? m_lame->lame_encode_buffer(m_flags, samples, samples, frames, m_mp3Buffer.get(),
                                         m_mp3BufferSize)
            : m_lame->lame_encode_buffer_interleaved(m_flags, const_cast<short *>(samples), frames,
                                                     m_mp3Buffer.get(), m_mp3BufferSize);
    if (bytes == -1) {
        printf("MP3 buffer is not big enough");
        return -1;
    }
    if (bytes < 0) {
        printf("MP3 internal error: error code=%i", bytes);
        return -1;
    }
    return writeFrames(bytes) ? 0 : -1;
}

bool Mp3Encoder::writeFrames(int bytes)
{
    if (fwrite(m_mp3Buffer.get(), 1, static_cast<size_t>(bytes), m_file) ==
        static_cast<size_t>(bytes))
        return true;
    const int error = errno;
    printf("Error writing mp3 output");
    failWithErrno(error);
    return false;
}

// A file whose folder was removed (or that was renamed away) is still written, but the take
// would be lost with it.
void Mp3Encoder::checkPath()
{
    struct stat atPath;
    struct stat open;
    if (!m_file || fstat(fileno(m_file), &open) != 0)
        return;
    if (stat(m_path.c_str(), &atPath) == 0 && atPath.st_dev == open.st_dev &&
        atPath.st_ino == open.st_ino)
        return;
    fail("removed", strerror(ENOENT));
}

// Only a regular file can have its head written again: LAME reads the head back to do it, and
// on a pipe or a device that read would wait for data that never comes.
static bool rewritable(FILE *file)
{
    struct stat status;
    return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
}

// LAME's information frame at the head of the file (written over the blank frame it started
// with) tells a player the length of the take before it plays it.
int Mp3Encoder::finish()
{
    if (!m_file)
        return 0;
    const int bytes = m_lame->lame_encode_flush(m_flags, m_mp3Buffer.get(), m_mp3BufferSize);
    if (bytes == -1)
        printf("MP3 buffer is not big enough");
    else if (bytes < 0)
        printf("MP3 internal error:  error code=%i", bytes);
    else if (writeFrames(bytes) && rewritable(m_file))
        m_lame->lame_mp3_tags_fid(m_flags, m_file);
    if (fclose(m_file) != 0)
        failWithErrno(errno);
    m_file = nullptr;
    return 0;
}
