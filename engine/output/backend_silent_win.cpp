// The "no sound" device: consumes blocks in real time without a sound card, so
// that streams play, levels move and syncs fire on machines without audio.
#include "engine/output/backend_win.h"

namespace engine {

namespace {

constexpr int kSilentPeriodMs = 10;
constexpr int kSilentQueuedPeriods = 1;

class SilentOutput final : public OutputBackend {
public:
    bool Open(int rate) override {
        rate_ = rate;
        period_ = rate * kSilentPeriodMs / 1000;
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&start_);
        written_ = 0;
        return true;
    }
    int PeriodFrames() const override { return period_; }
    int Rate() const override { return rate_; }
    DWORD StuckMs() const override { return INFINITE; }  // its own clock never hangs

    bool Write(const int16_t*, HANDLE stop) override {
        const uint64_t limit = static_cast<uint64_t>(period_) * kSilentQueuedPeriods;
        uint64_t clock = Clock();
        if (clock > written_) {
            // The mixer fell behind: the gap was silence, not frames still to come.
            start_.QuadPart += static_cast<LONGLONG>((clock - written_) * frequency_.QuadPart / rate_);
            clock = written_;
        }
        while (written_ + period_ > clock + limit) {
            uint64_t ahead = written_ + period_ - clock - limit;
            DWORD wait = static_cast<DWORD>(ahead * 1000 / rate_) + 1;
            if (WaitForSingleObject(stop, wait) == WAIT_OBJECT_0) return false;
            clock = Clock();
        }
        written_ += static_cast<uint64_t>(period_);
        return true;
    }

    uint64_t Played() override {
        uint64_t clock = Clock();
        return clock < written_ ? clock : written_;
    }
    void Flush() override {
        // The clock stands where the frames end; the next write starts from there.
        QueryPerformanceCounter(&start_);
        start_.QuadPart -= static_cast<LONGLONG>(written_ * frequency_.QuadPart / rate_);
    }
    void Close() override {}
    const char* Name() const override { return "silent"; }

private:
    uint64_t Clock() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<uint64_t>(now.QuadPart - start_.QuadPart) * static_cast<uint64_t>(rate_) /
               static_cast<uint64_t>(frequency_.QuadPart);
    }

    int rate_ = 44100;
    int period_ = 441;
    LARGE_INTEGER frequency_ = {};
    LARGE_INTEGER start_ = {};
    uint64_t written_ = 0;
};

}  // namespace

std::unique_ptr<OutputBackend> MakeSilentOutput() { return std::make_unique<SilentOutput>(); }

}  // namespace engine
