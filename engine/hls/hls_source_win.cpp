#include "engine/hls/hls_source_win.h"

#include <algorithm>
#include <cstring>

#include "engine/hls/fmp4.h"
#include "engine/hls/hls_follow.h"
#include "engine/net/http_win.h"
#include "engine/net/pending_titles.h"
#include "engine/net/reconnect.h"
#include "engine/include/bass.h"

namespace engine {

namespace {

constexpr size_t kFetchChunk = 16 * 1024;
constexpr uint32_t kBitsPerKilobit = 1000;
constexpr int kHttpPartialContent = 206;

// A body read that failed, as an engine error code.
int ReadFailure(int n) {
    if (n == kSocketCancelled) return kHttpCancelled;
    return n == kSocketTimeout ? BASS_ERROR_TIMEOUT : BASS_ERROR_FILEOPEN;
}

// Why a segment's audio could not be had, as the create reports it.
int DemuxFailure(hls::DemuxStatus status) {
    return status == hls::DemuxStatus::Unsupported ? BASS_ERROR_CODEC : BASS_ERROR_FILEFORM;
}

bool HeAacCodec(const hls::PlayChoice& choice) { return choice.codec == hls::CodecSupport::HeAac; }

std::string HeaderName(const std::string& line) {
    const size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : line.substr(0, colon + 1);
}

}  // namespace

HlsSource::HlsSource(std::vector<HANDLE> cancel) : cancel_(std::move(cancel)) {
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    data_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    space_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (stop_) cancel_.push_back(stop_);
}

HlsSource::~HlsSource() {
    if (stop_) SetEvent(stop_);
    if (thread_) {
        // Every wait of the thread ends at stop_; a name lookup it may be in
        // is left to end by itself (blocking_call_win.h).
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    for (HANDLE h : {stop_, data_, space_}) {
        if (h) CloseHandle(h);
    }
}

// ---- the creating thread ----------------------------------------------------

int HlsSource::Open(const Url& url, const std::string& playlist, const Deadline& deadline) {
    if (!stop_ || !data_ || !space_) return BASS_ERROR_MEM;
    hls::M3u8 parsed;
    if (hls::parse_m3u8(reinterpret_cast<const uint8_t*>(playlist.data()), playlist.size(), &parsed) !=
        hls::M3u8Status::Ok)
        return BASS_ERROR_FILEFORM;
    if (parsed.kind == hls::PlaylistKindHls::Media) {
        media_url_ = base_url_ = url;
        const int r = Join(parsed.media);
        if (r != 0) return r;
    } else {
        multivariant_ = std::move(parsed.multivariant);
        master_url_ = url;
        choices_ = hls::variant_order(multivariant_, kHlsBandwidthCap);
        if (choices_.empty()) return BASS_ERROR_CODEC;  // nothing we can decode
        int r = BASS_ERROR_FILEOPEN;
        for (;; ++chosen_) {
            if (chosen_ == choices_.size()) return first_error_ ? first_error_ : r;
            if (deadline.Passed()) return BASS_ERROR_TIMEOUT;
            const Deadline request(deadline.Cap(kHlsRequestMs));
            r = LoadChoice(request);
            if (r == kHttpCancelled) return r;
            if (r == 0) break;
            if (!first_error_) first_error_ = r;
        }
    }
    thread_ = CreateThread(nullptr, 0, Main, this, 0, nullptr);
    return thread_ ? 0 : BASS_ERROR_MEM;
}

std::vector<std::string> HlsSource::TagLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    if (chosen_ >= choices_.size()) return lines;
    const hls::Variant& v = multivariant_.variants[choices_[chosen_].variant];
    if (!v.name.empty()) lines.push_back("icy-name:" + v.name);
    const uint64_t bps = v.average_bandwidth ? v.average_bandwidth : v.bandwidth;
    if (bps > 0) lines.push_back("icy-br:" + std::to_string((bps + kBitsPerKilobit / 2) / kBitsPerKilobit));
    return lines;
}

std::vector<std::string> HlsSource::WithTagLines(std::vector<std::string> head) const {
    for (const std::string& line : TagLines()) {
        // What the server's own headers say stays.
        const std::string name = HeaderName(line);
        const bool said = std::any_of(head.begin(), head.end(), [&](const std::string& h) {
            return h.size() >= name.size() && _strnicmp(h.c_str(), name.c_str(), name.size()) == 0;
        });
        if (!said) head.push_back(line);
    }
    return head;
}

// ---- the reader ---------------------------------------------------------------

int HlsSource::Read(uint8_t* buffer, size_t size, uint32_t timeout_ms, std::vector<IcyMeta>* titles) {
    const Deadline deadline(timeout_ms);
    took_break_ = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!queue_.empty() && size > 0) {
                Piece& p = queue_.front();
                if (front_used_ == 0 && p.break_before) {
                    took_break_ = true;
                    took_silence_ms_ = p.silence_ms;
                }
                const size_t n = std::min(size, p.bytes.size() - front_used_);
                std::memcpy(buffer, p.bytes.data() + front_used_, n);
                front_used_ += n;
                queued_ -= n;
                handed_ += n;
                if (front_used_ == p.bytes.size()) {
                    queue_.pop_front();
                    front_used_ = 0;
                }
                // Titles go with the bytes they are heard in.
                while (!titles_.empty() && titles_.front().audio_offset < handed_) {
                    titles->push_back(std::move(titles_.front()));
                    titles_.pop_front();
                }
                SetEvent(space_);
                return static_cast<int>(n);
            }
            if (ended_) return error_ ? kSocketError : 0;
        }
        const int w = WaitOrCancel(data_, cancel_, deadline.Left());
        if (w != kSocketOk) return w;
    }
}

