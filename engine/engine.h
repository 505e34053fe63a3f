// The engine's process-wide state: initialisation, the output device, the
// configuration and the table of live streams. Handles are never reused, so a
// freed or made-up handle is simply not found.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>

#include "engine/codec/mp3_acm_win.h"
#include "engine/output/device_win.h"
#include "engine/stream.h"
#include "engine/warm_up_win.h"
#include "engine/include/bass.h"

namespace engine {

// The last error of the calling thread (BASS_ErrorGetCode).
void SetError(int code);
int LastError();

class Engine {
public:
    static Engine& Get();

    int Init(int device, DWORD freq);
    int Free();
    int SetConfig(DWORD option, DWORD value);

    // Creates and registers a URL stream; 0 with *error set on failure.
    HSTREAM CreateUrlStream(const char* url, DWORD flags, DOWNLOADPROC* proc, void* user,
                            int* error);
    std::shared_ptr<Stream> Find(DWORD handle);
    int FreeStream(DWORD handle);
    int Play(DWORD handle);
    std::shared_ptr<Device> device();

private:
    std::mutex mutex_;
    bool initialised_ = false;
    std::shared_ptr<Device> device_;
    // Opened once at start-up so the codec is loaded before the first station.
    AcmMp3Decoder codec_warm_;
    WarmUpThread trust_warm_;
    WarmUpThread aac_warm_;
    // Set by Free: every create still connecting gives up at once. Each
    // initialisation has its own, kept alive by the creates that use it.
    std::shared_ptr<void> cancel_;
    std::map<DWORD, std::shared_ptr<Stream>> streams_;
    DWORD next_handle_ = 0x00010000;
    DWORD playlist_ = 0;
    DWORD prebuffer_ = 75;
};

}  // namespace engine
