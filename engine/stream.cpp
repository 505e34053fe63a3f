#include "engine/stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/dsp/levels.h"
#include "engine/dsp/mixer_frame.h"
#include "engine/engine.h"

namespace engine {

namespace {

constexpr size_t kNetChunk = 16 * 1024;
constexpr size_t kDecodeChunk = 4096;        // bytes handed to a decoder at a time
constexpr size_t kVorbisFrames = 1024;       // frames asked of the Vorbis decoder at a time
constexpr size_t kMaxVorbisChannels = 255;  // the most a Vorbis stream can carry
constexpr size_t kHistoryFrames = 16384;     // played audio kept for levels and spectrum
constexpr size_t kMaxPendingMetas = 256;
constexpr size_t kMaxHeaderBytes = 256 * 1024;  // Vorbis headers larger than this are refused
constexpr size_t kKeptTagVersions = 16;      // old tag texts stay valid this long
constexpr float kMinFreq = 100.0f;
constexpr float kMaxFreq = 384000.0f;
constexpr int kPrebufferWaitMs = 50;
constexpr DWORD kArrivedGraceMs = 5;  // how long create waits for bytes already on their way

std::string TagList(const std::vector<std::string>& items) {
    std::string list;
    for (const auto& s : items) {
        list += s;
        list += '\0';
    }
    list += '\0';
    return list;
}

template <typename T>
void KeepRecent(std::deque<T>* d) {
    while (d->size() > kKeptTagVersions) d->pop_front();
}

uint32_t ReadLe32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

Stream::Stream(const StreamOptions& options) : options_(options), history_(kHistoryFrames * 2) {
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    space_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    data_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

Stream::~Stream() {
    Shutdown();
    for (HANDLE h : {stop_, space_, data_}) {
        if (h) CloseHandle(h);
    }
}

int Stream::Connect(const char* url) {
    if (!stop_ || !space_ || !data_) return BASS_ERROR_MEM;
    if (!winsock_.ok()) return BASS_ERROR_FILEOPEN;
    HttpOpenOptions http;
    http.follow_playlists = options_.follow_playlists;
    http.cancel = {options_.cancel, stop_};
    if ((options_.flags & BASS_STREAM_STATUS) && options_.proc) {
        DOWNLOADPROC* proc = options_.proc;
        void* user = options_.user;
        http.status = [proc, user](const std::string& line) { proc(line.c_str(), 0, user); };
    }
    HttpResponse response;
    int r = HttpOpen(url, http, &response);
    if (r != 0) return r;

    std::vector<std::string> lines;
    lines.push_back(response.head.status_line);
    lines.insert(lines.end(), response.head.lines.begin(), response.head.lines.end());
    if (response.head.protocol == HeadProtocol::Icy)
        icy_tags_ = TagList(lines);
    else
        http_tags_ = TagList(lines);
    demux_ = IcyDemux(response.head.icy_metaint());
    body_ = std::move(response.body);

    // Enough of the start to tell what it is.
    std::vector<uint8_t> first;
    std::vector<uint8_t> buffer(kNetChunk);
    StreamFormat format = StreamFormat::NeedMore;
    while (format == StreamFormat::NeedMore) {
        int n = ReadAudio(buffer.data(), static_cast<int>(buffer.size()), kStallTimeoutMs);
        if (n == kSocketCancelled) return kHttpCancelled;
        if (n < 0 && n != kSocketClosed) return n == kSocketTimeout ? BASS_ERROR_TIMEOUT
                                                                    : BASS_ERROR_FILEOPEN;
        if (n > 0) first.insert(first.end(), buffer.begin(), buffer.begin() + n);
        bool at_end = n <= 0 || first.size() >= kSniffLimit + kSniffMaxId3Bytes;
        format = sniff_format(first.data(), first.size(), at_end);
        if (at_end && format == StreamFormat::NeedMore) format = StreamFormat::Unknown;
    }
    if (format == StreamFormat::Unknown) return BASS_ERROR_FILEFORM;
    format_ = format;

    const uint32_t rate = ByteRate(first);
    prebuffer_bytes_ = static_cast<uint64_t>(rate) * kPrebufferMs / 1000;
    size_t capacity = static_cast<size_t>(rate) * (kBufferMs / 1000);
    capacity = std::max(capacity, std::max(kMinBufferBytes, first.size()));
    capacity = std::min(capacity, kMaxBufferBytes);
    ring_ = std::make_unique<RingBuffer<uint8_t>>(std::max(capacity, first.size()));
    ring_->write(first.data(), first.size());
    downloaded_ = first.size();

    r = SetUpDecoder(first);
    if (r != 0) return r;

    // Whatever has already arrived (a server's burst) is taken now, so the
    // player's first look at the buffer can find it full.
    while (downloaded_.load() - consumed_.load() < prebuffer_bytes_ && ring_->writable() > 0) {
        int want = static_cast<int>(std::min(ring_->writable(), buffer.size()));
        int n = ReadAudio(buffer.data(), want, kArrivedGraceMs);
        if (n == kSocketCancelled) return kHttpCancelled;
        if (n <= 0) break;
        ring_->write(buffer.data(), static_cast<size_t>(n));
        downloaded_ += static_cast<uint64_t>(n);
    }

    auto* keep = new std::shared_ptr<Stream>(shared_from_this());
    thread_ = CreateThread(nullptr, 0, DownloadMain, keep, 0, &thread_id_);
    if (!thread_) {
        delete keep;
        return BASS_ERROR_MEM;
    }

    // The engine's own prebuffering, a share of the END position.
    const uint64_t want = prebuffer_bytes_ * options_.prebuffer_percent / 100;
    HANDLE waits[3] = {options_.cancel, stop_, data_};
    while (downloaded_.load() - consumed_.load() < want && !input_ended_.load()) {
        DWORD w = WaitForMultipleObjects(3, waits, FALSE, kPrebufferWaitMs);
        if (w == WAIT_OBJECT_0 || w == WAIT_OBJECT_0 + 1) return kHttpCancelled;
    }
    return 0;
}

uint32_t Stream::ByteRate(const std::vector<uint8_t>& first) const {
    uint32_t rate = 0;
    if (format_ == StreamFormat::Mpeg) {
        MpegFramer probe;
        probe.push(first.data(), std::min(first.size(), kMpegFramerCapacity));
        MpegFrame frame;
        if (probe.next_frame(&frame)) rate = static_cast<uint32_t>(frame.header.bitrate_kbps) * 125;
    } else if (format_ == StreamFormat::Ogg) {
        OggPageReader pages;
        pages.push(first.data(), first.size());
        OggPage page;
        // The identification header: nominal bit rate at byte 20, maximum at 16.
        if (pages.next_page(&page) && page.body_size >= 28 &&
            memcmp(page.body, "\x01vorbis", 7) == 0) {
            int32_t nominal = static_cast<int32_t>(ReadLe32(page.body + 20));
            int32_t maximum = static_cast<int32_t>(ReadLe32(page.body + 16));
            int32_t bits = nominal > 0 ? nominal : maximum;
            if (bits > 0) rate = static_cast<uint32_t>(bits) / 8;
        }
    }
    if (rate == 0) {
        const char* br = nullptr;
        for (const std::string* tags : {&icy_tags_, &http_tags_}) {
            for (const char* p = tags->c_str(); !br && *p; p += strlen(p) + 1) {
                if (_strnicmp(p, "icy-br:", 7) == 0) br = p + 7;
            }
        }
        if (br) rate = static_cast<uint32_t>(atoi(br)) * 125;
    }
    return rate > 0 ? rate : kDefaultByteRate;
}

int Stream::SetUpDecoder(const std::vector<uint8_t>& first) {
    if (format_ == StreamFormat::Mpeg) {
        MpegFramer probe;
        probe.push(first.data(), std::min(first.size(), kMpegFramerCapacity));
        MpegFrame frame;
        if (!probe.next_frame(&frame)) return BASS_ERROR_FILEFORM;
        // The compression manager's MPEG codec is a layer III one.
        if (frame.header.layer != 3) return BASS_ERROR_CODEC;
        if (!mp3_.Open(frame.header.sample_rate, frame.header.channels, frame.header.bitrate_kbps))
            return BASS_ERROR_CODEC;
        SetSourceRate(frame.header.sample_rate);
        return 0;
    }
    vorbis_ = std::make_unique<VorbisStream>();
    // Read on to the first audio so the comments are there at once; the
    // download thread is not running yet, so the network is ours.
    std::vector<uint8_t> buffer(kNetChunk);
    size_t read = 0;
    while (!vorbis_->ready() && !vorbis_->failed()) {
        if (DecodeVorbis()) continue;
        if (read > kMaxHeaderBytes || ring_->writable() < buffer.size()) break;
        int n = ReadAudio(buffer.data(), static_cast<int>(buffer.size()), kStallTimeoutMs);
        if (n == kSocketCancelled) return kHttpCancelled;
        if (n <= 0) break;
        ring_->write(buffer.data(), static_cast<size_t>(n));
        downloaded_ += static_cast<uint64_t>(n);
        read += static_cast<size_t>(n);
    }
    if (vorbis_->failed() || !vorbis_->ready()) return BASS_ERROR_FILEFORM;
    return 0;
}

QWORD Stream::FilePosition(DWORD mode, int* error) const {
    switch (mode) {
    case BASS_FILEPOS_CURRENT: return consumed_.load();
    case BASS_FILEPOS_DOWNLOAD: return downloaded_.load();
    case BASS_FILEPOS_END: return prebuffer_bytes_;
    default: *error = BASS_ERROR_ILLTYPE; return static_cast<QWORD>(-1);
    }
}

const char* Stream::Tags(DWORD type) {
    std::lock_guard<std::mutex> lock(tag_mutex_);
    switch (type) {
    case BASS_TAG_HTTP: return http_tags_.empty() ? nullptr : http_tags_.c_str();
    case BASS_TAG_ICY: return icy_tags_.empty() ? nullptr : icy_tags_.c_str();
    case BASS_TAG_META: return meta_.empty() ? nullptr : meta_.back().c_str();
    case BASS_TAG_OGG: return ogg_.empty() ? nullptr : ogg_.back().c_str();
    default: return nullptr;
    }
}

HSYNC Stream::AddSync(DWORD type, SYNCPROC* proc, void* user) {
    std::lock_guard<std::mutex> lock(sync_mutex_);
    HSYNC h = next_sync_++;
    syncs_.push_back({h, type, proc, user});
    return h;
}

int Stream::SetAttribute(DWORD attrib, float value) {
    if (std::isnan(value)) return BASS_ERROR_ILLPARAM;
    std::lock_guard<std::mutex> lock(attr_mutex_);
    switch (attrib) {
    case BASS_ATTRIB_VOL: volume_.set(std::clamp(value, 0.0f, 1.0f)); return 0;
    case BASS_ATTRIB_PAN: pan_.set(std::clamp(value, -1.0f, 1.0f)); return 0;
    case BASS_ATTRIB_FREQ:
        if (value == 0.0f) value = static_cast<float>(source_rate_);  // back to the original
        if (value < kMinFreq || value > kMaxFreq) return BASS_ERROR_ILLPARAM;
        freq_.set(value);
        return 0;
    default: return BASS_ERROR_ILLTYPE;
    }
}

int Stream::GetAttribute(DWORD attrib, float* value) {
    if (!value) return BASS_ERROR_ILLPARAM;
    std::lock_guard<std::mutex> lock(attr_mutex_);
    switch (attrib) {
    case BASS_ATTRIB_VOL: *value = volume_.value(); return 0;
    case BASS_ATTRIB_PAN: *value = pan_.value(); return 0;
    case BASS_ATTRIB_FREQ: *value = freq_.value(); return 0;
    default: return BASS_ERROR_ILLTYPE;
    }
}

int Stream::SlideAttribute(DWORD attrib, float value, DWORD ms) {
    if (std::isnan(value)) return BASS_ERROR_ILLPARAM;
    std::lock_guard<std::mutex> lock(attr_mutex_);
    switch (attrib) {
    case BASS_ATTRIB_VOL: volume_.slide_to(std::clamp(value, 0.0f, 1.0f), ms); return 0;
    case BASS_ATTRIB_PAN: pan_.slide_to(std::clamp(value, -1.0f, 1.0f), ms); return 0;
    case BASS_ATTRIB_FREQ:
        if (value < kMinFreq || value > kMaxFreq) return BASS_ERROR_ILLPARAM;
        freq_.slide_to(value, ms);
        return 0;
    default: return BASS_ERROR_ILLTYPE;
    }
}

void Stream::Shutdown() {
    if (stop_) SetEvent(stop_);
    if (thread_) {
        // From the download callback the thread ends by itself once it returns.
        if (GetCurrentThreadId() != thread_id_) WaitPumping(thread_);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
}

// ---- download thread -------------------------------------------------------

DWORD WINAPI Stream::DownloadMain(void* param) {
    std::shared_ptr<Stream> self = std::move(*static_cast<std::shared_ptr<Stream>*>(param));
    delete static_cast<std::shared_ptr<Stream>*>(param);
    self->DownloadLoop();
    return 0;
}

void Stream::DownloadLoop() {
    std::vector<uint8_t> buffer(kNetChunk);
    const bool pass_data = options_.proc && !(options_.flags & BASS_STREAM_STATUS);
    bool cancelled = false;
    for (;;) {
        size_t room = ring_->writable();
        if (room == 0) {
            HANDLE waits[2] = {stop_, space_};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
                cancelled = true;
                break;
            }
            continue;
        }
        int want = static_cast<int>(std::min(room, buffer.size()));
        int n = ReadAudio(buffer.data(), want, kStallTimeoutMs);
        if (n == kSocketCancelled) {
            cancelled = true;
            break;
        }
        if (n <= 0) break;  // closed, stalled or failed: the stream ends
        ring_->write(buffer.data(), static_cast<size_t>(n));
        downloaded_ += static_cast<uint64_t>(n);
        SetEvent(data_);
        if (pass_data) options_.proc(buffer.data(), static_cast<DWORD>(n), options_.user);
    }
    input_ended_ = true;
    SetEvent(data_);
    if (pass_data && !cancelled) options_.proc(nullptr, 0, options_.user);
    body_.reset();
}

int Stream::ReadAudio(uint8_t* buffer, int size, DWORD timeoutMs) {
    for (;;) {
        int n = body_->Read(buffer, size, timeoutMs);
        if (n <= 0) return n;
        size_t audio = demux_.feed(buffer, static_cast<size_t>(n), buffer, &new_metas_);
        TakeMetas();
        if (audio > 0) return static_cast<int>(audio);
    }
}

void Stream::TakeMetas() {
    if (new_metas_.empty()) return;
    {
        std::lock_guard<std::mutex> lock(tag_mutex_);
        // Until something is heard, the first title is the one to show.
        if (meta_.empty()) meta_.push_back(new_metas_.front().text);
    }
    std::lock_guard<std::mutex> lock(meta_mutex_);
    for (auto& m : new_metas_) {
        // Servers repeat the title in every block; only changes matter.
        if (!metas_.empty() && metas_.back().text == m.text) continue;
        if (metas_.size() >= kMaxPendingMetas) metas_.pop_front();
        metas_.push_back(std::move(m));
    }
    new_metas_.clear();
}

// ---- decoder (mixer thread) -----------------------------------------------

void Stream::SetSourceRate(int rate) {
    std::lock_guard<std::mutex> lock(attr_mutex_);
    // A rate the user set stays; the stream's own one follows the stream.
    if (source_rate_ == 0 || freq_.value() == static_cast<float>(source_rate_))
        freq_.set(static_cast<float>(rate));
    source_rate_ = rate;
}

void Stream::PlaceMetaMarkers(uint64_t byte_offset) {
    std::lock_guard<std::mutex> lock(meta_mutex_);
    while (!metas_.empty() && metas_.front().audio_offset <= byte_offset) {
        Marker m;
        m.at = decoded_;
        m.type = BASS_SYNC_META;
        m.text = std::move(metas_.front().text);
        markers_.push_back(std::move(m));
        metas_.pop_front();
    }
}

void Stream::AppendPcm(const float* frames, size_t count, int channels) {
    if (pcm_pos_ > 0 && pcm_pos_ * 2 >= pcm_.size() / 2) {
        pcm_.erase(pcm_.begin(), pcm_.begin() + static_cast<long>(pcm_pos_ * 2));
        pcm_pos_ = 0;
    }
    size_t at = pcm_.size();
    pcm_.resize(at + count * 2);
    float* out = pcm_.data() + at;
    if (channels == 1) {
        mono_to_stereo(frames, count, out);
    } else {
        // More than two channels: the front pair.
        for (size_t i = 0; i < count; ++i) {
            out[2 * i] = frames[i * channels];
            out[2 * i + 1] = frames[i * channels + 1];
        }
    }
    decoded_ += count;
}

bool Stream::DecodeMore() {
    if (drained_) return false;
    return format_ == StreamFormat::Mpeg ? DecodeMpeg() : DecodeVorbis();
}

bool Stream::DecodeMpeg() {
    uint8_t bytes[kDecodeChunk];
    for (;;) {
        MpegFrame frame;
        if (framer_.next_frame(&frame)) {
            uint64_t start = framer_pushed_ - framer_.buffered() - frame.size;
            PlaceMetaMarkers(start);
            const MpegHeader& h = frame.header;
            if (h.layer != 3) continue;
            if (frame.format_changed || !mp3_.IsOpen() || mp3_.sample_rate() != h.sample_rate ||
                mp3_.channels() != h.channels) {
                if (!mp3_.Open(h.sample_rate, h.channels, h.bitrate_kbps)) {
                    drained_ = true;
                    return false;
                }
                SetSourceRate(h.sample_rate);
            }
            pcm16_.clear();
            if (!mp3_.Decode(frame.data, frame.size, pcm16_) || pcm16_.empty()) continue;
            const int channels = mp3_.channels();
            scratch_.resize(pcm16_.size());
            for (size_t i = 0; i < pcm16_.size(); ++i) scratch_[i] = pcm16_[i] * (1.0f / 32768.0f);
            AppendPcm(scratch_.data(), pcm16_.size() / channels, channels);
            return true;
        }
        const bool ended = input_ended_.load();
        size_t room = kMpegFramerCapacity - framer_.buffered();
        size_t n = ring_->peek(bytes, std::min(sizeof bytes, room));
        if (n == 0) {
            if (!ended || ring_->readable() > 0) return false;  // waiting for the network
            if (!framer_ended_) {
                framer_.end();
                framer_ended_ = true;
                continue;
            }
            drained_ = true;
            return false;
        }
        size_t taken = framer_.push(bytes, n);
        if (taken == 0) return false;
        ring_->read(nullptr, taken);
        framer_pushed_ += taken;
        consumed_ += taken;
        SetEvent(space_);
    }
}

bool Stream::DecodeVorbis() {
    uint8_t bytes[kDecodeChunk];
    scratch_.resize(kVorbisFrames * kMaxVorbisChannels);
    for (;;) {
        // Frames of one call share the format channels() reports after it.
        size_t n = vorbis_->decode(scratch_.data(), kVorbisFrames);
        const int channels = vorbis_->channels();
        VorbisChange change;
        while (vorbis_->take_change(&change)) {
            std::string list = TagList(change.comments);
            bool first;
            {
                std::lock_guard<std::mutex> lock(tag_mutex_);
                first = ogg_.empty();
                if (first) ogg_.push_back(list);
            }
            SetSourceRate(change.sample_rate);
            if (!first) {
                Marker m;
                m.at = change.at_frame;
                m.type = BASS_SYNC_OGG_CHANGE;
                m.list = change.comments;
                markers_.push_back(std::move(m));
            }
        }
        if (n > 0) {
            AppendPcm(scratch_.data(), n, channels);
            return true;
        }
        if (vorbis_->failed()) {
            drained_ = true;
            return false;
        }
        const bool ended = input_ended_.load();
        size_t got = ring_->peek(bytes, sizeof bytes);
        if (got == 0) {
            if (ended && ring_->readable() == 0) drained_ = true;
            return false;
        }
        size_t taken = vorbis_->push(bytes, got);
        if (taken == 0) return false;
        ring_->read(nullptr, taken);
        vorbis_pushed_ += taken;
        consumed_ += taken;
        PlaceMetaMarkers(vorbis_pushed_);
        SetEvent(space_);
    }
}

void Stream::Render(float* mix, int frames, uint64_t block_start, int device_rate) {
    if (!playing_) return;
    Gain from, to;
    float freq;
    {
        std::lock_guard<std::mutex> lock(attr_mutex_);
        from.volume = volume_.value();
        from.pan = pan_.value();
        freq = freq_.value();
        to.volume = volume_.advance(static_cast<uint32_t>(frames), device_rate);
        to.pan = pan_.advance(static_cast<uint32_t>(frames), device_rate);
        freq_.advance(static_cast<uint32_t>(frames), device_rate);
    }
    // At the device's own rate the samples pass straight through; the filter
    // is taken on at the first rate change (the player's glide starts at
    // volume 0) and kept from then on, so its delay never jumps.
    if (freq != static_cast<float>(device_rate)) resampling_ = true;
    if (resampling_) resampler_.set_rates(freq, device_rate);
    render_.assign(static_cast<size_t>(frames) * 2, 0.0f);
    size_t produced = 0;
    const size_t want = static_cast<size_t>(frames);
    while (produced < want && !end_scheduled_) {
        size_t available = pcm_.size() / 2 - pcm_pos_;
        // Markers land on the output frame where their audio starts.
        if (!markers_.empty() && markers_.front().at <= taken_) {
            Marker m = std::move(markers_.front());
            markers_.pop_front();
            m.at = block_start + produced;
            scheduled_.push_back(std::move(m));
            continue;
        }
        if (available == 0) {
            if (!DecodeMore()) break;
            continue;
        }
        if (!markers_.empty()) available = std::min<size_t>(available, markers_.front().at - taken_);
        size_t used = 0;
        size_t n;
        if (resampling_) {
            n = resampler_.process(pcm_.data() + pcm_pos_ * 2, available, &used,
                                   render_.data() + produced * 2, want - produced);
        } else {
            n = used = std::min(available, want - produced);
            std::copy_n(pcm_.data() + pcm_pos_ * 2, n * 2, render_.data() + produced * 2);
        }
        pcm_pos_ += used;
        taken_ += used;
        produced += n;
        if (n == 0 && used == 0) break;
    }
    if (produced < want && drained_ && !end_scheduled_ && pcm_pos_ * 2 >= pcm_.size()) {
        for (auto& m : markers_) {
            m.at = block_start + produced;
            scheduled_.push_back(std::move(m));
        }
        markers_.clear();
        Marker end;
        end.type = BASS_SYNC_END;
        end.at = block_start + produced;
        scheduled_.push_back(std::move(end));
        end_scheduled_ = true;
    }
    apply_gain(render_.data(), want, from, to);
    for (size_t i = 0; i < want * 2; ++i) mix[i] += render_[i];
    PushHistory(render_.data(), frames, block_start);
}

void Stream::CollectDue(uint64_t played, const std::shared_ptr<Stream>& self,
                        std::vector<Notification>* out) {
    while (!scheduled_.empty() && scheduled_.front().at <= played) {
        Marker m = std::move(scheduled_.front());
        scheduled_.pop_front();
        bool fire = true;
        if (m.type == BASS_SYNC_META) {
            std::lock_guard<std::mutex> lock(tag_mutex_);
            // The first title was shown already while buffering; a block that
            // repeats what is shown changes nothing.
            fire = meta_.empty() || meta_.back() != m.text;
            if (fire) {
                meta_.push_back(m.text);
                KeepRecent(&meta_);
            }
        } else if (m.type == BASS_SYNC_OGG_CHANGE) {
            std::lock_guard<std::mutex> lock(tag_mutex_);
            ogg_.push_back(TagList(m.list));
            KeepRecent(&ogg_);
        }
        if (fire) out->push_back({self, m.type});
    }
}

void Stream::Fire(int sync_type) {
    std::vector<Sync> matching;
    {
        std::lock_guard<std::mutex> lock(sync_mutex_);
        for (const Sync& s : syncs_) {
            if (static_cast<int>(s.type) == sync_type) matching.push_back(s);
        }
    }
    for (const Sync& s : matching) s.proc(s.handle, handle_, 0, s.user);
    if (sync_type == BASS_SYNC_END && (options_.flags & BASS_STREAM_AUTOFREE))
        Engine::Get().FreeStream(handle_);
}

// ---- what is audible ---------------------------------------------------------

void Stream::PushHistory(const float* stereo, int frames, uint64_t block_start) {
    std::lock_guard<std::mutex> lock(history_mutex_);
    size_t slot = static_cast<size_t>(block_start % kHistoryFrames);
    size_t left = static_cast<size_t>(frames);
    while (left > 0) {
        const size_t n = std::min(left, kHistoryFrames - slot);
        std::copy_n(stereo, n * 2, history_.data() + slot * 2);
        stereo += n * 2;
        left -= n;
        slot = 0;
    }
    history_end_ = block_start + static_cast<uint64_t>(frames);
}

void Stream::CopyHistory(uint64_t end, size_t frames, float* stereo) {
    std::lock_guard<std::mutex> lock(history_mutex_);
    const uint64_t oldest = history_end_ > kHistoryFrames ? history_end_ - kHistoryFrames : 0;
    for (size_t i = 0; i < frames; ++i) {
        uint64_t f = end - frames + i;
        bool have = end >= frames - i && f >= oldest && f < history_end_;
        size_t slot = static_cast<size_t>(f % kHistoryFrames);
        stereo[2 * i] = have ? history_[slot * 2] : 0.0f;
        stereo[2 * i + 1] = have ? history_[slot * 2 + 1] : 0.0f;
    }
}

DWORD Stream::Level(uint64_t played, int rate) {
    size_t frames = level_window_frames(rate);
    std::vector<float> window(frames * 2);
    CopyHistory(played, frames, window.data());
    return stereo_level(window.data(), frames);
}

void Stream::Spectrum(uint64_t played, float* out) {
    std::vector<float> stereo(kFftSize * 2);
    CopyHistory(played, kFftSize, stereo.data());
    std::vector<float> mono(kFftSize);
    for (size_t i = 0; i < kFftSize; ++i) mono[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
    std::lock_guard<std::mutex> lock(fft_mutex_);
    fft_.magnitudes(mono.data(), out);
}

}  // namespace engine
