#include "engine_test_support.h"

#include <wincrypt.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace enginetest {

namespace {

constexpr DWORD kPollMs = 10;
constexpr size_t kFftBins = 1024;
constexpr float kHeardMagnitude = 0.01f;  // far above dither, far below a tone at half scale
constexpr double kFftBinHz = 44100.0 / 2048.0;
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
std::string HlsUrl(const std::string& path) { return Url("ORVANTIS_HLS_PORT", path); }
bool HaveHls() { return getenv("ORVANTIS_HLS_PORT") != nullptr; }

std::string TlsUrl(const char* certificate, const std::string& path) {
    const std::string name = std::string("ORVANTIS_TLS_") + certificate + "_PORT";
    const char* port = getenv(name.c_str());
    return std::string("https://localhost:") + (port ? port : "1") + path;
}

bool HaveTls() { return getenv("ORVANTIS_TLS_GOOD_PORT") && getenv("ORVANTIS_TEST_CA"); }

StuckResolver::StuckResolver() : path_(UnixPathFromEnv("ORVANTIS_STUCK_HOLD")) {
    ok_ = !path_.empty() && std::ofstream(path_).good();
}

StuckResolver::~StuckResolver() {
    if (ok_) DeleteFileA(path_.c_str());
}

std::string StuckUrl(const std::string& label, const std::string& path) {
    const char* port = getenv("ORVANTIS_RADIO_PORT");
    return "http://" + label + ".stuck.test:" + (port ? port : "1") + path;
}

std::string QueryValue(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool TrustRoot(const std::string& der_path, bool trust) {
    std::ifstream f(der_path, std::ios::binary);
    std::vector<char> der((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (der.empty()) return false;
    HCERTSTORE root = CertOpenSystemStoreA(0, "ROOT");
    if (!root) return false;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(der.data());
    const DWORD size = static_cast<DWORD>(der.size());
    bool ok;
    if (trust) {
        ok = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, bytes, size,
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    } else {
        PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, bytes, size);
        PCCERT_CONTEXT found = wanted ? CertFindCertificateInStore(root, X509_ASN_ENCODING, 0,
                                                                   CERT_FIND_EXISTING, wanted, nullptr)
                                      : nullptr;
        // Deleting frees the context it is given.
        ok = found && CertDeleteCertificateFromStore(found);
        if (wanted) CertFreeCertificateContext(wanted);
    }
    CertCloseStore(root, 0);
    return ok;
}

std::string UnixPathFromEnv(const char* name) {
    const char* p = getenv(name);
    if (!p || !*p) return "";
    std::string path = std::string("Z:") + p;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

bool RadioSaw(const std::string& needle) { return !RadioRequest(needle).empty(); }

std::string RadioLog() {
    std::ifstream log(UnixPathFromEnv("ORVANTIS_RADIO_LOG"));
    std::stringstream text;
    text << log.rdbuf();
    return text.str();
}

int RadioCount(const std::string& needle) {
    const std::string all = RadioLog();
    int n = 0;
    for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) ++n;
    return n;
}

std::string RadioRequest(const std::string& needle) {
    const std::string all = RadioLog();
    const size_t at = all.find(needle);
    if (at == std::string::npos) return "";
    // Entries are separated by "----" lines.
    const std::string separator = "----\n";
    size_t start = all.rfind(separator, at);
    start = start == std::string::npos ? 0 : start + separator.size();
    const size_t end = all.find(separator, at);
    return all.substr(start, end == std::string::npos ? std::string::npos : end - start);
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

double PlayingFrequency(HSTREAM stream, int rate) {
    float bins[kFftBins];
    if (BASS_ChannelGetData(stream, bins, BASS_DATA_FFT2048) == static_cast<DWORD>(-1)) return 0;
    size_t best = 1;
    for (size_t i = 1; i < kFftBins; ++i) {
        if (bins[i] > bins[best]) best = i;
    }
    if (bins[best] < kHeardMagnitude) return 0;
    return static_cast<double>(best) * rate / (2.0 * kFftBins);
}

bool PlaysTone(HSTREAM stream, double hz, QWORD bytes) {
    const QWORD from = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CURRENT);
    return WaitFor([&] {
        const QWORD at = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CURRENT);
        return at != static_cast<QWORD>(-1) && at >= from + bytes &&
               std::fabs(PlayingFrequency(stream) - hz) <= kFftBinHz;
    });
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

namespace enginetest {

namespace {

uint32_t Le32(const char* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

uint16_t Le16(const char* p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}

}  // namespace

std::vector<float> Capture::Channel(int channel, size_t from, size_t count) const {
    std::vector<float> out;
    for (size_t i = from; i < from + count && i < frames(); ++i)
        out.push_back(samples[i * channels + channel] / 32768.0f);
    return out;
}

int Capture::RateAt(size_t frame) const {
    int r = rate;
    for (const auto& s : segments) {
        if (s.first <= frame) r = s.second;
    }
    return r;
}

size_t Capture::SegmentFrom(size_t frame) const {
    for (const auto& s : segments) {
        if (s.first >= frame) return s.first;
    }
    return frames();
}

int Capture::Peak(int channel, size_t from, size_t count) const {
    int peak = 0;
    for (size_t i = from; i < from + count && i < frames(); ++i)
        peak = std::max(peak, std::abs(static_cast<int>(samples[i * channels + channel])));
    return peak;
}

bool ReadCapture(Capture* out) {
    const std::string path = UnixPathFromEnv("ORVANTIS_CAPTURE");
    std::ifstream segments(path + ".segments");
    size_t first = 0;
    int rate = 0, channels = 0;
    while (segments >> first >> rate >> channels) out->segments.emplace_back(first, rate);
    std::ifstream f(path, std::ios::binary);
    std::vector<char> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (d.size() < 12 || memcmp(d.data(), "RIFF", 4) != 0) return false;
    size_t at = 12;
    int bits = 0;
    while (at + 8 <= d.size()) {
        const uint32_t size = Le32(&d[at + 4]);
        if (memcmp(&d[at], "fmt ", 4) == 0 && at + 24 <= d.size()) {
            out->channels = Le16(&d[at + 10]);
            out->rate = static_cast<int>(Le32(&d[at + 12]));
            bits = Le16(&d[at + 22]);
        } else if (memcmp(&d[at], "data", 4) == 0) {
            // The size field is only final after a clean close: read to the end.
            const size_t n = (d.size() - at - 8) / 2;
            out->samples.resize(n);
            memcpy(out->samples.data(), &d[at + 8], n * 2);
            return bits == 16 && out->channels > 0 && out->rate > 0;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

size_t LongestSilence(const Capture& c, size_t from, size_t to, int steps, size_t* at) {
    size_t longest = 0, run = 0;
    for (size_t i = from; i < to && i < c.frames(); ++i) {
        bool silent = true;
        for (int ch = 0; ch < c.channels && silent; ++ch)
            silent = std::abs(static_cast<int>(c.samples[i * c.channels + ch])) <= steps;
        run = silent ? run + 1 : 0;
        if (run > longest) {
            longest = run;
            if (at) *at = i + 1 - run;
        }
    }
    return longest;
}

size_t CapturedFrames() {
    Capture c;
    return ReadCapture(&c) ? c.frames() : 0;
}

}  // namespace enginetest
