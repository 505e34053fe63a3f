// The download side of a stream: owns the connection, takes the ICY metadata
// out of the body, and puts the audio bytes into the stream's ring through
// one Deliver(), which also counts them and hands them to the DOWNLOADPROC.
// Runs on its own thread once the stream is created; during the create the
// creating thread reads through it.
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
#include "engine/codec/decoder.h"
#include "engine/dsp/ring_buffer.h"
#include "engine/net/http_win.h"
#include "engine/net/icy_demux.h"
#include "engine/net/pending_titles.h"
#include "engine/net/reconnect_overlap.h"
#include "engine/net/socket_win.h"
#include "engine/tags.h"
#include "engine/include/bass.h"

namespace engine {

// The bytes between the download and the decoder, and how many went each way.
class StreamBuffer final : public ByteSource {
public:
    StreamBuffer();
    ~StreamBuffer() override;
    StreamBuffer(const StreamBuffer&) = delete;
    StreamBuffer& operator=(const StreamBuffer&) = delete;
    bool ok() const { return data_ && space_; }

    void Allocate(size_t capacity);
    size_t capacity() const { return ring_ ? ring_->capacity() : 0; }
    size_t writable() const { return ring_ ? ring_->writable() : 0; }
    size_t readable() const { return ring_ ? ring_->readable() : 0; }
    uint64_t downloaded() const { return downloaded_.load(); }
    uint64_t consumed() const { return consumed_.load(); }
    // Waits for bytes (or the end) and for room; each also ends when one
    // of `others` is set. The other side signals only while someone waits:
    // a signal is a call into the system, and it would come with every packet.
    DWORD WaitForData(const HANDLE* others, DWORD count, DWORD ms);
    void WaitForSpace(HANDLE other);

    // Download side.
    void Write(const uint8_t* bytes, size_t n);
    void End();
    // The bytes written from now on come from a new connection (or do not
    // continue the ones before for another reason); `silence_ms` of the
    // stream are missing there, to be heard as silence.
    void MarkSeam(uint32_t silence_ms = 0);

    // Decoder side.
    size_t Peek(uint8_t* out, size_t n) override;
    void Take(size_t n) override;
    bool Ended() const override { return ended_.load(); }
    bool TakeSeam() override;
    // The silence due once the decoder has reached `position` (the input
    // position of the audio it decoded last), for the first missing
    // stretch at or before it; false when none is due.
    bool TakeGap(uint64_t position, uint32_t* silence_ms);

private:
    struct Gap {
        uint64_t at;
        uint32_t ms;
    };

    // Bytes the decoder may read before the next seam.
    size_t BeforeSeam(size_t n);

    std::mutex seam_mutex_;
    std::deque<uint64_t> seams_;  // downloaded positions where a connection began
    std::deque<Gap> gaps_;        // of those, the ones where audio is missing
    std::atomic<bool> have_seam_{false};
    std::atomic<bool> have_gap_{false};
    std::unique_ptr<RingBuffer<uint8_t>> ring_;
    std::atomic<uint64_t> downloaded_{0};
    std::atomic<uint64_t> consumed_{0};
    std::atomic<bool> ended_{false};
    std::atomic<bool> want_data_{false};
    std::atomic<bool> want_space_{false};
    HANDLE data_ = nullptr;   // bytes were added, or the download ended
    HANDLE space_ = nullptr;  // the decoder made room
};

struct DownloadOptions {
    DOWNLOADPROC* proc = nullptr;  // gets the audio bytes (null: nobody)
    void* user = nullptr;
    HANDLE stop = nullptr;         // the stream's: set when it is freed
};

// Where a lost connection is made again: the address the stream was created
// with, followed the same way (redirects, playlists), cancelled the same way.
struct ReconnectTarget {
    std::string url;
    bool follow_playlists = false;
    std::vector<HANDLE> cancel;
};

class Download {
public:
    Download(StreamBuffer* buffer, PendingTitles* titles, TagStore* tags,
             const DownloadOptions& options);
    ~Download();
    Download(const Download&) = delete;
    Download& operator=(const Download&) = delete;

