// The output floor: a plain waveOut program that plays a sine for N seconds,
// with the same buffering as the engine (4 buffers of 20 ms).
#include <windows.h>
#include <mmsystem.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kPeriodFrames = kRate / 50;
constexpr int kBuffers = 4;
constexpr double kToneHz = 440.0;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? atoi(argv[1]) : 10;
    WAVEFORMATEX f = {};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = kRate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = kRate * 4;
    HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HWAVEOUT wave;
    if (waveOutOpen(&wave, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(done), 0, CALLBACK_EVENT)) {
        fprintf(stderr, "tone: waveOutOpen failed\n");
        return 1;
    }
    std::vector<int16_t> data[kBuffers];
    WAVEHDR h[kBuffers] = {};
    for (int i = 0; i < kBuffers; ++i) {
        data[i].resize(kPeriodFrames * 2);
        h[i].lpData = reinterpret_cast<LPSTR>(data[i].data());
        h[i].dwBufferLength = kPeriodFrames * 4;
        waveOutPrepareHeader(wave, &h[i], sizeof h[i]);
        h[i].dwFlags |= WHDR_DONE;
    }
    long long frame = 0;
    const long long total = static_cast<long long>(seconds) * kRate;
    for (int next = 0; frame < total; next = (next + 1) % kBuffers) {
        while (!(h[next].dwFlags & WHDR_DONE)) WaitForSingleObject(done, 1000);
        for (int i = 0; i < kPeriodFrames; ++i, ++frame) {
            int16_t v = static_cast<int16_t>(16000 * sin(2 * kPi * kToneHz * frame / kRate));
            data[next][2 * i] = data[next][2 * i + 1] = v;
        }
        h[next].dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
        waveOutWrite(wave, &h[next], sizeof h[next]);
    }
    waveOutReset(wave);
    for (auto& x : h) waveOutUnprepareHeader(wave, &x, sizeof x);
    waveOutClose(wave);
    CloseHandle(done);
    return 0;
}
