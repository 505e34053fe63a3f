#include "engine_test_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace enginetest {

namespace {

constexpr DWORD kPollMs = 10;
constexpr double kPi = 3.14159265358979323846;

std::string Url(const char* env, const std::string& path) {
    const char* port = getenv(env);
    return std::string("http://127.0.0.1:") + (port ? port : "1") + path;
}

void Record(SyncLog* log, const char* text) {
    std::lock_guard<std::mutex> lock(log->mutex);
    log->texts.push_back(text ? text : "");
    ++log->count;
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, DWORD limit) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > limit) return false;
        Sleep(kPollMs);
    }
    return true;
}

std::string RadioUrl(const std::string& path) { return Url("ORVANTIS_RADIO_PORT", path); }
std::string IcecastUrl(const std::string& path) { return Url("ORVANTIS_ICECAST_PORT", path); }
bool HaveIcecast() { return getenv("ORVANTIS_ICECAST_PORT") != nullptr; }

std::string UnixPathFromEnv(const char* name) {
    const char* p = getenv(name);
    if (!p || !*p) return "";
    std::string path = std::string("Z:") + p;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

bool RadioSaw(const std::string& needle) {
    std::ifstream log(UnixPathFromEnv("ORVANTIS_RADIO_LOG"));
    std::stringstream text;
    text << log.rdbuf();
    return text.str().find(needle) != std::string::npos;
}

std::vector<std::string> TagStrings(const char* list) {
    std::vector<std::string> out;
    for (const char* p = list; p && *p; p += strlen(p) + 1) out.emplace_back(p);
    return out;
}

bool TagListHas(const char* list, const std::string& text) {
    for (const auto& s : TagStrings(list)) {
        if (s.find(text) != std::string::npos) return true;
    }
    return false;
}

std::string SyncLog::Last() {
    std::lock_guard<std::mutex> lock(mutex);
    return texts.empty() ? "" : texts.back();
}

void CALLBACK RecordMeta(HSYNC, DWORD channel, DWORD, void* user) {
    Record(static_cast<SyncLog*>(user), BASS_ChannelGetTags(channel, BASS_TAG_META));
}

void CALLBACK RecordOgg(HSYNC, DWORD channel, DWORD, void* user) {
    std::string joined;
    for (const auto& s : TagStrings(BASS_ChannelGetTags(channel, BASS_TAG_OGG))) joined += s + "\n";
    Record(static_cast<SyncLog*>(user), joined.c_str());
}

void CALLBACK CountSync(HSYNC, DWORD, DWORD, void* user) {
    ++*static_cast<std::atomic<int>*>(user);
}

SilentEngine::SilentEngine(DWORD playlists) {
    ok_ = BASS_Init(0, 44100, 0, nullptr, nullptr) != FALSE;
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, playlists);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
}

SilentEngine::~SilentEngine() {
    if (ok_) BASS_Free();
}

double DominantFrequency(const std::vector<float>& mono, int rate, double lo, double hi) {
    double best = 0, best_power = -1;
    const double n = static_cast<double>(mono.size());
    for (double f = lo; f <= hi; f += 1.0) {
        // Goertzel at f.
        const double w = 2.0 * kPi * f / rate;
        const double coeff = 2.0 * cos(w);
        double s1 = 0, s2 = 0;
        for (float x : mono) {
            double s0 = x + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        double power = (s1 * s1 + s2 * s2 - coeff * s1 * s2) / n;
        if (power > best_power) {
            best_power = power;
            best = f;
        }
    }
    return best;
}

}  // namespace enginetest
