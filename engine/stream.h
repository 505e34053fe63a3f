// A URL stream, in parts: the download side (stream_download_win.h) fills the
// stream's ring through one Deliver(); a decoder per format pulls from the
// ring on the device's mixer thread; the stream resamples, applies volume, pan
// and slides, and keeps what it played (PlayHistory) so levels and spectrum
// describe what is heard now. Titles and chained Ogg streams become markers
// on the decoded audio, and their syncs fire when the device plays past them.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/codec/decoder.h"
#include "engine/codec/format_sniffer.h"
#include "engine/codec/stream_probe.h"
#include "engine/dsp/fft.h"
#include "engine/dsp/play_history.h"
#include "engine/dsp/resampler.h"
#include "engine/dsp/slide.h"
#include "engine/net/http_win.h"
#include "engine/net/pending_titles.h"
#include "engine/output/device_win.h"
#include "engine/stream_download_win.h"
#include "engine/tags.h"
#include "engine/include/bass.h"

namespace engine {

// Everything a create does before it returns (name lookup, connect, head,
// redirects, playlists, sniffing, headers) shares this much time.
constexpr DWORD kCreateDeadlineMs = 15000;
// An ID3v2 tag before the audio is skipped up to this size (the most a create
// reads before it comes to the audio); a larger one fails the create with
// the format error.
constexpr size_t kMaxLeadingTagBytes = 16 * 1024 * 1024;

struct StreamOptions {
    DWORD flags = 0;
    DOWNLOADPROC* proc = nullptr;
    void* user = nullptr;
    bool follow_playlists = false;
    DWORD prebuffer_percent = 0;
    // The engine's cancel event, set when it is freed; every stream that may
    // wait on it keeps it open.
    std::shared_ptr<void> cancel;
};

// An event handle that closes itself.
class OwnedEvent {
public:
    OwnedEvent() : h_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~OwnedEvent() {
        if (h_) CloseHandle(h_);
    }
    OwnedEvent(const OwnedEvent&) = delete;
    OwnedEvent& operator=(const OwnedEvent&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

class Stream : public std::enable_shared_from_this<Stream> {
public:
    explicit Stream(const StreamOptions& options);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Connects, reads the head and the first audio, sets up the decoder and
    // starts the download thread. 0 or an engine error code (kHttpCancelled
    // when the engine's cancel event or a free ended it).
    int Connect(const char* url);
    void set_handle(HSTREAM handle) { handle_ = handle; }
    HSTREAM handle() const { return handle_; }

    // API side, any thread.
    QWORD FilePosition(DWORD mode, int* error) const;
    const char* Tags(DWORD type);
    HSYNC AddSync(DWORD type, SYNCPROC* proc, void* user);
    int SetAttribute(DWORD attrib, float value);
    int GetAttribute(DWORD attrib, float* value);
    int SlideAttribute(DWORD attrib, float value, DWORD ms);
    void set_playing() { playing_ = true; }
    bool playing() const { return playing_; }
    // Levels and spectrum of what the device had played at `played`.
    DWORD Level(uint64_t played, int rate);
    void Spectrum(uint64_t played, float* out);

    // Stops the download and waits for its thread (unless called on it).
    void Shutdown();

    // Mixer thread: adds `frames` frames starting at device frame block_start to mix.
    void Render(float* mix, int frames, uint64_t block_start, int device_rate);
    // Mixer thread: events whose audio has been heard by `played`; titles and
    // comments due together come out as one event of each kind.
    void CollectDue(uint64_t played, const std::shared_ptr<Stream>& self,
                    std::vector<Notification>* out);
    // Notifier thread: runs the syncs of this type.
    void Fire(int sync_type);

    // The device marks a stream it let go of, under its notification lock:
    // from then on nothing of the stream is queued or started.
    bool detached() const { return detached_.load(); }
    void set_detached() { detached_ = true; }

private:
    struct Marker {
        uint64_t at = 0;  // decoded frame, later device frame
        int type = 0;
        std::string text;               // META
        std::vector<std::string> list;  // OGG comments
    };
    struct Sync {
        HSYNC handle;
        DWORD type;
        SYNCPROC* proc;
        void* user;
    };

    int ReadFirst(const Deadline& deadline, std::vector<uint8_t>* first, StreamFormat* format);
    int SetUpDecoder(StreamFormat format, const std::vector<uint8_t>& first,
                     const Deadline& deadline);
    // Decodes, reading on from the network while the download thread does not
    // run yet, until `done` (or the decoder fails); `read` bytes came so far.
    int DecodeUntil(const Deadline& deadline, size_t read, const std::function<bool()>& done);
    // Decoder: more PCM into pcm_; false when nothing came.
    bool DecodeMore();
    // Room for `frames` more stereo frames at the end of pcm_ (counted as
    // decoded), zeroed.
    float* GrowPcm(size_t frames);
    void AppendPcm(const DecodedPiece& piece);
    void AppendSilence(uint32_t ms, int rate);
    // The engine's error code for a failed read of the first audio.
    int ReadError(int n) const;
    void SetSourceRate(int rate);

    WinsockUse winsock_;  // first in, last out: sockets live inside it
    StreamOptions options_;  // holds the cancel event the connection waits on
    OwnedEvent stop_;
    HSTREAM handle_ = 0;
    std::atomic<bool> detached_{false};

    TagStore tags_;
    PendingTitles titles_;
    StreamBuffer buffer_;
    BufferPlan plan_;
    bool he_aac_named_ = false;  // the server said audio/aacp
    Download download_;  // uses the parts above, so it goes first

    // Decoder side (mixer thread; the creating thread before the first play).
    std::unique_ptr<StreamDecoder> decoder_;
    DecodedPiece piece_;
    std::vector<float> pcm_;  // stereo, at the source rate
    size_t pcm_pos_ = 0;      // frames of pcm_ already taken
    uint64_t decoded_ = 0;    // frames decoded so far
    uint64_t taken_ = 0;      // frames the resampler has taken
    int source_rate_ = 0;
    bool drained_ = false;
    Resampler resampler_;
    bool resampling_ = false;
    std::vector<float> render_;
    std::deque<Marker> markers_;    // on decoded frames
    std::deque<Marker> scheduled_;  // on device frames
    bool end_scheduled_ = false;

    // Attributes.
    std::mutex attr_mutex_;
    Slide volume_{1.0f};
    Slide pan_{0.0f};
    Slide freq_{44100.0f};
    std::atomic<bool> playing_{false};

    // Syncs.
    std::mutex sync_mutex_;
    std::vector<Sync> syncs_;
    HSYNC next_sync_ = 1;

    // What was played, for levels and spectrum.
    PlayHistory history_;
    std::mutex fft_mutex_;
    Fft2048 fft_;
};

}  // namespace engine
