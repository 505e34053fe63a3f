#include "engine/engine.h"

#include <atomic>
#include <new>
#include <vector>

#include "engine/codec/aac_mf_win.h"
#include "engine/net/tls_win.h"

namespace engine {

namespace {

constexpr int kDefaultRate = 44100;
constexpr DWORD kMinRate = 8000;
constexpr DWORD kMaxRate = 192000;
constexpr DWORD kMaxPrebufferPercent = 100;
constexpr int kWarmRate = 44100;  // the common radio format
constexpr int kWarmChannels = 2;
constexpr int kWarmKbps = 128;

thread_local int t_error = BASS_OK;

std::shared_ptr<void> NewCancelEvent() {
    HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!h) return nullptr;
    return std::shared_ptr<void>(h, [](void* p) { CloseHandle(p); });
}

}  // namespace

void SetError(int code) { t_error = code; }
int LastError() { return t_error; }

Engine& Engine::Get() {
    // Lives as long as the process: tearing down threads while the DLL is
    // being unloaded would wait under the loader lock. BASS_Free is the end.
    static Engine* engine = new Engine();
    return *engine;
}

int Engine::Init(int device, DWORD freq) {
    if (device < -1 || device > 1) return BASS_ERROR_DEVICE;
    if (freq == 0) freq = kDefaultRate;
    if (freq < kMinRate || freq > kMaxRate) return BASS_ERROR_ILLPARAM;
    std::lock_guard<std::mutex> lock(mutex_);
    if (initialised_) return BASS_ERROR_ALREADY;
    auto cancel = NewCancelEvent();
    if (!cancel) return BASS_ERROR_MEM;
    int error = 0;
    auto d = Device::Open(device, static_cast<int>(freq), &error);
    if (!d) return error;
    device_ = std::move(d);
    cancel_ = std::move(cancel);
    initialised_ = true;
    // Loading the codec takes a while the first time; a failure shows later.
    codec_warm_.Open(kWarmRate, kWarmChannels, kWarmKbps);
    static std::atomic<bool> warmed{false};  // once per process
    if (!warmed.exchange(true)) {
        trust_warm_.Start(WarmUpTrust);
        aac_warm_.Start(WarmUpAacDecoder);
    }
    return 0;
}

int Engine::Free() {
    std::vector<std::shared_ptr<Stream>> streams;
    std::shared_ptr<Device> device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!initialised_) return BASS_ERROR_INIT;
        initialised_ = false;
        SetEvent(cancel_.get());
        cancel_.reset();
        for (auto& entry : streams_) streams.push_back(std::move(entry.second));
        streams_.clear();
        device = std::move(device_);
        codec_warm_.Close();
        trust_warm_.Join();  // usually done long before
        aac_warm_.Join();
    }
    for (auto& s : streams) {
        device->Detach(s.get());
        s->Shutdown();
    }
    device->Stop();
    return 0;
}

int Engine::SetConfig(DWORD option, DWORD value) {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (option) {
    case BASS_CONFIG_NET_PLAYLIST:
        if (value > 2) return BASS_ERROR_ILLPARAM;
        playlist_ = value;
        return 0;
    case BASS_CONFIG_NET_PREBUF:
        if (value > kMaxPrebufferPercent) return BASS_ERROR_ILLPARAM;
        prebuffer_ = value;
        return 0;
    default:
        return BASS_ERROR_ILLTYPE;
    }
}

HSTREAM Engine::CreateUrlStream(const char* url, DWORD flags, DOWNLOADPROC* proc, void* user,
                                int* error) {
    StreamOptions options;
    std::shared_ptr<void> cancel;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!initialised_) {
            *error = BASS_ERROR_INIT;
            return 0;
        }
        cancel = cancel_;
        options.follow_playlists = playlist_ != 0;
        options.prebuffer_percent = prebuffer_;
    }
    if (!url || !*url) {
        *error = BASS_ERROR_ILLPARAM;
        return 0;
    }
    options.flags = flags;
    options.proc = proc;
    options.user = user;
    options.cancel = cancel;

    std::shared_ptr<Stream> stream;
    try {
        stream = std::make_shared<Stream>(options);
    } catch (const std::bad_alloc&) {
        *error = BASS_ERROR_MEM;
        return 0;
    }
    int r = stream->Connect(url);
    if (r == 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        // Freed (and perhaps initialised again) while this one connected.
        if (!initialised_ || cancel_ != cancel) r = kHttpCancelled;
        if (r == 0) {
            HSTREAM handle = ++next_handle_;
            stream->set_handle(handle);
            streams_[handle] = stream;
            return handle;
        }
    }
    stream->Shutdown();
    *error = r == kHttpCancelled ? BASS_ERROR_INIT : r;
    return 0;
}

std::shared_ptr<Stream> Engine::Find(DWORD handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = streams_.find(handle);
    return it == streams_.end() ? nullptr : it->second;
}

std::shared_ptr<Device> Engine::device() {
    std::lock_guard<std::mutex> lock(mutex_);
    return device_;
}

int Engine::FreeStream(DWORD handle) {
    std::shared_ptr<Stream> stream;
    std::shared_ptr<Device> device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = streams_.find(handle);
        if (it == streams_.end()) return BASS_ERROR_HANDLE;
        stream = std::move(it->second);
        streams_.erase(it);
        device = device_;
    }
    if (device) device->Detach(stream.get());
    stream->Shutdown();
    return 0;
}

int Engine::Play(DWORD handle) {
    // Under the lock, so a stream being freed is never attached again.
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = streams_.find(handle);
    if (it == streams_.end()) return BASS_ERROR_HANDLE;
    if (!device_) return BASS_ERROR_INIT;
    it->second->set_playing();
    return device_->Attach(it->second) ? 0 : BASS_ERROR_START;
}

}  // namespace engine
