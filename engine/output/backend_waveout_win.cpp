// waveOut: a ring of headers the mixer fills one period at a time.
#include "engine/output/backend_win.h"

#include <mmsystem.h>

#include <cstring>
#include <vector>

namespace engine {

namespace {

constexpr int kWavePeriodMs = 20;
constexpr int kWaveStartBuffers = 4;  // 80 ms queued while a stream starts
constexpr int kWaveBuffers = 12;      // 240 ms once it has played a second
constexpr int kWaveGrowAfter = 1000 / kWavePeriodMs;
// Four times the starting queue without a header back: the device is stuck.
constexpr DWORD kWaveStuckMs = kWavePeriodMs * kWaveStartBuffers * 4;

class WaveOutOutput final : public OutputBackend {
public:
    ~WaveOutOutput() override { Close(); }

    bool Open(int rate) override {
        rate_ = rate;
        period_ = rate * kWavePeriodMs / 1000;
        WAVEFORMATEX format = {};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = kOutputChannels;
        format.nSamplesPerSec = static_cast<DWORD>(rate);
        format.wBitsPerSample = 16;
        format.nBlockAlign = kOutputChannels * 2;
        format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
        done_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!done_) return false;
        if (waveOutOpen(&wave_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(done_), 0,
                        CALLBACK_EVENT) != MMSYSERR_NOERROR) {
            wave_ = nullptr;
            Close();
            return false;
        }
        const size_t bytes = static_cast<size_t>(period_) * format.nBlockAlign;
        for (int i = 0; i < kWaveBuffers; ++i) {
            data_[i].assign(bytes, 0);
            WAVEHDR& h = headers_[i];
            h = {};
            h.lpData = reinterpret_cast<LPSTR>(data_[i].data());
            h.dwBufferLength = static_cast<DWORD>(bytes);
            waveOutPrepareHeader(wave_, &h, sizeof h);
            h.dwFlags |= WHDR_DONE;  // free to fill
        }
        next_ = 0;
        depth_.Restart();
        last_position_ = 0;
        position_high_ = 0;
        written_ = 0;
        base_ = 0;
        return true;
    }

    int PeriodFrames() const override { return period_; }
    int Rate() const override { return rate_; }
    DWORD StuckMs() const override { return kWaveStuckMs; }

    bool Write(const int16_t* frames, HANDLE stop) override {
        WAVEHDR& h = headers_[next_];
        const ULONGLONG since = GetTickCount64();
        while (!(h.dwFlags & WHDR_DONE) || Queued() >= depth_.periods()) {
            const ULONGLONG waited = GetTickCount64() - since;
            if (waited >= kWaveStuckMs) return false;  // no header back: the device is stuck
            HANDLE handles[2] = {stop, done_};
            const DWORD r = WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(kWaveStuckMs - waited));
            if (r == WAIT_OBJECT_0) return false;
        }
        memcpy(h.lpData, frames, h.dwBufferLength);
        h.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
        if (waveOutWrite(wave_, &h, sizeof h) != MMSYSERR_NOERROR) return false;
        next_ = (next_ + 1) % kWaveBuffers;
        written_ += static_cast<uint64_t>(period_);
        depth_.Wrote();
        return true;
    }

    void Flush() override {
        if (!wave_) return;
        // Returns every header; the device's position starts again at 0.
        waveOutReset(wave_);
        for (WAVEHDR& h : headers_) h.dwFlags |= WHDR_DONE;
        next_ = 0;
        depth_.Restart();
        base_ = written_;
        last_position_ = 0;
        position_high_ = 0;
    }

    uint64_t Played() override {
        MMTIME time = {};
        time.wType = TIME_SAMPLES;
        if (!wave_ || waveOutGetPosition(wave_, &time, sizeof time) != MMSYSERR_NOERROR ||
            time.wType != TIME_SAMPLES)
            return base_ + last_position_;
        // The device counts in 32 bits; carry the wraps.
        uint64_t low = time.u.sample;
        uint64_t value = (position_high_ << 32) | low;
        if (value < last_position_) {
            ++position_high_;
            value = (position_high_ << 32) | low;
        }
        last_position_ = value;
        return base_ + value;
    }

    void Close() override {
        if (wave_) {
            waveOutReset(wave_);
            for (WAVEHDR& h : headers_) {
                if (h.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(wave_, &h, sizeof h);
            }
            waveOutClose(wave_);
            wave_ = nullptr;
        }
        if (done_) {
            CloseHandle(done_);
            done_ = nullptr;
        }
    }

    const char* Name() const override { return "waveOut"; }

private:
    // Headers handed to the device and not back yet.
    int Queued() const {
        int n = 0;
        for (const WAVEHDR& h : headers_) n += (h.dwFlags & WHDR_DONE) ? 0 : 1;
        return n;
    }

    HWAVEOUT wave_ = nullptr;
    HANDLE done_ = nullptr;
    int rate_ = 0;
    int period_ = 0;
    WAVEHDR headers_[kWaveBuffers] = {};
    std::vector<uint8_t> data_[kWaveBuffers];
    int next_ = 0;
    QueueDepth depth_{kWaveStartBuffers, kWaveBuffers, kWaveGrowAfter};
    uint64_t last_position_ = 0;
    uint64_t position_high_ = 0;
    uint64_t written_ = 0;  // frames handed over since Open
    uint64_t base_ = 0;     // of those, frames before the last Flush
};

}  // namespace

std::unique_ptr<OutputBackend> MakeWaveOutOutput() { return std::make_unique<WaveOutOutput>(); }

}  // namespace engine
