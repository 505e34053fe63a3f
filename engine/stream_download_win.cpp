#include "engine/stream_download_win.h"

#include <algorithm>
#include <cstring>

#include "engine/net/reconnect.h"
#include "engine/output/device_win.h"

namespace engine {

namespace {

constexpr size_t kNetChunk = 16 * 1024;
constexpr size_t kMaxSeams = 64;  // far more than the tries a stream gets between two reads

}  // namespace

StreamBuffer::StreamBuffer() {
    data_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    space_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

StreamBuffer::~StreamBuffer() {
    for (HANDLE h : {data_, space_}) {
        if (h) CloseHandle(h);
    }
}

void StreamBuffer::Allocate(size_t capacity) { ring_ = std::make_unique<RingBuffer<uint8_t>>(capacity); }

void StreamBuffer::Write(const uint8_t* bytes, size_t n) {
    const size_t put = ring_->write(bytes, n);
    downloaded_ += put;
    if (want_data_.load()) SetEvent(data_);
}

void StreamBuffer::End() {
    ended_ = true;
    SetEvent(data_);
}

DWORD StreamBuffer::WaitForData(const HANDLE* others, DWORD count, DWORD ms) {
    HANDLE waits[MAXIMUM_WAIT_OBJECTS];
    DWORD n = 0;
    for (; n < count && n + 1 < MAXIMUM_WAIT_OBJECTS; ++n) waits[n] = others[n];
    waits[n] = data_;
    want_data_ = true;
    const DWORD r = WaitForMultipleObjects(n + 1, waits, FALSE, ms);
    want_data_ = false;
    return r;
}

void StreamBuffer::WaitForSpace(HANDLE other) {
    // Said before the look, so a read in between still signals.
    want_space_ = true;
    if (writable() == 0) {
        HANDLE waits[2] = {other, space_};
        WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    }
    want_space_ = false;
}

void StreamBuffer::MarkSeam(uint32_t silence_ms) {
    std::lock_guard<std::mutex> lock(seam_mutex_);
    const uint64_t at = downloaded_.load();
    if (seams_.size() < kMaxSeams) seams_.push_back(at);
    have_seam_ = true;
    if (silence_ms > 0 && gaps_.size() < kMaxSeams) {
        gaps_.push_back({at, silence_ms});
        have_gap_ = true;
    }
}

bool StreamBuffer::TakeGap(uint64_t position, uint32_t* silence_ms) {
    if (!have_gap_.load()) return false;
    std::lock_guard<std::mutex> lock(seam_mutex_);
    if (gaps_.empty() || gaps_.front().at > position) return false;
    *silence_ms = gaps_.front().ms;
    gaps_.pop_front();
    have_gap_ = !gaps_.empty();
    return true;
}

size_t StreamBuffer::BeforeSeam(size_t n) {
    if (!have_seam_.load()) return n;
    std::lock_guard<std::mutex> lock(seam_mutex_);
    const uint64_t at = consumed_.load();
    for (uint64_t seam : seams_) {
        if (seam > at) return static_cast<size_t>(std::min<uint64_t>(n, seam - at));
    }
    return n;
}

bool StreamBuffer::TakeSeam() {
    if (!have_seam_.load()) return false;
    std::lock_guard<std::mutex> lock(seam_mutex_);
    if (seams_.empty() || seams_.front() > consumed_.load()) return false;
    seams_.pop_front();
    have_seam_ = !seams_.empty();
    return true;
}

size_t StreamBuffer::Peek(uint8_t* out, size_t n) { return ring_ ? ring_->peek(out, BeforeSeam(n)) : 0; }

void StreamBuffer::Take(size_t n) {
    const size_t taken = ring_->read(nullptr, n);
    consumed_ += taken;
    if (want_space_.load()) SetEvent(space_);
}

Download::Download(StreamBuffer* buffer, PendingTitles* titles, TagStore* tags,
                   const DownloadOptions& options)
    : buffer_(buffer), titles_(titles), tags_(tags), options_(options) {}

Download::~Download() { Shutdown(); }

void Download::SetByteRate(uint32_t byte_rate) {
    overlap_.SetCapacity(overlap_history_bytes(byte_rate));
}

void Download::Begin(std::unique_ptr<HttpBody> body, uint32_t metaint, ReconnectTarget target) {
    body_ = std::move(body);
    demux_ = IcyDemux(metaint);
    target_ = std::move(target);
}

void Download::Begin(std::unique_ptr<AudioFeed> feed) { feed_ = std::move(feed); }

// A flag, not a look at the event: it is asked for every packet, and a look
// at an event is a call into the system.
bool Download::Stopped() const { return stopping_.load(); }

int Download::Read(uint8_t* buffer, int size, DWORD timeoutMs) {
    if (feed_) {
        const int n = feed_->Read(buffer, static_cast<size_t>(size), timeoutMs, &metas_);
        uint32_t silence_ms = 0;
        if (n > 0 && feed_->TakeBreak(&silence_ms)) breaks_.push_back({read_, silence_ms});
        if (n > 0) read_ += static_cast<uint64_t>(n);
        PassTitles(&metas_);
        return n;
    }
    const Deadline limit(timeoutMs);
    for (;;) {
        int n = body_->Read(buffer, size, limit.Left());
        if (n <= 0) return n;
        size_t audio = demux_.feed(buffer, static_cast<size_t>(n), buffer, &metas_);
        if (!metas_.empty() && joining_) {
            // Placed once it is known where the connection's audio goes on;
            // bounded as the queue of titles is: the newest gives way.
            for (IcyMeta& m : metas_) {
                if (join_metas_.size() < kMaxPendingTitles)
                    join_metas_.push_back(std::move(m));
                else
                    join_metas_.back() = std::move(m);
            }
            metas_.clear();
        } else if (!metas_.empty()) {
            newest_title_ = metas_.back().audio_offset;
            PassTitles(&metas_);
        }
        if (audio > 0) return static_cast<int>(audio);
        if (limit.Passed()) return kSocketTimeout;
    }
}

void Download::PassTitles(std::vector<IcyMeta>* metas) {
    if (metas->empty()) return;
    // Until something is heard, the first title is the one to show.
    if (!tags_->HasMeta()) tags_->SetMeta(metas->front().text);
    titles_->Add(metas);
}

bool Download::Deliver(const uint8_t* bytes, size_t n) {
    if (Stopped()) return false;
    overlap_.Delivered(bytes, n);
    Write(bytes, n);
    return PassOn(bytes, n);
}

void Download::Write(const uint8_t* bytes, size_t n) {
    // Bytes are delivered in the order they were read, so a break read
    // at a byte is marked when that byte goes into the ring.
    while (!breaks_.empty() && breaks_.front().at < delivered_ + n) {
        const size_t before = breaks_.front().at > delivered_ ? static_cast<size_t>(breaks_.front().at - delivered_) : 0;
        buffer_->Write(bytes, before);
        bytes += before;
        n -= before;
        delivered_ += before;
        buffer_->MarkSeam(breaks_.front().silence_ms);
        breaks_.pop_front();
    }
    buffer_->Write(bytes, n);
    delivered_ += n;
}

bool Download::PassOn(const uint8_t* bytes, size_t n) {
    if (Stopped()) return false;
    if (options_.proc) {
        options_.proc(bytes, static_cast<DWORD>(n), options_.user);
        // The callback may have freed the stream.
        if (Stopped()) return false;
    }
    return true;
}

bool Download::Start(std::shared_ptr<void> owner) {
    owner_ = std::move(owner);
    thread_ = CreateThread(nullptr, 0, Main, this, 0, &thread_id_);
    if (!thread_) owner_.reset();
    return thread_ != nullptr;
}

void Download::Shutdown() {
    stopping_ = true;
    if (options_.stop) SetEvent(options_.stop);
    if (thread_) {
        // From the download callback the thread ends by itself once it returns.
        if (GetCurrentThreadId() != thread_id_) WaitPumping(thread_);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
}

DWORD WINAPI Download::Main(void* param) {
    auto* self = static_cast<Download*>(param);
    std::shared_ptr<void> keep = std::move(self->owner_);
    self->Loop();
    return 0;
}

void Download::Loop() {
    std::vector<uint8_t> chunk(kNetChunk);
    bool stopped = false;
    int attempt = 0;
    uint64_t connected_at = buffer_->downloaded();
    for (;;) {
        if (Stopped()) {
            stopped = true;
            break;
        }
        const size_t room = buffer_->writable();
        if (room == 0) {
            buffer_->WaitForSpace(options_.stop);
            continue;
        }
        const int n = NextAudio(chunk.data(), static_cast<int>(std::min(room, chunk.size())), kPlayingStallMs);
        if (n == kSocketCancelled) {
            stopped = true;
            break;
        }
        if (n > 0) {
            if (!Deliver(chunk.data(), static_cast<size_t>(n))) {
                stopped = true;
                break;
            }
            continue;
        }
        // A feed makes a lost connection again itself: a timeout only ends
        // the wait, anything else is its end.
        if (feed_) {
            if (n == kSocketTimeout) continue;
            break;
        }
        // A body that ended by its own length is the end of the stream; a
        // connection that closed, failed or stalled is made again.
        if (n == 0 && body_->Complete()) break;
        if (buffer_->downloaded() - connected_at >= kHeldConnectionBytes) attempt = 0;
        const Reconnected r = Reconnect(&attempt);
        if (r == Reconnected::Stopped) stopped = true;
        if (r != Reconnected::Yes) break;
        connected_at = buffer_->downloaded();
    }
    buffer_->End();
    if (options_.proc && !stopped && !Stopped()) options_.proc(nullptr, 0, options_.user);
    body_.reset();
    feed_.reset();
}

Download::Reconnected Download::Reconnect(int* attempt) {
    body_.reset();  // the old connection goes first
    const DWORD lost = GetTickCount();
    for (;;) {
        const int32_t delay = reconnect_delay_ms(*attempt, GetTickCount() - lost);
        if (delay < 0) return Reconnected::GaveUp;
        if (delay > 0 && WaitForSingleObject(options_.stop, static_cast<DWORD>(delay)) == WAIT_OBJECT_0)
            return Reconnected::Stopped;
        if (Stopped()) return Reconnected::Stopped;
        ++*attempt;
        const DWORD used = GetTickCount() - lost;
        const Deadline deadline(used < kReconnectBudgetMs ? kReconnectBudgetMs - used : 0);
        HttpOpenOptions http;
        http.follow_playlists = target_.follow_playlists;
        http.cancel = target_.cancel;
        http.deadline = &deadline;
        HttpResponse response;
        const int r = HttpOpen(target_.url.c_str(), http, &response);
        if (r == kHttpCancelled) return Reconnected::Stopped;
        if (r != 0) continue;
        // The new connection's titles count on from the audio before it.
        demux_ = IcyDemux(response.head.icy_metaint(), demux_.audio_bytes());
        body_ = std::move(response.body);
        joined_at_ = demux_.audio_bytes();
        overlap_.Begin();
        join_metas_.clear();
        join_limit_ = Deadline(kOverlapWaitMs);
        joining_ = true;
        return Reconnected::Yes;
    }
}

int Download::NextAudio(uint8_t* buffer, int size, DWORD timeoutMs) {
    if (joining_ && !Join()) return kSocketCancelled;
    const std::vector<uint8_t>& held = overlap_.fresh();
    if (held_from_ < held.size()) {
        const size_t n = std::min(held.size() - held_from_, static_cast<size_t>(size));
        std::memcpy(buffer, held.data() + held_from_, n);
        held_from_ += n;
        if (held_from_ == held.size()) {
            overlap_.End();
            held_from_ = 0;
        }
        return static_cast<int>(n);
    }
    if (held_end_ <= 0) {
        const int end = held_end_;
        held_end_ = 1;
        return end;
    }
    return Read(buffer, size, timeoutMs);
}

bool Download::Join() {
    std::vector<uint8_t> chunk(kNetChunk);
    for (;;) {
        const size_t want = std::min(chunk.size(), overlap_.room());
        bool final = want == 0 || join_limit_.Passed();
        if (!final) {
            // The wait is far shorter than a stall: a timeout here only
            // ends the wait, the connection goes on.
            const int n = Read(chunk.data(), static_cast<int>(want), join_limit_.Cap(kPlayingStallMs));
            if (n == kSocketCancelled) return false;
            if (n > 0) {
                overlap_.Offer(chunk.data(), static_cast<size_t>(n));
            } else {
                final = true;
                if (n != kSocketTimeout) held_end_ = n;
            }
        }
        const Overlap o = overlap_.Decide(final);
        if (o.verdict != OverlapVerdict::Undecided) {
            EndJoin(o);
            return true;
        }
    }
}

void Download::EndJoin(const Overlap& overlap) {
    joining_ = false;
    uint64_t skip = 0;
    if (overlap.verdict == OverlapVerdict::Found) {
        // The bytes after the repeat go on from the last one delivered, frame
        // for frame: the decoder reads on as if nothing happened.
        skip = overlap.skip;
        demux_.discount(skip);
    } else {
        buffer_->MarkSeam();
        overlap_.Restart();
    }
    place_joined_titles(&join_metas_, joined_at_, skip, &newest_title_);
    PassTitles(&join_metas_);
    join_metas_.clear();
    held_from_ = static_cast<size_t>(skip);
    if (held_from_ >= overlap_.fresh().size()) {
        overlap_.End();
        held_from_ = 0;
    }
}

}  // namespace engine
