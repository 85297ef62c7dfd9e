#include "lamelibrary.h"

#include <cstdio>

LameLibrary::LameLibrary(const QStringList &fileNames) : m_fileNames(fileNames) {}

static QStringList platformFileNames()
{
#ifdef Q_OS_WIN
    return {"libmp3lame-0.dll", "libmp3lame.dll"};
#else
    return {"libmp3lame.so.0", "libmp3lame.so"};
#endif
}

LameLibrary &LameLibrary::instance()
{
    static LameLibrary library(platformFileNames());
    return library;
}

// Two recorders may start at the same moment, each on its own thread.
const LameApi *LameLibrary::bind()
{
    const QMutexLocker locker(&m_mutex);
    if (m_state == State::Bound)
        return &m_api;
    if (m_state == State::Broken) {
        printf("Failed to load Lame MP3 Encoder");
        return nullptr;
    }
    if (!load()) {
        printf("Unable to find the Lame MP3 Encoder");
        return nullptr;
    }
    if (!resolveAll()) {
        m_state = State::Broken;
        printf("Failed to load Lame MP3 Encoder");
        return nullptr;
    }
    m_state = State::Bound;
    printf("MP3 Encoder Lame Version %s\n", m_api.get_lame_version());
    return &m_api;
}

bool LameLibrary::load()
{
    for (const QString &fileName : m_fileNames) {
        m_library.setFileName(fileName);
        if (m_library.load())
            return true;
    }
    return false;
}

template <class Function> static bool resolve(QLibrary &library, const char *name, Function &entry)
{
    entry = reinterpret_cast<Function>(library.resolve(name));
    return entry != nullptr;
}

// Stops at the first missing entry point.
bool LameLibrary::resolveAll()
{
#define LAME_RESOLVE_ENTRY(name) resolve(m_library, #name, m_api.name) &&
    return LAME_ENTRY_POINTS(LAME_RESOLVE_ENTRY) true;
#undef LAME_RESOLVE_ENTRY
}
