#include "engine/output/output_faults_win.h"

#include <cstdlib>
#include <cstring>

namespace engine {

namespace {

constexpr char kVariable[] = "ORVANTIS_OUTPUT_FAULTS";
constexpr DWORD kMaxValue = 256;
constexpr DWORD kLiftPollMs = 10;

std::string ReadVariable() {
    char value[kMaxValue];
    const DWORD n = GetEnvironmentVariableA(kVariable, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

class FaultyOutput final : public OutputBackend {
public:
    FaultyOutput(std::unique_ptr<OutputBackend> inner, const OutputFaults& faults, bool first)
        : inner_(std::move(inner)),
          stall_ms_(first ? faults.stall_ms : -1),
          close_blocks_(faults.close_blocks),
          list_(faults.list) {}

    bool Open(int rate) override { return opened_ = inner_->Open(rate); }
    int Rate() const override { return inner_->Rate(); }
    int PeriodFrames() const override { return inner_->PeriodFrames(); }
    DWORD StuckMs() const override { return inner_->StuckMs(); }
    const char* Name() const override { return inner_->Name(); }

    bool Write(const int16_t* frames, HANDLE stop) override {
        if (stall_ms_ >= 0 && !stalled_) {
            const ULONGLONG now = GetTickCount64();
            if (first_write_ == 0) first_write_ = now;
            if (now - first_write_ >= static_cast<ULONGLONG>(stall_ms_)) {
                // Falls silent at once, what it holds unplayed.
                played_ = inner_->Played();
                inner_->Flush();
                stalled_ = true;
            }
        }
        if (stalled_) {
            WaitForSingleObject(stop, inner_->StuckMs());
            return false;
        }
        return inner_->Write(frames, stop);
    }

    uint64_t Played() override { return stalled_ ? played_ : inner_->Played(); }
    void Flush() override {
        if (!stalled_) inner_->Flush();
    }
    void Close() override {
        inner_->Close();
        if (!close_blocks_ || !opened_) return;
        while (ReadVariable() == list_) Sleep(kLiftPollMs);
    }

private:
    std::unique_ptr<OutputBackend> inner_;
    int stall_ms_;
    bool close_blocks_;
    std::string list_;
    bool opened_ = false;
    ULONGLONG first_write_ = 0;
    bool stalled_ = false;
    uint64_t played_ = 0;
};

}  // namespace

OutputFaults ReadOutputFaults() {
    OutputFaults faults;
    faults.list = ReadVariable();
    const std::string& list = faults.list;
    size_t at = 0;
    while (at < list.size()) {
        size_t end = list.find(',', at);
        if (end == std::string::npos) end = list.size();
        const std::string item = list.substr(at, end - at);
        if (item.rfind("stall=", 0) == 0) {
            faults.stall_ms = std::atoi(item.c_str() + strlen("stall="));
        } else if (item == "close-blocks") {
            faults.close_blocks = true;
        } else if (item == "change") {
            faults.signal_change = true;
        }
        at = end + 1;
    }
    return faults;
}

std::unique_ptr<OutputBackend> WithFaults(std::unique_ptr<OutputBackend> backend,
                                          const OutputFaults& faults, bool first) {
    if (!backend || ((!first || faults.stall_ms < 0) && !faults.close_blocks)) return backend;
    return std::make_unique<FaultyOutput>(std::move(backend), faults, first);
}

}  // namespace engine
