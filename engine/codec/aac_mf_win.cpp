#include "engine/codec/aac_mf_win.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/include/bass.h"

namespace engine {

namespace {

// The system's AAC decoder transform (CLSID_CMSAACDecMFT).
const CLSID kAacDecoderClsid = {0x32d186a7, 0x218f, 0x4c75, {0x88, 0x76, 0xdd, 0x77, 0x27, 0x3a, 0x89, 0x99}};

constexpr int64_t kTicksPerSecond = 10000000;  // Media Foundation's 100 ns units
// Output buffer when the decoder leaves it to us: two frames of eight
// channels in float, beyond any HE-AAC frame.
constexpr DWORD kOutputBytes = 2 * 2 * kAacFrameSamples * 8 * sizeof(float);
// A gap in the output times longer than this is not a lost frame but a
// decoder that counts its own way: it is not filled.
constexpr int64_t kMaxConcealTicks = kTicksPerSecond;
constexpr int kMaxOutputsPerFrame = 16;
constexpr float kPcm16Scale = 1.0f / 32768.0f;
// The warm-up's format: the common radio one, 44.1 kHz stereo.
constexpr int kWarmRateIndex = 4;
constexpr int kWarmRate = 44100;
constexpr int kWarmChannels = 2;  // also its ADTS channel configuration

template <class T>
void Release(T** p) {
    if (*p) {
        (*p)->Release();
        *p = nullptr;
    }
}

}  // namespace

// mfplat is loaded when the first AAC stream needs it: Windows editions
// without the media features have none, and everything else must still play.
struct MfApi {
    HRESULT(WINAPI* Startup)(ULONG, DWORD) = nullptr;
    HRESULT(WINAPI* Shutdown)() = nullptr;
    HRESULT(WINAPI* CreateMediaType)(IMFMediaType**) = nullptr;
    HRESULT(WINAPI* CreateSample)(IMFSample**) = nullptr;
    HRESULT(WINAPI* CreateMemoryBuffer)(DWORD, IMFMediaBuffer**) = nullptr;
};

template <class F>
bool Bind(HMODULE module, const char* name, F* out) {
    *out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *out != nullptr;
}

// Started by the first decoder that needs it and kept until the process
// ends. Shutting it down with the last decoder raced with the next open: a
// station change or the start-up warm-up could start Media Foundation on one
// thread while another was still shutting it down, and the open then never
// returned. Keeping it also spares every later AAC station the load.
class MfSession {
public:
    // Null while the system has no Media Foundation; each call tries again.
    static const MfSession* Get() {
        // Plain data, set up before any code runs: no first-use guard that
        // two threads could meet in.
        static SRWLOCK lock = SRWLOCK_INIT;
        static MfSession* running = nullptr;
        AcquireSRWLockExclusive(&lock);
        if (!running) {
            auto* s = new (std::nothrow) MfSession;
            if (s && s->Start()) {
                running = s;  // lives as long as the process
            } else {
                delete s;
            }
        }
        MfSession* result = running;
        ReleaseSRWLockExclusive(&lock);
        return result;
    }

    MfSession() = default;
    // Only a session that failed to start is destroyed.
    ~MfSession() {
        if (started_) api_.Shutdown();
        if (thread_) {
            SetEvent(leave_);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
        for (HANDLE h : {ready_, leave_}) {
            if (h) CloseHandle(h);
        }
        if (module_) FreeLibrary(module_);
    }
    MfSession(const MfSession&) = delete;
    MfSession& operator=(const MfSession&) = delete;
    const MfApi& api() const { return api_; }

private:
    bool Start() {
        module_ = LoadLibraryA("mfplat.dll");
        if (!module_ || !Bind(module_, "MFStartup", &api_.Startup) ||
            !Bind(module_, "MFShutdown", &api_.Shutdown) ||
            !Bind(module_, "MFCreateMediaType", &api_.CreateMediaType) ||
            !Bind(module_, "MFCreateSample", &api_.CreateSample) ||
            !Bind(module_, "MFCreateMemoryBuffer", &api_.CreateMemoryBuffer))
            return false;
        ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        leave_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!ready_ || !leave_) return false;
        thread_ = CreateThread(nullptr, 0, Keeper, this, 0, nullptr);
        if (!thread_) return false;
        WaitForSingleObject(ready_, INFINITE);
        started_ = SUCCEEDED(api_.Startup(MF_VERSION, MFSTARTUP_LITE));
        return started_;
    }