bool HlsSource::TakeBreak(uint32_t* silence_ms) {
    if (!took_break_) return false;
    took_break_ = false;
    *silence_ms = took_silence_ms_;
    return true;
}

int HlsSource::Error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

// ---- the thread -------------------------------------------------------------

DWORD WINAPI HlsSource::Main(void* param) {
    auto* self = static_cast<HlsSource*>(param);
    self->Finish(self->Follow());
    return 0;
}

void HlsSource::Finish(int result) {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    error_ = result == kHttpCancelled ? 0 : result;
    SetEvent(data_);
}

bool HlsSource::Stopping() const {
    return WaitForMultipleObjects(static_cast<DWORD>(cancel_.size()), cancel_.data(), FALSE, 0) != WAIT_TIMEOUT;
}

int HlsSource::Pause(DWORD ms) {
    const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(cancel_.size()), cancel_.data(), FALSE, ms);
    return r == WAIT_TIMEOUT ? kSocketOk : kSocketCancelled;
}

int HlsSource::WaitForRoom() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queued_ < kHlsQueueBytes) return 0;
        }
        const int w = WaitOrCancel(space_, cancel_, INFINITE);
        if (w != kSocketOk) return kHttpCancelled;
    }
}

int HlsSource::Follow() {
    for (;;) {
        if (Stopping()) return kHttpCancelled;
        const hls::MediaSegment* segment = hls::find_segment(list_, next_);
        if (!segment && !list_.segments.empty() && next_ < list_.media_sequence) {
            // The window moved on past what was not fetched in time: it can
            // no longer be had, and what comes next does not continue it.
            pending_break_ = true;
            next_ = list_.media_sequence;
            continue;
        }
        if (!segment) {
            if (list_.endlist) return 0;
            const int r = Reload();
            if (r != 0) return r;
            continue;
        }
        if (WaitForRoom() != 0) return kHttpCancelled;
        switch (PlaySegment(*segment)) {
        case SegmentResult::Cancelled: return kHttpCancelled;
        case SegmentResult::Refused: return BASS_ERROR_CODEC;
        case SegmentResult::Played:
            failing_ = false;
            ++next_;
            continue;
        case SegmentResult::Failed:
        case SegmentResult::Unplayable:
            break;
        }
        if (produced_ == 0) {
            // Nothing of this variant played: the next one is tried.
            const int r = NextVariant();
            if (r != 0) return r;
            continue;
        }
        // Skipped: the stretch it held is heard as silence, so the clock
        // goes on; failing for longer than a lost connection may last ends it.
        const DWORD now = GetTickCount();
        if (!failing_) {
            failing_ = true;
            failing_since_ = now;
        } else if (now - failing_since_ >= kReconnectBudgetMs) {
            return failure_code_ ? failure_code_ : BASS_ERROR_FILEOPEN;
        }
        pending_break_ = true;
        pending_silence_ms_ = std::min(pending_silence_ms_ + segment->duration_ms, kMaxGapMs);
        ++next_;
    }
}

