#ifndef LAMELIBRARY_H
#define LAMELIBRARY_H

#include <lame/lame.h>

#include <QLibrary>
#include <QMutex>
#include <QStringList>

// The LAME entry points a library must have to be used, in the order they are looked up; the
// encoder calls only some of them. The library is loaded at run time, so the header only lends
// the types: nothing links against it.
#define LAME_ENTRY_POINTS(X)                                                                       \
    X(get_lame_version)                                                                            \
    X(lame_init)                                                                                   \
    X(lame_close)                                                                                  \
    X(lame_set_in_samplerate)                                                                      \
    X(lame_get_num_channels)                                                                       \
    X(lame_set_num_channels)                                                                       \
    X(id3tag_init)                                                                                 \
    X(id3tag_set_title)                                                                            \
    X(id3tag_set_artist)                                                                           \
    X(id3tag_set_album)                                                                            \
    X(lame_init_params)                                                                            \
    X(lame_encode_buffer)                                                                          \
    X(lame_encode_buffer_interleaved)                                                              \
    X(lame_encode_buffer_long2)                                                                    \
    X(lame_encode_flush)                                                                           \
    X(lame_mp3_tags_fid)                                                                           \
    X(lame_print_config)                                                                           \
    X(lame_print_internals)                                                                        \
    X(lame_set_errorf)                                                                             \
    X(lame_set_debugf)                                                                             \
    X(lame_set_msgf)                                                                               \
    X(lame_get_out_samplerate)                                                                     \
    X(lame_get_brate)                                                                              \
    X(lame_get_force_ms)                                                                           \
    X(lame_get_mode)                                                                               \
    X(lame_get_version)                                                                            \
    X(lame_get_compression_ratio)                                                                  \
    X(lame_get_quality)

struct LameApi {
#define LAME_DECLARE_ENTRY(name) decltype(&::name) name = nullptr;
    LAME_ENTRY_POINTS(LAME_DECLARE_ENTRY)
#undef LAME_DECLARE_ENTRY
};

// The LAME library, found by file name the first time a recording needs it. A library that
// lacks one of the entry points is never used; one that was not found is searched for again.
class LameLibrary
{
public:
    explicit LameLibrary(const QStringList &fileNames);
    LameLibrary(const LameLibrary &) = delete;
    LameLibrary &operator=(const LameLibrary &) = delete;

    // The process's library, under the platform's file names.
    static LameLibrary &instance();

    // The entry points, bound once for all threads; null after printing why there are none.
    const LameApi *bind();

private:
    enum class State { Unbound, Bound, Broken };

    bool load();
    bool resolveAll();

    const QStringList m_fileNames;
    QMutex m_mutex;
    State m_state = State::Unbound;
    QLibrary m_library;
    LameApi m_api;
};

#endif
