// Shared-mode WASAPI on the default render endpoint, event driven. Shared
// mode takes the system mixer's format: the mixer's 16-bit stereo goes into
// its first two channels, as float or 16-bit integers.
#include <initguid.h>

#include "engine/output/backend_win.h"

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

constexpr int kWasapiPeriodMs = 10;
constexpr REFERENCE_TIME kHnsPerMs = 10000;
constexpr int kWasapiStartMs = 60;   // queued while a stream starts
constexpr int kWasapiQueueMs = 240;  // once it has played a second
constexpr int kWasapiGrowAfter = 1000 / kWasapiPeriodMs;
constexpr REFERENCE_TIME kWasapiBufferHns = (kWasapiQueueMs + 2 * kWasapiPeriodMs) * kHnsPerMs;
constexpr DWORD kWasapiStuckMs = 500;

template <typename T>
void Release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

class WasapiOutput final : public OutputBackend {
public:
    ~WasapiOutput() override { Close(); }

    bool Open(int) override {
        if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                    __uuidof(IMMDeviceEnumerator),
                                    reinterpret_cast<void**>(&enumerator_))) ||
            FAILED(enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, &endpoint_)) ||
            FAILED(endpoint_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                       reinterpret_cast<void**>(&client_))) ||
            FAILED(client_->GetMixFormat(&format_))) {
            Close();
            return false;
        }
        if (!ReadFormat()) {
            Close();
            return false;
        }
        event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        UINT32 frames = 0;
        if (!event_ ||
            FAILED(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                                       kWasapiBufferHns, 0, format_, nullptr)) ||
            FAILED(client_->SetEventHandle(event_)) || FAILED(client_->GetBufferSize(&frames)) ||
            FAILED(client_->GetService(__uuidof(IAudioRenderClient),
                                       reinterpret_cast<void**>(&render_)))) {
            Close();
            return false;
        }
        buffer_frames_ = frames;
        rate_ = static_cast<int>(format_->nSamplesPerSec);
        period_ = rate_ * kWasapiPeriodMs / 1000;
        if (static_cast<UINT32>(period_) > buffer_frames_) period_ = static_cast<int>(buffer_frames_);
        written_ = 0;
        started_ = false;
        depth_.Restart();
        return true;
    }

    int Rate() const override { return rate_; }
    int PeriodFrames() const override { return period_; }
    DWORD StuckMs() const override { return kWasapiStuckMs; }

    bool Write(const int16_t* frames, HANDLE stop) override {
        for (;;) {
            UINT32 padding = 0;
            if (FAILED(client_->GetCurrentPadding(&padding))) return false;
            const UINT32 queue = std::min<UINT32>(buffer_frames_, static_cast<UINT32>(depth_.periods() * period_));
            if (padding + static_cast<UINT32>(period_) <= queue) break;
            if (!started_) {
                // Full before it ever played: start, then wait for room.
                if (FAILED(client_->Start())) return false;
                started_ = true;
            }
            HANDLE waits[2] = {stop, event_};
            DWORD r = WaitForMultipleObjects(2, waits, FALSE, kWasapiStuckMs);
            if (r == WAIT_OBJECT_0 || r == WAIT_TIMEOUT) return false;
        }
        BYTE* out = nullptr;
        if (FAILED(render_->GetBuffer(static_cast<UINT32>(period_), &out))) return false;
        Convert(frames, out);
        if (FAILED(render_->ReleaseBuffer(static_cast<UINT32>(period_), 0))) return false;
        written_ += static_cast<uint64_t>(period_);
        depth_.Wrote();
        if (!started_) {
            if (FAILED(client_->Start())) return false;
            started_ = true;
        }
        return true;
    }

    uint64_t Played() override {
        UINT32 padding = 0;
        if (!client_ || FAILED(client_->GetCurrentPadding(&padding))) return last_played_;
        uint64_t played = written_ > padding ? written_ - padding : 0;
        if (played > last_played_) last_played_ = played;
        return last_played_;
    }

    void Flush() override {
        if (!client_) return;
        if (started_) client_->Stop();
        client_->Reset();  // drops the buffered frames: padding 0, all played
        started_ = false;
        depth_.Restart();
        last_played_ = written_;
    }

    void Close() override {
        if (client_ && started_) client_->Stop();
        started_ = false;
        Release(render_);
        Release(client_);
        Release(endpoint_);
        Release(enumerator_);
        if (format_) CoTaskMemFree(format_);
        format_ = nullptr;
        if (event_) CloseHandle(event_);
        event_ = nullptr;
    }

    const char* Name() const override { return "WASAPI"; }