int HlsSource::Join(const hls::MediaPlaylist& list) {
    const size_t start = hls::start_index(list);
    if (start < list.segments.size()) {
        const int key = list.segments[start].key;
        if (key >= 0 && static_cast<size_t>(key) < list.keys.size() &&
            list.keys[static_cast<size_t>(key)].method != hls::KeyMethod::Aes128)
            return BASS_ERROR_CODEC;
    }
    list_ = list;
    next_ = list.media_sequence + start;
    loaded_at_ = advanced_at_ = GetTickCount();
    unchanged_ = lost_ = false;
    reload_failures_ = 0;
    return 0;
}

int HlsSource::LoadChoice(const Deadline& deadline) {
    const hls::PlayChoice& choice = choices_[chosen_];
    Url url;
    if (resolve_url(master_url_, choice.uri.c_str(), &url) != UrlStatus::Ok) return BASS_ERROR_FILEFORM;
    Fetched list;
    int r = Fetch(url, nullptr, hls::kMaxM3u8Bytes, deadline, &list);
    if (r != 0) return r;
    hls::M3u8 parsed;
    if (hls::parse_m3u8(list.bytes.data(), list.bytes.size(), &parsed) != hls::M3u8Status::Ok ||
        parsed.kind != hls::PlaylistKindHls::Media)
        return BASS_ERROR_FILEFORM;
    r = Join(parsed.media);
    if (r != 0) return r;
    media_url_ = url;
    base_url_ = list.url;
    he_aac_ = HeAacCodec(choice);
    return 0;
}

int HlsSource::NextVariant() {
    if (!first_error_) first_error_ = failure_code_ ? failure_code_ : BASS_ERROR_FILEOPEN;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (chosen_ + 1 >= choices_.size()) return first_error_;
            ++chosen_;
        }
        const Deadline request(kHlsRequestMs);
        const int r = LoadChoice(request);
        if (r == kHttpCancelled || r == 0) return r;
    }
}

int HlsSource::Reload() {
    DWORD wait = 0;
    const DWORD now = GetTickCount();
    if (reload_failures_ > 0) {
        // Failing: tried again as a lost connection is.
        const int32_t delay = reconnect_delay_ms(reload_failures_ - 1, now - lost_at_);
        if (delay < 0) return BASS_ERROR_FILEOPEN;
        wait = static_cast<DWORD>(delay);
    } else {
        const DWORD due = hls::reload_delay_ms(list_.target_duration_s, unchanged_);
        const DWORD since = now - loaded_at_;
        wait = since < due ? due - since : 0;
    }
    if (Pause(wait) != kSocketOk) return kHttpCancelled;
    loaded_at_ = GetTickCount();
    const Deadline request(kHlsRequestMs);
    Fetched fetched;
    const int r = Fetch(media_url_, nullptr, hls::kMaxM3u8Bytes, request, &fetched);
    if (r == kHttpCancelled) return r;
    hls::M3u8 parsed;
    const bool ok = r == 0 &&
                    hls::parse_m3u8(fetched.bytes.data(), fetched.bytes.size(), &parsed) == hls::M3u8Status::Ok &&
                    parsed.kind == hls::PlaylistKindHls::Media;
    const DWORD at = GetTickCount();
    if (ok) {
        hls::MediaPlaylist& fresh = parsed.media;
        const uint64_t old_end = list_.media_sequence + list_.segments.size();
        const uint64_t new_end = fresh.media_sequence + fresh.segments.size();
        base_url_ = fetched.url;
        if (new_end < next_) {
            // The sequence went back (the server started over): joined anew.
            const int joined = Join(fresh);
            if (joined != 0) return joined;
            pending_break_ = true;
        } else {
            list_ = std::move(fresh);
            if (new_end > old_end || list_.endlist) {
                advanced_at_ = at;
                unchanged_ = lost_ = false;
            } else {
                unchanged_ = true;
            }
        }
        reload_failures_ = 0;
    } else {
        ++reload_failures_;
        if (!lost_) {
            lost_ = true;
            lost_at_ = at;
        }
    }
    const DWORD stall = hls::stall_ms(list_.target_duration_s);
    if (!lost_ && !list_.endlist && at - advanced_at_ >= stall) {
        lost_ = true;
        lost_at_ = advanced_at_ + stall;
    }
    if (lost_ && at - lost_at_ >= kReconnectBudgetMs) return BASS_ERROR_FILEOPEN;
    return 0;
}