    // Stays in the multithreaded apartment, so COM keeps the decoder's
    // library loaded while threads that never joined COM use it.
    static DWORD WINAPI Keeper(void* param) {
        auto* self = static_cast<MfSession*>(param);
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        SetEvent(self->ready_);
        WaitForSingleObject(self->leave_, INFINITE);
        if (SUCCEEDED(hr)) CoUninitialize();
        return 0;
    }

    HMODULE module_ = nullptr;
    MfApi api_;
    HANDLE thread_ = nullptr;
    HANDLE ready_ = nullptr;
    HANDLE leave_ = nullptr;
    bool started_ = false;
};

// ---- the transform ---------------------------------------------------------

AacTransform::AacTransform() = default;

AacTransform::~AacTransform() { Close(); }

void AacTransform::Close() {
    if (transform_) {
        transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
        Release(&transform_);
    }
    session_ = nullptr;
}

bool AacTransform::Open(const AacSetup& setup) {
    Close();
    session_ = MfSession::Get();
    if (!session_) return false;
    // A thread of the caller's that has COM in another mode keeps it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HRESULT hr = CoCreateInstance(kAacDecoderClsid, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IMFTransform, reinterpret_cast<void**>(&transform_));
    if (SUCCEEDED(com)) CoUninitialize();
    if (FAILED(hr) || !transform_) {
        transform_ = nullptr;
        Close();
        return false;
    }

    IMFMediaType* in = nullptr;
    const std::vector<uint8_t> user = aac_decoder_user_data(setup);
    hr = session_->api().CreateMediaType(&in);
    if (SUCCEEDED(hr)) hr = in->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = in->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_AAC);
    if (SUCCEEDED(hr)) hr = in->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, static_cast<UINT32>(setup.output_rate));
    if (SUCCEEDED(hr)) hr = in->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, static_cast<UINT32>(setup.output_channels));
    if (SUCCEEDED(hr)) hr = in->SetUINT32(MF_MT_AAC_PAYLOAD_TYPE, 1);
    if (SUCCEEDED(hr)) hr = in->SetUINT32(MF_MT_AAC_AUDIO_PROFILE_LEVEL_INDICATION, setup.profile_level);
    if (SUCCEEDED(hr)) hr = in->SetBlob(MF_MT_USER_DATA, user.data(), static_cast<UINT32>(user.size()));
    if (SUCCEEDED(hr)) hr = transform_->SetInputType(0, in, 0);
    Release(&in);
    if (FAILED(hr) || !ChooseOutput()) {
        Close();
        return false;
    }
    transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
    transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
    frame_time_ = static_cast<int64_t>(kAacFrameSamples) * kTicksPerSecond /
                  std::max(1, setup.output_rate / (setup.sbr == AacSbr::Explicit ? 2 : 1));
    next_time_ = 0;
    out_until_ = -1;
    return true;
}