private:
    // Float or 16-bit integer samples, at least two channels.
    bool ReadFormat() {
        channels_ = format_->nChannels;
        if (channels_ < 1) return false;
        bool is_float = format_->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
        bool is_pcm = format_->wFormatTag == WAVE_FORMAT_PCM;
        if (format_->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
            auto* ext = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(format_);
            // Sub-format GUIDs of the plain formats carry the format tag first.
            is_float = ext->SubFormat.Data1 == WAVE_FORMAT_IEEE_FLOAT;
            is_pcm = ext->SubFormat.Data1 == WAVE_FORMAT_PCM;
        }
        float_ = is_float && format_->wBitsPerSample == 32;
        return float_ || (is_pcm && format_->wBitsPerSample == 16);
    }

    void Convert(const int16_t* in, BYTE* out) {
        const size_t n = static_cast<size_t>(period_);
        if (float_) {
            float* f = reinterpret_cast<float*>(out);
            for (size_t i = 0; i < n; ++i, f += channels_) {
                for (int c = 0; c < channels_; ++c)
                    f[c] = c < kOutputChannels ? in[2 * i + c] * (1.0f / 32768.0f) : 0.0f;
                if (channels_ == 1) f[0] = (in[2 * i] + in[2 * i + 1]) * (0.5f / 32768.0f);
            }
        } else {
            int16_t* s = reinterpret_cast<int16_t*>(out);
            for (size_t i = 0; i < n; ++i, s += channels_) {
                for (int c = 0; c < channels_; ++c) s[c] = c < kOutputChannels ? in[2 * i + c] : 0;
                if (channels_ == 1) s[0] = static_cast<int16_t>((in[2 * i] + in[2 * i + 1]) / 2);
            }
        }
    }

    IMMDeviceEnumerator* enumerator_ = nullptr;
    IMMDevice* endpoint_ = nullptr;
    IAudioClient* client_ = nullptr;
    IAudioRenderClient* render_ = nullptr;
    WAVEFORMATEX* format_ = nullptr;
    HANDLE event_ = nullptr;
    UINT32 buffer_frames_ = 0;
    int rate_ = 0;
    int period_ = 0;
    int channels_ = 2;
    bool float_ = true;
    bool started_ = false;
    uint64_t written_ = 0;
    uint64_t last_played_ = 0;
    QueueDepth depth_{kWasapiStartMs / kWasapiPeriodMs, kWasapiQueueMs / kWasapiPeriodMs, kWasapiGrowAfter};
};

// Tells the mixer when the default render device changes.
class EndpointWatch final : public DeviceWatch, public IMMNotificationClient {
public:
    explicit EndpointWatch(HANDLE changed) : changed_(changed) {}
    ~EndpointWatch() override {
        if (enumerator_) {
            enumerator_->UnregisterEndpointNotificationCallback(this);
            enumerator_->Release();
        }
    }
    bool Register() {
        return SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                          __uuidof(IMMDeviceEnumerator),
                                          reinterpret_cast<void**>(&enumerator_))) &&
               SUCCEEDED(enumerator_->RegisterEndpointNotificationCallback(this));
    }

    // Owned by the watch, not by COM references.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (id == __uuidof(IUnknown) || id == __uuidof(IMMNotificationClient)) {
            *out = static_cast<IMMNotificationClient*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
        if (flow == eRender && role == eConsole) SetEvent(changed_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }

private:
    HANDLE changed_;
    IMMDeviceEnumerator* enumerator_ = nullptr;
};

}  // namespace

std::unique_ptr<OutputBackend> MakeWasapiOutput() { return std::make_unique<WasapiOutput>(); }

std::unique_ptr<DeviceWatch> WatchDefaultDevice(HANDLE changed) {
    auto watch = std::make_unique<EndpointWatch>(changed);
    if (!watch->Register()) return nullptr;
    return watch;
}

}  // namespace engine