HlsSource::SegmentResult HlsSource::PlaySegment(const hls::MediaSegment& segment) {
    SegmentResult result = SegmentResult::Failed;
    for (int attempt = 0; attempt < kSegmentTries; ++attempt) {
        if (attempt > 0 && Pause(kSegmentRetryMs * static_cast<DWORD>(attempt)) != kSocketOk)
            return SegmentResult::Cancelled;
        hls::SegmentOutput out;
        result = Demux(segment, &out);
        if (result == SegmentResult::Played) {
            Queue(segment, &out);
            return result;
        }
        // Only the network may do better next time.
        if (result != SegmentResult::Failed) return result;
    }
    return result;
}

HlsSource::SegmentResult HlsSource::Demux(const hls::MediaSegment& segment, hls::SegmentOutput* out) {
    const Deadline deadline(kHlsRequestMs);
    const hls::Key* key = nullptr;
    if (segment.key >= 0 && static_cast<size_t>(segment.key) < list_.keys.size()) {
        key = &list_.keys[static_cast<size_t>(segment.key)];
        if (key->method != hls::KeyMethod::Aes128) return SegmentResult::Refused;
    }
    int r = key ? Key(*key, deadline) : 0;
    if (r == 0 && segment.map >= 0 && static_cast<size_t>(segment.map) < list_.maps.size())
        r = InitSection(list_.maps[static_cast<size_t>(segment.map)], segment.sequence, deadline);
    if (r == kHttpCancelled) return SegmentResult::Cancelled;
    if (r == BASS_ERROR_CODEC) return SegmentResult::Refused;
    Url url;
    if (r == 0 && resolve_url(base_url_, segment.uri.c_str(), &url) != UrlStatus::Ok) r = BASS_ERROR_FILEFORM;
    Fetched fetched;
    if (r == 0) r = Fetch(url, segment.has_range ? &segment.range : nullptr, kMaxSegmentBytes, deadline, &fetched);
    if (r == kHttpCancelled) return SegmentResult::Cancelled;
    if (r == 0 && key) {
        if (!aes_.Decrypt(hls::segment_iv(*key, segment.sequence), &fetched.bytes)) r = BASS_ERROR_FILEFORM;
    }
    if (r != 0) {
        failure_code_ = r;
        return SegmentResult::Failed;
    }

    const bool mapped = segment.map >= 0 && !map_bytes_.empty();
    const std::vector<uint8_t>& first = mapped ? map_bytes_ : fetched.bytes;
    const hls::SegmentFormat format = hls::sniff_segment(first.data(), first.size());
    std::unique_ptr<hls::SegmentDemuxer> demuxer;
    if (format == hls::SegmentFormat::Fmp4)
        demuxer = std::make_unique<hls::Fmp4Demuxer>();  // its init comes with the bytes
    else
        demuxer = hls::make_segment_demuxer(format, nullptr);
    if (!demuxer) {
        failure_code_ = BASS_ERROR_FILEFORM;
        return SegmentResult::Unplayable;
    }
    if (mapped) demuxer->push(map_bytes_.data(), map_bytes_.size(), out);
    demuxer->push(fetched.bytes.data(), fetched.bytes.size(), out);
    const hls::DemuxStatus status = demuxer->end(out);
    if (demuxer->he_aac()) he_aac_ = true;
    if (status != hls::DemuxStatus::Ok) {
        failure_code_ = DemuxFailure(status);
        return SegmentResult::Unplayable;
    }
    bool audio = false;
    for (const hls::AudioChunk& c : out->audio) {
        // One decoder plays the stream: its kind of audio cannot change.
        if (have_kind_ && c.kind != kind_) {
            failure_code_ = BASS_ERROR_FILEFORM;
            return SegmentResult::Unplayable;
        }
        audio = audio || !c.bytes.empty();
    }
    if (!audio) {
        failure_code_ = BASS_ERROR_FILEFORM;
        return SegmentResult::Unplayable;
    }
    return SegmentResult::Played;
}