    void Begin(std::unique_ptr<HttpBody> body, uint32_t metaint, ReconnectTarget target);
    // The audio from a feed instead (which makes a lost connection again
    // itself): its titles and breaks go the ways the body's would.
    void Begin(std::unique_ptr<AudioFeed> feed);
    // The feed's error once it failed for good; 0 without one.
    int FeedError() const { return feed_ ? feed_->Error() : 0; }
    // The stream's data rate, known before the first byte is delivered: how
    // much of what was delivered a reconnect may find repeated.
    void SetByteRate(uint32_t byte_rate);
    // Audio bytes of the body, metadata taken out: > 0, 0 at the end, or a
    // negative SocketResult; waits at most timeoutMs in all.
    int Read(uint8_t* buffer, int size, DWORD timeoutMs);
    // Into the ring (the caller made sure they fit), counted, and to the
    // DOWNLOADPROC. False once the stream is being freed: nothing more goes
    // out then, not even the end of the download.
    bool Deliver(const uint8_t* bytes, size_t n);
    // Bytes the stream skips (a leading tag) go only to the DOWNLOADPROC;
    // false as Deliver.
    bool PassOn(const uint8_t* bytes, size_t n);

    // The rest of the body on a thread of its own that keeps `owner` alive;
    // a connection lost there is made again (reconnect.h) before the
    // stream ends, and what the new one repeats of the old is dropped
    // (reconnect_overlap.h).
    bool Start(std::shared_ptr<void> owner);
    // Stops the download and waits for its thread (unless called on it).
    void Shutdown();

private:
    enum class Reconnected { Yes, GaveUp, Stopped };

    static DWORD WINAPI Main(void* self);
    void Loop();
    // The stream's audio as Read() gives it, but after a reconnect the new
    // connection's first bytes are held until it is known whether they
    // repeat what was delivered; then what is new among them comes first,
    // then what the read that ended the wait said.
    int NextAudio(uint8_t* buffer, int size, DWORD timeoutMs);
    // Reads the new connection until its first bytes are placed; false
    // when the stream is being freed.
    bool Join();
    void EndJoin(const Overlap& overlap);
    // Titles read, to the tags and the queue of titles to be heard.
    void PassTitles(std::vector<IcyMeta>* metas);
    // Tries the address again until a body comes, it is time to give up or
    // the stream is freed; `attempt` counts the tries since the last
    // connection that held.
    Reconnected Reconnect(int* attempt);
    bool Stopped() const;
    // Into the ring, with the breaks of a feed marked where they fall.
    void Write(const uint8_t* bytes, size_t n);

    struct Break {
        uint64_t at;  // in the audio bytes read
        uint32_t silence_ms;
    };

    StreamBuffer* buffer_;
    PendingTitles* titles_;
    TagStore* tags_;
    DownloadOptions options_;
    std::unique_ptr<HttpBody> body_;
    std::unique_ptr<AudioFeed> feed_;
    uint64_t read_ = 0;       // audio bytes read from the feed
    uint64_t delivered_ = 0;  // audio bytes delivered
    std::deque<Break> breaks_;  // read, not yet delivered
    ReconnectTarget target_;
    IcyDemux demux_;
    std::vector<IcyMeta> metas_;
    uint64_t newest_title_ = kNoTitleYet;  // where the newest title read was
    // After a reconnect: the history of what was delivered, and the new
    // connection's first bytes, its titles and the read's end while they are
    // held; held_from_ is the next held byte to hand out.
    ReconnectOverlap overlap_;
    bool joining_ = false;
    uint64_t joined_at_ = 0;
    Deadline join_limit_{0};
    std::vector<IcyMeta> join_metas_;
    size_t held_from_ = 0;
    int held_end_ = 1;  // <= 0: what ended the connection while its bytes were held
    HANDLE thread_ = nullptr;
    DWORD thread_id_ = 0;
    std::shared_ptr<void> owner_;  // handed to the thread at its start
    std::atomic<bool> stopping_{false};  // set with the stop event
};

}  // namespace engine