bool AacTransform::ChooseOutput() {
    // Float if the decoder offers it, else 16-bit PCM.
    IMFMediaType* chosen = nullptr;
    bool chosen_float = false;
    for (DWORD i = 0;; ++i) {
        IMFMediaType* t = nullptr;
        if (FAILED(transform_->GetOutputAvailableType(0, i, &t))) break;
        GUID subtype;
        if (SUCCEEDED(t->GetGUID(MF_MT_SUBTYPE, &subtype))) {
            const bool is_float = subtype == MFAudioFormat_Float;
            UINT32 bits = 0;
            t->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits);
            const bool is_pcm16 = subtype == MFAudioFormat_PCM && bits == 16;
            if ((is_float && !chosen_float) || (is_pcm16 && !chosen)) {
                Release(&chosen);
                chosen = t;
                chosen_float = is_float;
                t = nullptr;
            }
        }
        Release(&t);
    }
    if (!chosen) return false;
    UINT32 rate = 0, channels = 0;
    chosen->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate);
    chosen->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels);
    const HRESULT hr = transform_->SetOutputType(0, chosen, 0);
    Release(&chosen);
    if (FAILED(hr) || rate == 0 || channels == 0 || channels > 8) return false;
    rate_ = static_cast<int>(rate);
    channels_ = static_cast<int>(channels);
    float_out_ = chosen_float;
    MFT_OUTPUT_STREAM_INFO info = {};
    if (FAILED(transform_->GetOutputStreamInfo(0, &info))) return false;
    provides_samples_ = (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES |
                                         MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) != 0;
    out_buffer_bytes_ = std::max<DWORD>(info.cbSize, kOutputBytes);
    return true;
}

bool AacTransform::Decode(const uint8_t* frame, size_t size, std::vector<float>* pcm) {
    if (!transform_) return false;
    IMFMediaBuffer* buffer = nullptr;
    IMFSample* sample = nullptr;
    HRESULT hr = session_->api().CreateMemoryBuffer(static_cast<DWORD>(size), &buffer);
    BYTE* p = nullptr;
    if (SUCCEEDED(hr)) hr = buffer->Lock(&p, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        memcpy(p, frame, size);
        buffer->Unlock();
        hr = buffer->SetCurrentLength(static_cast<DWORD>(size));
    }
    if (SUCCEEDED(hr)) hr = session_->api().CreateSample(&sample);
    if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer);
    if (SUCCEEDED(hr)) hr = sample->SetSampleTime(next_time_);
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(frame_time_);
    next_time_ += frame_time_;
    if (SUCCEEDED(hr)) {
        hr = transform_->ProcessInput(0, sample, 0);
        if (hr == MF_E_NOTACCEPTING) {
            // Full: take what it has, then it takes the frame.
            if (!Collect(pcm)) hr = E_FAIL;
            else hr = transform_->ProcessInput(0, sample, 0);
        }
    }
    Release(&sample);
    Release(&buffer);
    if (FAILED(hr)) {
        // A frame it cannot take leaves the decoder as it was; its time is
        // filled when the next output comes.
        return false;
    }
    return Collect(pcm);
}

void AacTransform::Drain(std::vector<float>* pcm) {
    if (!transform_) return;
    transform_->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0);
    Collect(pcm);
}

