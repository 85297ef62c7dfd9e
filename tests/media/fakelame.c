/* A stand-in for LAME with the 28 entry points the encoder binds, answering what the tests
 * set in fake_lame. Built with FAKE_LAME_INCOMPLETE it lacks lame_set_msgf, an entry point the
 * encoder never calls but still requires. */
#include "fakelame.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

struct FakeLame fake_lame = {0, 0, 0, 0, 44100, 64, 0, 3, 1, 3, 11.025f, 0};

typedef struct {
    int channels;
} Flags;

static Flags flags;

const char *get_lame_version(void)
{
    ++fake_lame.versionCalls;
    return "fake";
}

Flags *lame_init(void)
{
    return fake_lame.initFails ? NULL : &flags;
}

int lame_close(Flags *f)
{
    (void)f;
    return 0;
}

int lame_set_in_samplerate(Flags *f, int rate)
{
    (void)f;
    (void)rate;
    return 0;
}

int lame_get_num_channels(const Flags *f)
{
    return f->channels;
}

int lame_set_num_channels(Flags *f, int channels)
{
    f->channels = channels;
    return 0;
}

void id3tag_init(Flags *f)
{
    (void)f;
}

void id3tag_set_title(Flags *f, const char *text)
{
    (void)f;
    (void)text;
}

void id3tag_set_artist(Flags *f, const char *text)
{
    (void)f;
    (void)text;
}

void id3tag_set_album(Flags *f, const char *text)
{
    (void)f;
    (void)text;
}

int lame_init_params(Flags *f)
{
    (void)f;
    return fake_lame.initParamsResult;
}

static int encoded(unsigned char *buffer, int size)
{
    if (fake_lame.encodeResult <= 0)
        return fake_lame.encodeResult;
    memset(buffer, 0x55, (size_t)(fake_lame.encodeResult < size ? fake_lame.encodeResult : size));
    return fake_lame.encodeResult;
}

int lame_encode_buffer(Flags *f, const short *left, const short *right, int samples,
                       unsigned char *buffer, int size)
{
    (void)f;
    (void)left;
    (void)right;
    (void)samples;
    return encoded(buffer, size);
}

int lame_encode_buffer_interleaved(Flags *f, short *pcm, int samples, unsigned char *buffer,
                                   int size)
{
    (void)f;
    (void)pcm;
    (void)samples;
    return encoded(buffer, size);
}

int lame_encode_buffer_long2(Flags *f, const long *left, const long *right, int samples,
                             unsigned char *buffer, int size)
{
    (void)f;
    (void)left;
    (void)right;
    (void)samples;
    return encoded(buffer, size);
}

int lame_encode_flush(Flags *f, unsigned char *buffer, int size)
{
    (void)f;
    (void)buffer;
    (void)size;
    return fake_lame.flushResult;
}

void lame_mp3_tags_fid(Flags *f, FILE *file)
{
    (void)f;
    (void)file;
}

void lame_print_config(const Flags *f)
{
    (void)f;
}

void lame_print_internals(const Flags *f)
{
    (void)f;
}

typedef void (*Report)(const char *format, va_list ap);

int lame_set_errorf(Flags *f, Report report)
{
    (void)f;
    (void)report;
    return 0;
}

int lame_set_debugf(Flags *f, Report report)
{
    (void)f;
    (void)report;
    return 0;
}

#ifndef FAKE_LAME_INCOMPLETE
int lame_set_msgf(Flags *f, Report report)
{
    (void)f;
    (void)report;
    return 0;
}
#endif

int lame_get_out_samplerate(const Flags *f)
{
    (void)f;
    return fake_lame.outSamplerate;
}

int lame_get_brate(const Flags *f)
{
    (void)f;
    return fake_lame.brate;
}

int lame_get_force_ms(const Flags *f)
{
    (void)f;
    return fake_lame.forceMs;
}

int lame_get_mode(const Flags *f)
{
    (void)f;
    return fake_lame.mode;
}

int lame_get_version(const Flags *f)
{
    (void)f;
    return fake_lame.version;
}

float lame_get_compression_ratio(const Flags *f)
{
    (void)f;
    return fake_lame.compressionRatio;
}

int lame_get_quality(const Flags *f)
{
    (void)f;
    return fake_lame.quality;
}
