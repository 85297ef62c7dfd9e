/* What the fake LAME library answers, set by the tests through its exported fake_lame. */
#ifndef FAKELAME_H
#define FAKELAME_H

struct FakeLame {
    int initFails;
    int initParamsResult;
    int encodeResult; /* bytes (a pattern) or an error code */
    int flushResult;
    int outSamplerate;
    int brate;
    int forceMs;
    int mode;
    int version;
    int quality;
    float compressionRatio;
    int versionCalls;
};

#endif