bool AacTransform::Collect(std::vector<float>* pcm) {
    for (int round = 0; round < kMaxOutputsPerFrame; ++round) {
        MFT_OUTPUT_DATA_BUFFER out = {};
        IMFSample* own = nullptr;
        IMFMediaBuffer* own_buffer = nullptr;
        if (!provides_samples_) {
            const MfApi& mf = session_->api();
            if (FAILED(mf.CreateSample(&own)) || FAILED(mf.CreateMemoryBuffer(out_buffer_bytes_, &own_buffer)) ||
                FAILED(own->AddBuffer(own_buffer))) {
                Release(&own_buffer);
                Release(&own);
                return false;
            }
            out.pSample = own;
        }
        DWORD status = 0;
        const HRESULT hr = transform_->ProcessOutput(0, 1, &out, &status);
        Release(&own_buffer);
        if (out.pEvents) out.pEvents->Release();
        if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) {
            Release(&own);
            return true;
        }
        if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
            // The decoder found out more about the stream (SBR, PS): its new
            // output format.
            Release(&own);
            if (!ChooseOutput()) return false;
            continue;
        }
        if (FAILED(hr) || !out.pSample) {
            Release(&own);
            return false;
        }
        IMFSample* got = out.pSample;
        LONGLONG time = 0, duration = 0;
        const bool timed = SUCCEEDED(got->GetSampleTime(&time));
        got->GetSampleDuration(&duration);
        IMFMediaBuffer* contiguous = nullptr;
        BYTE* data = nullptr;
        DWORD length = 0;
        if (SUCCEEDED(got->ConvertToContiguousBuffer(&contiguous)) &&
            SUCCEEDED(contiguous->Lock(&data, nullptr, &length))) {
            // Frames the decoder skipped show as a jump in its times: silence
            // of their length keeps what follows where it belongs.
            if (timed && out_until_ >= 0 && time > out_until_ + frame_time_ / 2 &&
                time - out_until_ <= kMaxConcealTicks) {
                const int64_t frames = (time - out_until_) * rate_ / kTicksPerSecond;
                pcm->insert(pcm->end(), static_cast<size_t>(frames) * static_cast<size_t>(channels_), 0.0f);
            }
            if (float_out_) {
                const size_t n = length / sizeof(float);
                const size_t at = pcm->size();
                pcm->resize(at + n);
                memcpy(pcm->data() + at, data, n * sizeof(float));
            } else {
                const size_t n = length / sizeof(int16_t);
                for (size_t i = 0; i < n; ++i) {
                    int16_t v;
                    memcpy(&v, data + i * sizeof v, sizeof v);
                    pcm->push_back(v * kPcm16Scale);
                }
            }
            contiguous->Unlock();
            const int64_t heard = static_cast<int64_t>(length / (float_out_ ? 4 : 2) / channels_) *
                                  kTicksPerSecond / rate_;
            out_until_ = timed ? time + (duration > 0 ? duration : heard)
                               : (out_until_ >= 0 ? out_until_ + heard : -1);
        }
        Release(&contiguous);
        if (got != own) got->Release();
        Release(&own);
    }
    return true;
}

// ---- the stream's decoder ---------------------------------------------------

int AacDecoder::Open(const AdtsHeader& first) {
    AacSetup setup;
    if (!aac_setup_for(first, he_aac_, &setup) || !transform_.Open(setup)) return BASS_ERROR_CODEC;
    format_ = first;
    return 0;
}

bool AacDecoder::Decode(ByteSource& in, DecodedPiece* out) {
    for (;;) {
        if (!pcm_.empty()) {
            const size_t channels = static_cast<size_t>(transform_.channels());
            samples_.swap(pcm_);
            pcm_.clear();
            out->samples = samples_.data();
            out->channels = transform_.channels();
            out->frames = samples_.size() / channels;
            out->sample_rate = transform_.rate();
            samples_.resize(out->frames * channels);
            if (out->frames > 0) return true;
            continue;
        }
        if (failed_ || drained_) return false;
        AdtsFrame frame;
        bool after_seam = false;
        if (input_.Next(in, &frame, &after_seam)) {
            if (!adts_headers_consistent(frame.header, format_)) {
                // Another configuration: a decoder made for it.
                AacSetup setup;
                if (!aac_setup_for(frame.header, he_aac_, &setup) || !transform_.Open(setup)) {
                    failed_ = true;
                    return false;
                }
                format_ = frame.header;
            }
            transform_.Decode(frame.data, frame.size, &pcm_);
            continue;
        }
        if (!input_.ended()) return false;
        transform_.Drain(&pcm_);
        drained_ = true;
    }
}

void WarmUpAacDecoder() {
    AdtsHeader lc;
    lc.object_type = kAacObjectLc;
    lc.rate_index = kWarmRateIndex;
    lc.sample_rate = kWarmRate;
    lc.channel_config = kWarmChannels;
    lc.channels = kWarmChannels;
    AacSetup setup;
    AacTransform decoder;
    if (aac_setup_for(lc, false, &setup)) decoder.Open(setup);
}

}  // namespace engine
