// A URL stream: the download thread fills a bounded byte ring; the device's
// mixer thread decodes from it, resamples, applies volume, pan and slides, and
// keeps what it played so levels and spectrum describe what is heard now.
// Metadata and chained Ogg streams become markers on the decoded audio and
// their syncs fire when the device plays past them.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/codec/format_sniffer.h"
#include "engine/codec/mp3_acm_win.h"
#include "engine/codec/mpeg_header.h"
#include "engine/codec/vorbis_stream.h"
#include "engine/dsp/fft.h"
#include "engine/dsp/resampler.h"
#include "engine/dsp/ring_buffer.h"
#include "engine/dsp/slide.h"
#include "engine/net/http_win.h"
#include "engine/net/icy_demux.h"
#include "engine/output/device_win.h"
#include "playback/bass.h"

namespace engine {

// How much of the stream's data rate the player waits for before it starts
// (the END file position), and how much the ring holds behind that.
constexpr int kPrebufferMs = 1500;
constexpr int kBufferMs = 10000;
constexpr size_t kMinBufferBytes = 256 * 1024;
constexpr size_t kMaxBufferBytes = 8 * 1024 * 1024;
constexpr uint32_t kDefaultByteRate = 128000 / 8;  // when the stream does not say

struct StreamOptions {
    DWORD flags = 0;
    DOWNLOADPROC* proc = nullptr;
    void* user = nullptr;
    bool follow_playlists = false;
    DWORD prebuffer_percent = 0;
    HANDLE cancel = nullptr;  // the engine's: set when it is freed
};

class Stream : public std::enable_shared_from_this<Stream> {
public:
    explicit Stream(const StreamOptions& options);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Connects, reads the head and the first audio, sets up the decoder and
    // starts the download thread. 0 or an engine error code (kHttpCancelled
    // when the engine's cancel event ended it).
    int Connect(const char* url);
    void set_handle(HSTREAM handle) { handle_ = handle; }
    HSTREAM handle() const { return handle_; }
    DWORD flags() const { return options_.flags; }

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
    // Mixer thread: events whose audio has been heard by `played`.
    void CollectDue(uint64_t played, const std::shared_ptr<Stream>& self,
                    std::vector<Notification>* out);
    // Notifier thread: runs the syncs of this type.
    void Fire(int sync_type);

private:
    struct Marker {
        uint64_t at = 0;  // decoded frame, later device frame
        int type = 0;
        std::string text;                 // META
        std::vector<std::string> list;    // OGG comments
    };
    struct Sync {
        HSYNC handle;
        DWORD type;
        SYNCPROC* proc;
        void* user;
    };

    static DWORD WINAPI DownloadMain(void* self);
    void DownloadLoop();
    // Reads body bytes and separates the metadata: audio bytes (> 0), 0 at
    // the end, or a negative SocketResult.
    int ReadAudio(uint8_t* buffer, int size, DWORD timeoutMs);
    void TakeMetas();
    int SetUpDecoder(const std::vector<uint8_t>& first);
    uint32_t ByteRate(const std::vector<uint8_t>& first) const;
    // Decoder: more PCM into pcm_; false when nothing came.
    bool DecodeMore();
    bool DecodeMpeg();
    bool DecodeVorbis();
    void AppendPcm(const float* frames, size_t count, int channels);
    void SetSourceRate(int rate);
    void PlaceMetaMarkers(uint64_t byte_offset);
    void PushHistory(const float* stereo, int frames, uint64_t block_start);
    void CopyHistory(uint64_t end, size_t frames, float* stereo);

    WinsockUse winsock_;  // first in, last out: sockets live inside it
    StreamOptions options_;
    HSTREAM handle_ = 0;
    HANDLE stop_ = nullptr;
    HANDLE space_ = nullptr;  // the decoder made room in the ring
    HANDLE data_ = nullptr;   // the download thread added bytes or ended
    HANDLE thread_ = nullptr;
    DWORD thread_id_ = 0;

    // Network side.
    std::unique_ptr<HttpBody> body_;
    IcyDemux demux_;
    std::vector<IcyMeta> new_metas_;  // download thread only
    std::unique_ptr<RingBuffer<uint8_t>> ring_;
    std::atomic<uint64_t> downloaded_{0};
    std::atomic<uint64_t> consumed_{0};
    std::atomic<bool> input_ended_{false};
    uint64_t prebuffer_bytes_ = 0;

    std::mutex meta_mutex_;
    std::deque<IcyMeta> metas_;  // received, not yet placed on the audio

    // Decoder side (mixer thread; the creating thread before the first play).
    StreamFormat format_ = StreamFormat::Unknown;
    MpegFramer framer_;
    uint64_t framer_pushed_ = 0;
    AcmMp3Decoder mp3_;
    std::unique_ptr<VorbisStream> vorbis_;
    uint64_t vorbis_pushed_ = 0;
    std::vector<int16_t> pcm16_;
    std::vector<float> scratch_;
    std::vector<float> pcm_;  // stereo, at the source rate
    size_t pcm_pos_ = 0;      // frames of pcm_ already taken
    uint64_t decoded_ = 0;    // frames decoded so far
    uint64_t taken_ = 0;      // frames the resampler has taken
    int source_rate_ = 0;
    bool drained_ = false;
    bool framer_ended_ = false;
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

    // Tags.
    std::mutex tag_mutex_;
    std::string http_tags_, icy_tags_;
    std::deque<std::string> meta_;  // newest last; older ones stay valid a while
    std::deque<std::string> ogg_;

    // Syncs.
    std::mutex sync_mutex_;
    std::vector<Sync> syncs_;
    HSYNC next_sync_ = 1;

    // What was played, for levels and spectrum.
    std::mutex history_mutex_;
    std::vector<float> history_;
    uint64_t history_end_ = 0;  // device frame after the newest entry
    std::mutex fft_mutex_;
    Fft2048 fft_;
};

}  // namespace engine
