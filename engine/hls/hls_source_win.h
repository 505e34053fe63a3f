// An HLS stream as the download side of a stream reads it: the playlist a
// create found is read, a variant chosen (the next one when it fails before
// any audio came), and a thread of its own follows the media playlist
// (reloading a live one), fetches each segment in media-sequence order
// (byte ranges, EXT-X-MAP sections, AES-128 keys), takes the audio out with
// the demultiplexers, and queues the elementary audio bytes with their
// titles placed on them. A segment that keeps failing is skipped, and the
// stretch it held becomes silence; a list that stops advancing or cannot be
// reloaded is a lost connection, given up as one is (reconnect.h).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/audio_feed.h"
#include "engine/hls/aes128_win.h"
#include "engine/hls/m3u8.h"
#include "engine/hls/segment.h"
#include "engine/net/socket_win.h"
#include "engine/net/url.h"

namespace engine {

// Variants above this bandwidth come last: a radio station's audio is far
// below it, and what is above carries video.
constexpr uint64_t kHlsBandwidthCap = 640000;
constexpr size_t kMaxSegmentBytes = 16 * 1024 * 1024;
constexpr size_t kMaxKeyResponseBytes = 64;   // a key is 16 bytes; a page in its place is refused
constexpr int kSegmentTries = 3;
constexpr DWORD kSegmentRetryMs = 250;        // before the second try, twice that before the third
constexpr DWORD kHlsRequestMs = 10000;        // one request: connect, head and body
// Audio queued ahead of the reader before the next segment is fetched.
constexpr size_t kHlsQueueBytes = 256 * 1024;
// A stretch of failed segments longer than this is a lost connection.
constexpr uint32_t kMaxGapMs = 20000;

class HlsSource final : public AudioFeed {
public:
    // cancel: the events that end every wait of the stream (engine, stream).
    explicit HlsSource(std::vector<HANDLE> cancel);
    // Stops the thread and waits for it.
    ~HlsSource() override;
    HlsSource(const HlsSource&) = delete;
    HlsSource& operator=(const HlsSource&) = delete;

    // On the creating thread, within `deadline`: reads the playlist that
    // came from `url`, chooses the variant, fetches its media playlist and
    // starts the thread. 0, kHttpCancelled, or the engine's error code:
    // BASS_ERROR_CODEC when no variant can be played or the stream is
    // encrypted in a way we cannot undo (SAMPLE-AES, DRM key formats, other
    // methods), BASS_ERROR_FILEFORM for a playlist that is not one we read.
    int Open(const Url& url, const std::string& playlist, const Deadline& deadline);

    // The lines of the playlist's response head with the variant's
    // "icy-name:" and "icy-br:" added where the playlist says them and the
    // head does not.
    std::vector<std::string> WithTagLines(std::vector<std::string> head) const;
    // The stream is HE-AAC (CODECS, or an fMP4 init said so).
    bool HeAac() const { return he_aac_.load(); }

    int Read(uint8_t* buffer, size_t size, uint32_t timeout_ms, std::vector<IcyMeta>* titles) override;
    bool TakeBreak(uint32_t* silence_ms) override;
    int Error() const override;

private:
    struct Piece {
        std::vector<uint8_t> bytes;
        bool break_before = false;
        uint32_t silence_ms = 0;
    };
    struct Fetched {
        int status = 0;
        std::vector<uint8_t> bytes;
        Url url;  // after redirects
    };
    enum class SegmentResult { Played, Failed, Unplayable, Refused, Cancelled };

    static DWORD WINAPI Main(void* self);
    // The thread's work: 0 at the list's end, kHttpCancelled, or an error code.
    int Follow();
    // Fetches, decrypts and demultiplexes one segment, then queues its audio.
    SegmentResult PlaySegment(const hls::MediaSegment& segment);
    SegmentResult Demux(const hls::MediaSegment& segment, hls::SegmentOutput* out);
    void Queue(const hls::MediaSegment& segment, hls::SegmentOutput* out);
    // Reloads the media playlist when it is due; an error code once it has
    // been lost for longer than a connection may be.
    int Reload();
    // The next choice of variant after one that failed; an error code when
    // none is left.
    int NextVariant();
    // Fetches the media playlist of choices_[chosen_] and joins it.
    int LoadChoice(const Deadline& deadline);
    // Plays `list` from its start (VOD) or near its live edge; the codec
    // error when that segment is encrypted in a way we cannot undo.
    int Join(const hls::MediaPlaylist& list);
    std::vector<std::string> TagLines() const;

    // One resource; its bytes within `limit`, the given range only when
    // `range` is not null.
    int Fetch(const Url& url, const hls::ByteRange* range, size_t limit, const Deadline& deadline,
              Fetched* out);
    int Key(const hls::Key& key, const Deadline& deadline);
    int InitSection(const hls::InitSection& map, uint64_t sequence, const Deadline& deadline);
    // Waits up to ms, or until cancelled (kSocketOk / kSocketCancelled).
    int Pause(DWORD ms);
    bool Stopping() const;
    int WaitForRoom();
    void Finish(int result);

    std::vector<HANDLE> cancel_;  // the stream's, then stop_
    HANDLE stop_ = nullptr;
    HANDLE data_ = nullptr;   // audio was queued, or the thread ended
    HANDLE space_ = nullptr;  // the reader took audio
    HANDLE thread_ = nullptr;

    // Chosen on the creating thread, read-only afterwards (but for the
    // variant, which the thread may change before any audio).
    std::vector<hls::PlayChoice> choices_;
    hls::MultivariantPlaylist multivariant_;
    size_t chosen_ = 0;  // changed under mutex_
    Url master_url_;
    std::atomic<bool> he_aac_{false};
    int first_error_ = 0;   // why the first variant that failed failed
    int failure_code_ = 0;  // why the last segment failed

    // The thread's.
    Url media_url_;  // reloaded from here
    Url base_url_;   // where it came from (redirects followed): URIs resolve against it
    hls::MediaPlaylist list_;
    uint64_t next_ = 0;           // media sequence number of the next segment
    DWORD loaded_at_ = 0;         // when the last load of the list began
    DWORD advanced_at_ = 0;       // when the list last brought a new segment
    bool unchanged_ = false;
    bool lost_ = false;
    DWORD lost_at_ = 0;
    int reload_failures_ = 0;
    DWORD failing_since_ = 0;     // the first of the segments failing in a row
    bool failing_ = false;
    std::string key_uri_;
    bool have_key_ = false;
    Aes128Cbc aes_;
    std::string map_id_;
    std::vector<uint8_t> map_bytes_;
    uint64_t produced_ = 0;       // audio bytes queued so far
    bool pending_break_ = false;
    uint32_t pending_silence_ms_ = 0;
    bool have_kind_ = false;
    hls::AudioKind kind_ = hls::AudioKind::Adts;
    int64_t last_time_ = hls::kNoTime;  // of the last chunk, unwrapped
    bool id3_titles_ = false;     // the stream sends timed titles: EXTINF's are not used

    // Between the thread and the reader.
    mutable std::mutex mutex_;
    std::deque<Piece> queue_;
    size_t front_used_ = 0;
    size_t queued_ = 0;
    std::deque<IcyMeta> titles_;
    uint64_t handed_ = 0;         // audio bytes the reader took
    bool ended_ = false;
    int error_ = 0;
    // The reader's: the last Read's bytes begin after a break.
    bool took_break_ = false;
    uint32_t took_silence_ms_ = 0;
};

}  // namespace engine
