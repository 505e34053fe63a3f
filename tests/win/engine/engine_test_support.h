// Shared pieces of the engine tests: where the test servers are, polling
// waits, and a small recorder for the engine's callbacks.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/include/bass.h"

namespace enginetest {

// Longest any condition of these tests may take to come true; far beyond what
// a working engine needs, it only keeps a broken one from hanging the run.
constexpr DWORD kPatienceMs = 30000;

// Polls `done` until it is true or kPatienceMs (or `limit`) ran out.
bool WaitFor(const std::function<bool()>& done, DWORD limit = kPatienceMs);

// "http://127.0.0.1:<port><path>" for the radio server or Icecast; the ports
// come from the environment the test runner set up.
std::string RadioUrl(const std::string& path);
std::string IcecastUrl(const std::string& path);
bool HaveIcecast();
// The HLS server's (with_servers.sh --hls).
std::string HlsUrl(const std::string& path);
bool HaveHls();
// "https://localhost:<port><path>" for one of the TLS front's servers, named
// as tools/radio/tls_radio.py names them, in capitals: "GOOD", "EXPIRED", ...
std::string TlsUrl(const char* certificate, const std::string& path);
bool HaveTls();
// While it lives, lookups of names under .stuck.test wait as for a DNS server
// that never answers (the runner's --stuck-names, which logs each wait as
// "EVENT resolving <name>"); when it goes, they fail.
class StuckResolver {
public:
    StuckResolver();
    ~StuckResolver();
    StuckResolver(const StuckResolver&) = delete;
    StuckResolver& operator=(const StuckResolver&) = delete;
    bool ok() const { return ok_; }

private:
    std::string path_;
    bool ok_ = false;
};
// "http://<label>.stuck.test:<port><path>" for the radio server.
std::string StuckUrl(const std::string& label, const std::string& path);
// The text percent-encoded for a query value.
std::string QueryValue(const std::string& text);
// Adds the DER certificate in the file to the Root store of this prefix, or
// with trust false takes it out again. False when that failed.
bool TrustRoot(const std::string& der_path, bool trust);
// A Windows path from an environment variable holding a Unix path.
std::string UnixPathFromEnv(const char* name);
// True once the radio server logged a request whose line contains `needle`.
bool RadioSaw(const std::string& needle);
// The logged request head (or event) that contains `needle`; "" if none.
std::string RadioRequest(const std::string& needle);
// How many logged requests (or events) contain `needle`.
int RadioCount(const std::string& needle);

// Strings of a tag list (NUL-separated, ended by an empty string).
std::vector<std::string> TagStrings(const char* list);
bool TagListHas(const char* list, const std::string& text);

// Counts sync callbacks and keeps the META/OGG tags read inside them.
struct SyncLog {
    std::mutex mutex;
    std::atomic<int> count{0};
    std::vector<std::string> texts;
    std::string Last();
};
void CALLBACK RecordMeta(HSYNC, DWORD channel, DWORD, void* user);
void CALLBACK RecordOgg(HSYNC, DWORD channel, DWORD, void* user);
void CALLBACK CountSync(HSYNC, DWORD, DWORD, void* user);

// Engine initialised on the silent device for one test, freed after it.
class SilentEngine {
public:
    explicit SilentEngine(DWORD playlists = 1);
    ~SilentEngine();
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

// Frequency of the strongest bin of what the stream plays now on a device of
// `rate` Hz (its 2048-point FFT); 0 when nothing is heard.
double PlayingFrequency(HSTREAM stream, int rate = 44100);
// Waits until the stream has played `bytes` more of its input and is heard
// playing the tone `hz` (within one FFT bin).
bool PlaysTone(HSTREAM stream, double hz, QWORD bytes);

// Dominant frequency of a mono signal between lo and hi Hz (1 Hz steps).
double DominantFrequency(const std::vector<float>& mono, int rate, double lo, double hi);

// What the captured default device played (the runner's ALSA file device),
// 16-bit interleaved.
struct Capture {
    int rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;
    // Where each opening of the device begins (frame) and its rate, when the
    // runner's sink says so.
    std::vector<std::pair<size_t, int>> segments;
    size_t frames() const { return channels ? samples.size() / channels : 0; }
    int RateAt(size_t frame) const;
    // The first segment that begins at or after `frame` (frames() if none).
    size_t SegmentFrom(size_t frame) const;
    // One channel of frames [from, from + count) as floats.
    std::vector<float> Channel(int channel, size_t from, size_t count) const;
    // Largest absolute sample of a channel over those frames.
    int Peak(int channel, size_t from, size_t count) const;
};
bool ReadCapture(Capture* out);

// Digital silence: a frame whose every channel is 0 or within this many
// 16-bit steps of it, all that the rounding in Wine's mixer leaves of
// nothing. A tone crosses zero by hundreds of steps a sample: sound never
// stays this close for even a millisecond.
constexpr int kSilentSteps = 2;
// A dropout: digital silence this long inside what should sound; the same
// bound as the whole-program checks (tools/audio/capture.py says why).
constexpr int kDropoutMs = 20;
// Longest run of frames in [from, to) whose every channel is within `steps`
// of 0; where it starts in `at` when given.
size_t LongestSilence(const Capture& c, size_t from, size_t to, int steps = kSilentSteps,
                      size_t* at = nullptr);
// Frames captured so far (0 when there is no capture yet).
size_t CapturedFrames();

}  // namespace enginetest
