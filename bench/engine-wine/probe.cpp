// The engine's side of the Wine benchmarks, used the way the player uses it.
//   probe first URL SECONDS DEVICE [settled]  says "start", creates and plays for
//                                   that long; settled: a second after BASS_Init
//   probe play URL SECONDS DEVICE   plays for that long (for CPU measurements)
//   probe open URL COUNT DEVICE [URL2]  creates and frees COUNT times (alternating
//                                   with URL2 when given), each create's time on a line
//   probe settled URL COUNT DEVICE  the same, the first create a second after
//                                   BASS_Init, as in the player, where a station
//                                   is picked some time after start-up
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/include/bass.h"

namespace {

constexpr DWORD kPlayerFlags = BASS_STREAM_STATUS | BASS_STREAM_BLOCK | BASS_STREAM_AUTOFREE;
constexpr DWORD kBufferPollMs = 50;  // the player's buffering loop
constexpr DWORD kLevelPollMs = 1;
constexpr DWORD kGiveUpMs = 20000;

double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// Creates and buffers like the player; 0 on failure.
HSTREAM OpenAndBuffer(const char* url) {
    HSTREAM h = BASS_StreamCreateURL(url, 0, kPlayerFlags, nullptr, nullptr);
    if (!h) return 0;
    for (DWORD waited = 0; waited < kGiveUpMs; waited += kBufferPollMs) {
        QWORD end = BASS_StreamGetFilePosition(h, BASS_FILEPOS_END);
        if (end == static_cast<QWORD>(-1)) return 0;
        QWORD have = BASS_StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD) -
                     BASS_StreamGetFilePosition(h, BASS_FILEPOS_CURRENT);
        if (end > 0 && have * 100 / end > 99) return h;
        Sleep(kBufferPollMs);
    }
    return 0;
}

// Says "start" just before the create, so the caller can time the first
// sound it hears from there; then plays for `seconds` so it is heard.
int First(const char* url, DWORD seconds) {
    printf("start\n");
    fflush(stdout);
    const double start = Now();
    HSTREAM h = OpenAndBuffer(url);
    if (!h) return 1;
    const double buffered = Now();
    BASS_ChannelPlay(h, FALSE);
    const double playing = Now();
    double level_at = -1;
    while (Now() - playing < seconds * 1000.0) {
        DWORD level = BASS_ChannelGetLevel(h);
        if (level_at < 0 && level != static_cast<DWORD>(-1) && LOWORD(level) > 0)
            level_at = Now() - start;
        Sleep(kLevelPollMs);
    }
    printf("buffered_ms %.1f play_ms %.1f level_ms %.1f\n", buffered - start, playing - start,
           level_at);
    fflush(stdout);
    BASS_StreamFree(h);
    return 0;
}

int Play(const char* url, DWORD seconds) {
    HSTREAM h = OpenAndBuffer(url);
    if (!h) return 1;
    BASS_ChannelPlay(h, FALSE);
    Sleep(seconds * 1000);
    printf("played_s %lu level 0x%08lx\n", seconds, BASS_ChannelGetLevel(h));
    BASS_StreamFree(h);
    return 0;
}

// Times of the create alone (the engine's own prebuffering off): connect,
// TLS, the head and the first audio.
int Open(const char* url, DWORD count, const char* other) {
    const char* const urls[] = {url, other};
    for (DWORD i = 0; i < count; ++i) {
        for (const char* u : urls) {
            if (!u) continue;
            const double start = Now();
            HSTREAM h = BASS_StreamCreateURL(u, 0, kPlayerFlags, nullptr, nullptr);
            const double took = Now() - start;
            if (!h) return 1;
            printf("open %s %.2f\n", u, took);
            BASS_StreamFree(h);
        }
    }
    fflush(stdout);
    return 0;
}

constexpr DWORD kSettleMs = 1000;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: probe first|play|open URL SECONDS|COUNT [DEVICE [URL2]]\n");
        return 2;
    }
    const bool first = strcmp(argv[1], "first") == 0;
    const int device = atoi(argc > 4 ? argv[4] : "-1");
    if (!BASS_Init(device, 44100, 0, nullptr, nullptr)) {
        fprintf(stderr, "probe: BASS_Init(%d) failed: %d\n", device, BASS_ErrorGetCode());
        return 1;
    }
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    const DWORD seconds = static_cast<DWORD>(atoi(argv[3]));
    int rc;
    if (strcmp(argv[1], "settled") == 0) {
        Sleep(kSettleMs);
        rc = Open(argv[2], seconds, nullptr);
    } else if (strcmp(argv[1], "open") == 0)
        rc = Open(argv[2], seconds, argc > 5 ? argv[5] : nullptr);
    else {
        if (first && argc > 5 && strcmp(argv[5], "settled") == 0) Sleep(kSettleMs);
        rc = first ? First(argv[2], seconds) : Play(argv[2], seconds);
    }
    if (rc) fprintf(stderr, "probe: stream failed: %d\n", BASS_ErrorGetCode());
    BASS_Free();
    return rc;
}
