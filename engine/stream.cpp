#include "engine/stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/codec/aac_mf_win.h"
#include "engine/codec/mpeg_decoder_win.h"
#include "engine/codec/ogg_decoder.h"
#include "engine/dsp/levels.h"
#include "engine/dsp/mixer_frame.h"
#include "engine/engine.h"
#include "engine/hls/hls_source_win.h"

namespace engine {

namespace {

constexpr size_t kNetChunk = 16 * 1024;
constexpr size_t kMaxHeaderBytes = 256 * 1024;  // Ogg headers larger than this are refused
constexpr size_t kId3HeaderBytes = 10;
constexpr float kMinFreq = 100.0f;
constexpr float kMaxFreq = 384000.0f;
constexpr int kPrebufferWaitMs = 50;
constexpr uint64_t kMsPerSecond = 1000;
constexpr DWORD kArrivedGraceMs = 5;  // how long create waits for bytes already on their way
constexpr char kHeAacContentType[] = "audio/aacp";  // what servers call HE-AAC
constexpr char kIcyBrHeader[] = "icy-br:";

// The DOWNLOADPROC gets the stream's bytes unless it was given for status texts.
DownloadOptions DownloadFor(const StreamOptions& options, HANDLE stop) {
    DownloadOptions d;
    if (options.proc && !(options.flags & BASS_STREAM_STATUS)) {
        d.proc = options.proc;
        d.user = options.user;
    }
    d.stop = stop;
    return d;
}

}  // namespace

int Stream::ReadError(int n) const {
    if (n == kSocketCancelled) return kHttpCancelled;
    // A feed that failed for good knows why.
    if (download_.FeedError() != 0) return download_.FeedError();
    return n == kSocketTimeout ? BASS_ERROR_TIMEOUT : BASS_ERROR_FILEOPEN;
}

Stream::Stream(const StreamOptions& options)
    : options_(options),
      download_(&buffer_, &titles_, &tags_, DownloadFor(options, stop_.get())) {}

Stream::~Stream() { Shutdown(); }

int Stream::Connect(const char* url) {
    if (!stop_.get() || !buffer_.ok()) return BASS_ERROR_MEM;
    if (!winsock_.ok()) return BASS_ERROR_FILEOPEN;
    const Deadline deadline(kCreateDeadlineMs);
    HttpOpenOptions http;
    http.follow_playlists = options_.follow_playlists;
    http.cancel = {options_.cancel.get(), stop_.get()};
    http.deadline = &deadline;
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
    const TagKind head_kind = response.head.protocol == HeadProtocol::Icy ? TagKind::Icy : TagKind::Http;
    HlsSource* hls = nullptr;
    if (response.hls) {
        auto source = std::make_unique<HlsSource>(http.cancel);
        r = source->Open(response.url, response.playlist, deadline);
        if (r != 0) return r;
        hls = source.get();  // lives in download_ until its thread starts
        download_.Begin(std::move(source));
    } else {
        he_aac_named_ = response.head.content_type() == kHeAacContentType;
        ReconnectTarget again;
        again.url = url;
        again.follow_playlists = options_.follow_playlists;
        again.cancel = http.cancel;
        download_.Begin(std::move(response.body), response.head.icy_metaint(), std::move(again));
    }

    std::vector<uint8_t> first;
    StreamFormat format = StreamFormat::Unknown;
    r = ReadFirst(deadline, &first, &format);
    if (r != 0) return r;
    if (hls) {
        // The variant that gave the first audio is the one that plays.
        lines = hls->WithTagLines(std::move(lines));
        he_aac_named_ = hls->HeAac();
    }
    tags_.SetHead(head_kind, lines);
    const char* br = response.head.find("icy-br");
    std::string icy_br = br ? br : "";
    for (size_t i = response.head.lines.size() + 1; br == nullptr && i < lines.size(); ++i) {
        if (_strnicmp(lines[i].c_str(), kIcyBrHeader, sizeof kIcyBrHeader - 1) == 0)
            icy_br = lines[i].substr(sizeof kIcyBrHeader - 1);
    }
    const uint32_t byte_rate = stream_byte_rate(format, first.data(), first.size(), icy_br.c_str());
    plan_ = plan_buffer(byte_rate, std::max(first.size(), kMaxHeaderBytes));
    buffer_.Allocate(plan_.capacity);
    download_.SetByteRate(byte_rate);
    // The bytes that told the format are the stream's first: they go the
    // same way as every later one.
    if (!download_.Deliver(first.data(), first.size())) return kHttpCancelled;
    r = SetUpDecoder(format, first, deadline);
    if (r != 0) return r;

    // Whatever has already arrived (a server's burst) is taken now, so the
    // player's first look at the buffer can find it full.
    std::vector<uint8_t> chunk(kNetChunk);
    while (buffer_.downloaded() - buffer_.consumed() < plan_.prebuffer && buffer_.writable() > 0) {
        int want = static_cast<int>(std::min(buffer_.writable(), chunk.size()));
        int n = download_.Read(chunk.data(), want, kArrivedGraceMs);
        if (n == kSocketCancelled) return kHttpCancelled;
        if (n <= 0) break;
        if (!download_.Deliver(chunk.data(), static_cast<size_t>(n))) return kHttpCancelled;
    }

    if (!download_.Start(shared_from_this())) return BASS_ERROR_MEM;

    // The engine's own prebuffering, a share of the END position.
    const uint64_t want = prebuffer_wanted(plan_, options_.prebuffer_percent);
    HANDLE cancels[2] = {options_.cancel.get(), stop_.get()};
    while (buffer_.downloaded() - buffer_.consumed() < want && !buffer_.Ended() &&
           !deadline.Passed()) {
        DWORD w = buffer_.WaitForData(cancels, 2, deadline.Cap(kPrebufferWaitMs));
        if (w == WAIT_OBJECT_0 || w == WAIT_OBJECT_0 + 1) return kHttpCancelled;
    }
    return 0;
}

int Stream::ReadFirst(const Deadline& deadline, std::vector<uint8_t>* first, StreamFormat* out) {
    std::vector<uint8_t> chunk(kNetChunk);
    StreamFormat format = StreamFormat::NeedMore;
    // A leading ID3v2 tag (cover art makes megabytes of it) is skipped as it
    // arrives, never kept.
    bool tag_known = false;
    size_t tag_left = 0;
    while (format == StreamFormat::NeedMore) {
        if (deadline.Passed()) return BASS_ERROR_TIMEOUT;
        int n = download_.Read(chunk.data(), static_cast<int>(chunk.size()),
                               deadline.Cap(kStallTimeoutMs));
        if (n < 0) return ReadError(n);
        const size_t skip = std::min(tag_left, static_cast<size_t>(n));
        if (skip > 0 && !download_.PassOn(chunk.data(), skip)) return kHttpCancelled;
        tag_left -= skip;
        first->insert(first->end(), chunk.begin() + static_cast<long>(skip), chunk.begin() + n);
        if (!tag_known && (first->size() >= kId3HeaderBytes || n == 0)) {
            tag_known = true;
            const size_t tag = id3v2_tag_size(first->data(), first->size());
            if (tag > kMaxLeadingTagBytes) return BASS_ERROR_FILEFORM;
            const size_t now = std::min(tag, first->size());
            if (now > 0 && !download_.PassOn(first->data(), now)) return kHttpCancelled;
            first->erase(first->begin(), first->begin() + static_cast<long>(now));
            tag_left = tag - now;
        }
        if (tag_left > 0 && n > 0) continue;
        bool at_end = n == 0 || first->size() >= kSniffLimit + kSniffMaxId3Bytes;
        format = sniff_format(first->data(), first->size(), at_end);
        if (at_end && format == StreamFormat::NeedMore) format = StreamFormat::Unknown;
    }
    if (format == StreamFormat::Unknown) return BASS_ERROR_FILEFORM;
    *out = format;
    return 0;
}

int Stream::SetUpDecoder(StreamFormat format, const std::vector<uint8_t>& first,
                         const Deadline& deadline) {
    int r = 0;
    if (format == StreamFormat::Mpeg) {
        MpegHeader h;
        if (!probe_mpeg(first.data(), first.size(), &h)) return BASS_ERROR_FILEFORM;
        auto mpeg = std::make_unique<MpegDecoder>();
        r = mpeg->Open(h);
        if (r != 0) return r;
        SetSourceRate(h.sample_rate);
        decoder_ = std::move(mpeg);
        return 0;
    }
    if (format == StreamFormat::Adts) {
        AdtsHeader h;
        if (!probe_adts(first.data(), first.size(), &h)) return BASS_ERROR_FILEFORM;
        auto aac = std::make_unique<AacDecoder>(he_aac_named_);
        r = aac->Open(h);
        if (r != 0) return r;
        decoder_ = std::move(aac);
        // Only the decoder knows the rate it plays at (SBR doubles the
        // frame's own): its first audio tells, before anyone reads FREQ.
        return DecodeUntil(deadline, first.size(), [this] { return source_rate_ != 0; });
    }
    // Vorbis or Opus: the first packet of each logical stream tells.
    auto ogg = std::make_unique<OggDecoder>();
    OggDecoder* headers = ogg.get();
    decoder_ = std::move(ogg);
    // Read on to the first audio so the comments are there at once.
    r = DecodeUntil(deadline, first.size(), [this] { return decoder_->Ready(); });
    if (r == 0 && source_rate_ == 0 && headers->sample_rate() > 0) SetSourceRate(headers->sample_rate());
    return r;
}

int Stream::DecodeUntil(const Deadline& deadline, size_t read, const std::function<bool()>& done) {
    // The download thread is not running yet, so the network is ours.
    std::vector<uint8_t> chunk(kNetChunk);
    while (!done() && !decoder_->Failed()) {
        if (DecodeMore()) continue;
        if (done() || decoder_->Failed()) break;
        if (read > kMaxHeaderBytes || buffer_.writable() < chunk.size()) return BASS_ERROR_FILEFORM;
        if (deadline.Passed()) return BASS_ERROR_TIMEOUT;
        int n = download_.Read(chunk.data(), static_cast<int>(chunk.size()),
                               deadline.Cap(kStallTimeoutMs));
        if (n < 0) return ReadError(n);
        if (n == 0) return BASS_ERROR_FILEFORM;  // ended before the first audio
        if (!download_.Deliver(chunk.data(), static_cast<size_t>(n))) return kHttpCancelled;
        read += static_cast<size_t>(n);
    }
    if (decoder_->Failed()) return BASS_ERROR_FILEFORM;
    return 0;
}

QWORD Stream::FilePosition(DWORD mode, int* error) const {
    switch (mode) {
    case BASS_FILEPOS_CURRENT: return buffer_.consumed();
    case BASS_FILEPOS_DOWNLOAD: return buffer_.downloaded();
    case BASS_FILEPOS_END: {
        // What a reader waits for: the prebuffer, or once no byte will come
        // any more (a short file, a station gone for good) what there is, so
        // the wait ends and the stream plays out.
        if (!buffer_.Ended()) return plan_.prebuffer;
        const uint64_t left = buffer_.downloaded() - buffer_.consumed();
        return std::min<uint64_t>(plan_.prebuffer, left);
    }
    default: *error = BASS_ERROR_ILLTYPE; return static_cast<QWORD>(-1);
    }
}

const char* Stream::Tags(DWORD type) {
    const uint32_t reader = GetCurrentThreadId();
    switch (type) {
    case BASS_TAG_HTTP: return tags_.Read(TagKind::Http, reader);
    case BASS_TAG_ICY: return tags_.Read(TagKind::Icy, reader);
    case BASS_TAG_META: return tags_.Read(TagKind::Meta, reader);
    case BASS_TAG_OGG: return tags_.Read(TagKind::Ogg, reader);
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

void Stream::Shutdown() { download_.Shutdown(); }

// ---- decoder (mixer thread) -----------------------------------------------

void Stream::SetSourceRate(int rate) {
    std::lock_guard<std::mutex> lock(attr_mutex_);
    // A rate the user set stays; the stream's own one follows the stream.
    if (source_rate_ == 0 || freq_.value() == static_cast<float>(source_rate_))
        freq_.set(static_cast<float>(rate));
    source_rate_ = rate;
}

float* Stream::GrowPcm(size_t frames) {
    if (pcm_pos_ > 0 && pcm_pos_ * 2 >= pcm_.size() / 2) {
        pcm_.erase(pcm_.begin(), pcm_.begin() + static_cast<long>(pcm_pos_ * 2));
        pcm_pos_ = 0;
    }
    const size_t at = pcm_.size();
    pcm_.resize(at + frames * 2, 0.0f);
    decoded_ += frames;
    return pcm_.data() + at;
}

void Stream::AppendSilence(uint32_t ms, int rate) {
    GrowPcm(static_cast<size_t>(static_cast<uint64_t>(ms) * static_cast<uint64_t>(rate) / kMsPerSecond));
}

void Stream::AppendPcm(const DecodedPiece& piece) {
    const size_t count = piece.frames;
    const size_t channels = static_cast<size_t>(piece.channels);
    float* out = GrowPcm(count);
    if (channels == 1) {
        mono_to_stereo(piece.samples, count, out);
    } else {
        // More than two channels: the front pair.
        for (size_t i = 0; i < count; ++i) {
            out[2 * i] = piece.samples[i * channels];
            out[2 * i + 1] = piece.samples[i * channels + 1];
        }
    }
}

bool Stream::DecodeMore() {
    if (drained_) return false;
    const bool ended = buffer_.Ended();  // before the decoder looks, so no byte is missed
    const bool got = decoder_->Decode(buffer_, &piece_);
    // Audio that could not be had before what was just decoded is heard as
    // silence of its length, so the clock goes on.
    uint32_t gap_ms = 0;
    if (got && buffer_.TakeGap(decoder_->InputPosition(), &gap_ms)) AppendSilence(gap_ms, piece_.sample_rate);

    // Titles received before the audio the decoder is at now start here;
    // several due at once are one change.
    std::string title;
    if (titles_.TakeDue(decoder_->InputPosition(), &title)) {
        if (!markers_.empty() && markers_.back().type == BASS_SYNC_META &&
            markers_.back().at == decoded_) {
            markers_.back().text = std::move(title);
        } else {
            Marker m;
            m.at = decoded_;
            m.type = BASS_SYNC_META;
            m.text = std::move(title);
            markers_.push_back(std::move(m));
        }
    }
    DecoderComments c;
    while (decoder_->TakeComments(&c)) {
        // The first comments are the stream's from the start.
        if (!tags_.HasOgg()) {
            tags_.SetOgg(c.comments);
            continue;
        }
        Marker m;
        m.at = c.at_frame;
        m.type = BASS_SYNC_OGG_CHANGE;
        m.list = std::move(c.comments);
        markers_.push_back(std::move(m));
    }
    if (!got) {
        if (decoder_->Failed() || (ended && buffer_.readable() == 0)) drained_ = true;
        return false;
    }
    if (piece_.sample_rate != source_rate_) SetSourceRate(piece_.sample_rate);
    AppendPcm(piece_);
    return true;
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
    history_.Push(render_.data(), want, block_start);
}

void Stream::CollectDue(uint64_t played, const std::shared_ptr<Stream>& self,
                        std::vector<Notification>* out) {
    const Marker* title = nullptr;
    const Marker* comments = nullptr;
    bool end = false;
    size_t due = 0;
    for (const Marker& m : scheduled_) {
        if (m.at > played) break;
        ++due;
        if (m.type == BASS_SYNC_META) title = &m;
        if (m.type == BASS_SYNC_OGG_CHANGE) comments = &m;
        if (m.type == BASS_SYNC_END) end = true;
    }
    // The first title was shown already while buffering; one that repeats
    // what is shown changes nothing.
    if (title && !tags_.MetaIs(title->text)) {
        tags_.SetMeta(title->text);
        out->push_back({self, BASS_SYNC_META});
    }
    if (comments) {
        tags_.SetOgg(comments->list);
        out->push_back({self, BASS_SYNC_OGG_CHANGE});
    }
    if (end) out->push_back({self, BASS_SYNC_END});
    scheduled_.erase(scheduled_.begin(), scheduled_.begin() + static_cast<long>(due));
}

void Stream::Fire(int sync_type) {
    std::vector<Sync> matching;
    {
        std::lock_guard<std::mutex> lock(sync_mutex_);
        for (const Sync& s : syncs_) {
            if (static_cast<int>(s.type) == sync_type) matching.push_back(s);
        }
    }
    for (const Sync& s : matching) {
        // One of them may have freed the stream: the rest never start.
        if (detached()) return;
        s.proc(s.handle, handle_, 0, s.user);
    }
    if (sync_type == BASS_SYNC_END && (options_.flags & BASS_STREAM_AUTOFREE) && !detached())
        Engine::Get().FreeStream(handle_);
}

// ---- what is audible ---------------------------------------------------------

DWORD Stream::Level(uint64_t played, int rate) {
    size_t frames = level_window_frames(rate);
    std::vector<float> window(frames * 2);
    history_.Copy(played, frames, window.data());
    return stereo_level(window.data(), frames);
}

void Stream::Spectrum(uint64_t played, float* out) {
    std::vector<float> stereo(kFftSize * 2);
    history_.Copy(played, kFftSize, stereo.data());
    std::vector<float> mono(kFftSize);
    for (size_t i = 0; i < kFftSize; ++i) mono[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
    std::lock_guard<std::mutex> lock(fft_mutex_);
    fft_.magnitudes(mono.data(), out);
}

}  // namespace engine