void HlsSource::Queue(const hls::MediaSegment& segment, hls::SegmentOutput* out) {
    const uint64_t start = produced_;
    uint64_t at = start;
    if (segment.discontinuity) last_time_ = hls::kNoTime;  // its times start afresh
    const bool breaks = produced_ > 0 && (pending_break_ || segment.discontinuity);
    std::vector<Piece> pieces;
    std::vector<hls::PlacedChunk> placed;
    for (hls::AudioChunk& c : out->audio) {
        if (c.bytes.empty()) continue;
        if (!have_kind_) {
            have_kind_ = true;
            kind_ = c.kind;
        }
        if (pieces.empty() || c.after_gap) {
            // Bytes lost inside the segment: the decoder starts afresh there.
            Piece p;
            p.break_before = pieces.empty() ? breaks : at > 0;
            p.silence_ms = pieces.empty() && breaks ? pending_silence_ms_ : 0;
            pieces.push_back(std::move(p));
        }
        int64_t time = hls::kNoTime;
        if (c.time != hls::kNoTime) time = last_time_ = hls::pts_unwrap(last_time_, c.time);
        placed.push_back({at, time});
        std::vector<uint8_t>& bytes = pieces.back().bytes;
        bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
        at += c.bytes.size();
    }

    std::vector<IcyMeta> titles;
    if (!out->titles.empty()) id3_titles_ = true;
    if (!id3_titles_ && !segment.title.empty()) titles.push_back({start, hls::stream_title(segment.title)});
    int64_t reference = hls::kNoTime;
    for (const hls::PlacedChunk& p : placed) {
        if (p.time != hls::kNoTime) {
            reference = p.time;
            break;
        }
    }
    for (const hls::TimedTitle& t : out->titles) {
        const int64_t time = t.time == hls::kNoTime ? hls::kNoTime : hls::pts_unwrap(reference, t.time);
        titles.push_back({hls::place_title(placed, time, start, at), hls::stream_title(t.text)});
    }
    std::stable_sort(titles.begin(), titles.end(),
                     [](const IcyMeta& a, const IcyMeta& b) { return a.audio_offset < b.audio_offset; });

    pending_break_ = false;
    pending_silence_ms_ = 0;
    produced_ = at;
    std::lock_guard<std::mutex> lock(mutex_);
    for (Piece& p : pieces) {
        queued_ += p.bytes.size();
        queue_.push_back(std::move(p));
    }
    for (IcyMeta& t : titles) {
        // Bounded as the queue of titles to be heard is: the newest gives way.
        if (titles_.size() < kMaxPendingTitles)
            titles_.push_back(std::move(t));
        else
            titles_.back() = std::move(t);
    }
    SetEvent(data_);
}

// ---- fetching ---------------------------------------------------------------

int HlsSource::Fetch(const Url& url, const hls::ByteRange* range, size_t limit, const Deadline& deadline,
                     Fetched* out) {
    HttpOpenOptions options;
    options.raw = true;
    options.cancel = cancel_;
    options.deadline = &deadline;
    uint64_t want = static_cast<uint64_t>(limit);
    if (range) {
        if (range->length == 0 || range->length > limit) return BASS_ERROR_FILEFORM;
        options.range_offset = range->offset;
        options.range_length = range->length;
        want = range->length;
    }
    HttpResponse response;
    const std::string text = url_to_string(url);
    int r = HttpOpen(text.c_str(), options, &response);
    if (r != 0) return r;
    out->status = response.head.status;
    out->url = response.url;
    // A server that ignores the range sends all of it.
    uint64_t skip = range && out->status != kHttpPartialContent ? range->offset : 0;
    std::vector<uint8_t> chunk(kFetchChunk);
    out->bytes.clear();
    for (;;) {
        // A range takes exactly its bytes; a whole body one over the limit
        // tells it is too large.
        const uint64_t left = range ? skip + (want - out->bytes.size()) : want + 1 - out->bytes.size();
        if (left == 0) break;
        const int n = response.body->Read(chunk.data(), static_cast<int>(std::min<uint64_t>(chunk.size(), left)),
                                          deadline.Cap(kStallTimeoutMs));
        if (n == 0) break;
        if (n < 0) return ReadFailure(n);
        size_t from = static_cast<size_t>(std::min<uint64_t>(skip, static_cast<uint64_t>(n)));
        skip -= from;
        out->bytes.insert(out->bytes.end(), chunk.begin() + static_cast<long>(from), chunk.begin() + n);
        if (out->bytes.size() > want) return BASS_ERROR_FILEFORM;
    }
    if (range && out->bytes.size() < want) return BASS_ERROR_FILEOPEN;  // cut short
    if (!range && response.head.content_length() >= 0 && !response.body->Complete()) return BASS_ERROR_FILEOPEN;
    return 0;
}

int HlsSource::Key(const hls::Key& key, const Deadline& deadline) {
    if (have_key_ && key.uri == key_uri_) return 0;
    have_key_ = false;
    Url url;
    if (resolve_url(base_url_, key.uri.c_str(), &url) != UrlStatus::Ok) return BASS_ERROR_FILEFORM;
    Fetched fetched;
    const int r = Fetch(url, nullptr, kMaxKeyResponseBytes, deadline, &fetched);
    if (r != 0) return r;
    if (fetched.bytes.size() != kAes128KeyBytes) return BASS_ERROR_FILEFORM;
    uint8_t secret[kAes128KeyBytes];
    std::copy_n(fetched.bytes.data(), kAes128KeyBytes, secret);
    if (!aes_.SetKey(secret)) return BASS_ERROR_CODEC;
    key_uri_ = key.uri;
    have_key_ = true;
    return 0;
}

int HlsSource::InitSection(const hls::InitSection& map, uint64_t sequence, const Deadline& deadline) {
    std::string id = map.uri;
    if (map.has_range) id += "@" + std::to_string(map.range.offset) + "+" + std::to_string(map.range.length);
    if (id == map_id_) return 0;
    map_id_.clear();
    map_bytes_.clear();
    const hls::Key* key = nullptr;
    if (map.key >= 0 && static_cast<size_t>(map.key) < list_.keys.size()) {
        key = &list_.keys[static_cast<size_t>(map.key)];
        if (key->method != hls::KeyMethod::Aes128) return BASS_ERROR_CODEC;
    }
    Url url;
    if (resolve_url(base_url_, map.uri.c_str(), &url) != UrlStatus::Ok) return BASS_ERROR_FILEFORM;
    Fetched fetched;
    int r = Fetch(url, map.has_range ? &map.range : nullptr, hls::kMaxInitBytes, deadline, &fetched);
    if (r == 0 && key) r = Key(*key, deadline);
    if (r != 0) return r;
    if (key) {
        if (!aes_.Decrypt(hls::segment_iv(*key, sequence), &fetched.bytes)) return BASS_ERROR_FILEFORM;
    }
    map_bytes_ = std::move(fetched.bytes);
    map_id_ = std::move(id);
    return 0;
}

}  // namespace engine
