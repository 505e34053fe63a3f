// Framing of audio formats whose frames begin with a sync header that gives
// the frame's length (MPEG audio, ADTS AAC). A format is a traits type:
//   Header                                   its parsed header (sample_rate, channels)
//   kHeaderBytes                             bytes parse() needs
//   bool parse(const uint8_t*, Header*)      false for no sync or a reserved value
//   bool consistent(const Header&, const Header&)  headers of one stream
//   size_t frame_bytes(const Header&)        the whole frame, header included
//   kLockFrames, kCapacity                   see SyncFramer
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/codec/decoder.h"

namespace engine {

// Total size of an ID3v2 tag at p (header, body and footer); 0 when there is
// none. Needs 10 bytes (fewer: 0).
size_t id3v2_tag_size(const uint8_t* p, size_t avail);

enum class SyncChain { No, Yes, NeedMore };

// Whether `count` headers follow each other from p, each where the one before
// says its frame ends, all consistent. With at_end, a chain that runs exactly
// to the end of the data also counts.
template <class F>
SyncChain check_sync_chain(const uint8_t* p, size_t avail, int count, bool at_end,
                           typename F::Header* first) {
    size_t at = 0;
    typename F::Header h0{};
    for (int i = 0; i < count; ++i) {
        if (avail - at < F::kHeaderBytes) {
            if (at_end && at == avail && i > 0) break;  // the chain ends with the data
            return at_end ? SyncChain::No : SyncChain::NeedMore;
        }
        typename F::Header h;
        if (!F::parse(p + at, &h)) return SyncChain::No;
        if (i == 0)
            h0 = h;
        else if (!F::consistent(h0, h))
            return SyncChain::No;
        const size_t len = F::frame_bytes(h);
        if (avail - at < len && at_end) return SyncChain::No;
        at += len;
        if (i + 1 < count && at > avail) return SyncChain::NeedMore;  // (at_end was handled above)
    }
    if (first) *first = h0;
    return SyncChain::Yes;
}

// Finds frames in a byte stream that may start mid-frame, carry garbage or an
// ID3v2 tag, or lose bytes. Before it trusts a header it sees F::kLockFrames
// consistent headers in a row; while locked, a frame is passed on only if the
// next frame's header follows where it should (or the stream has ended), so a
// lost frame costs a resync, never a corrupt frame for the decoder.
template <class F>
class SyncFramer {
public:
    using Header = typename F::Header;
    struct Frame {
        const uint8_t* data = nullptr;  // valid until the next push() or next_frame()
        size_t size = 0;
        Header header{};
        bool format_changed = false;  // first frame, or sample rate/channels differ from before
    };

    SyncFramer() : buf_(F::kCapacity) {}

    // Appends up to the free room (F::kCapacity minus what is held); returns
    // how many bytes were taken.
    size_t push(const uint8_t* data, size_t size) {
        if (pos_ > 0 && size > buf_.size() - size_) compact();
        const size_t room = buf_.size() - size_;
        if (size > room) size = room;
        if (size) std::memcpy(&buf_[size_], data, size);
        size_ += size;
        return size;
    }
    // Marks the end of the stream: the last frame is passed on without a
    // following header.
    void end() { ended_ = true; }

    // Next whole frame, or false when more bytes are needed.
    bool next_frame(Frame* out) {
        for (;;) {
            if (!locked_ && !try_lock()) return false;
            const size_t avail = size_ - pos_;
            const uint8_t* p = buf_.data() + pos_;
            Header h;
            if (avail < F::kHeaderBytes) {
                if (ended_ && avail > 0) skip(avail);
                return false;
            }
            if (!F::parse(p, &h) || !F::consistent(h, lock_)) {
                locked_ = false;  // a lost or damaged frame: find the stream again
                continue;
            }
            const size_t len = F::frame_bytes(h);
            if (avail < len + F::kHeaderBytes) {
                if (!ended_) return false;
                if (avail < len) {
                    skip(avail);  // a frame cut by the end of the stream
                    return false;
                }
            } else {
                Header next;
                if (!F::parse(p + len, &next)) {
                    // This frame's length does not lead to the next header:
                    // part of the stream is missing here, so its data is not
                    // a frame.
                    locked_ = false;
                    skip(1);
                    continue;
                }
                // A header of another format ends this frame just as well;
                // the lock is then found again for the new format.
                if (!F::consistent(next, lock_)) locked_ = false;
            }
            out->data = p;
            out->size = len;
            out->header = h;
            out->format_changed = !have_format_ || h.sample_rate != format_.sample_rate ||
                                  h.channels != format_.channels;
            format_ = h;
            have_format_ = true;
            pos_ += len;
            return true;
        }
    }

    size_t buffered() const { return size_ - pos_; }
    uint64_t skipped_bytes() const { return skipped_; }  // garbage and lost pieces
    bool locked() const { return locked_; }

private:
    bool try_lock() {
        for (;;) {
            const size_t avail = size_ - pos_;
            const uint8_t* p = buf_.data() + pos_;
            if (id3_left_ > 0) {
                const size_t n = id3_left_ < avail ? static_cast<size_t>(id3_left_) : avail;
                skip(n);
                id3_left_ -= n;
                if (id3_left_ > 0) return false;
                continue;
            }
            if (avail >= 3 && std::memcmp(p, "ID3", 3) == 0) {
                if (avail < 10 && !ended_) return false;
                const size_t tag = id3v2_tag_size(p, avail);
                if (tag > 0) {
                    id3_left_ = tag;
                    continue;
                }
            }
            if (avail < F::kHeaderBytes) {
                if (ended_) skip(avail);
                return false;
            }
            // A frame must not need more room than the buffer has, so a
            // chain that cannot complete is treated as a mismatch, not as
            // "need more".
            switch (check_sync_chain<F>(p, avail, F::kLockFrames, ended_, &lock_)) {
            case SyncChain::Yes:
                locked_ = true;
                return true;
            case SyncChain::NeedMore:
                if (size_ - pos_ < buf_.size() - F::kHeaderBytes || pos_ > 0) return false;
                skip(1);
                break;
            case SyncChain::No:
                skip(1);
                break;
            }
        }
    }
    void compact() {
        std::memmove(buf_.data(), buf_.data() + pos_, size_ - pos_);
        size_ -= pos_;
        pos_ = 0;
    }
    void skip(size_t n) {
        pos_ += n;
        skipped_ += n;
    }

    std::vector<uint8_t> buf_;
    size_t pos_ = 0, size_ = 0;
    bool locked_ = false;
    bool ended_ = false;
    bool have_format_ = false;
    Header format_{};  // of the last frame passed on
    Header lock_{};    // the header the lock was found with
    uint64_t skipped_ = 0;
    uint64_t id3_left_ = 0;
};

// A decoder's input: frames pulled from the stream's bytes as they come.
// At the seam of a new connection the old connection's last frames still
// come out, then the framer starts afresh and the next frame says so.
template <class F>
class FramedInput {
public:
    using Frame = typename SyncFramer<F>::Frame;

    // The next frame; false when the bytes so far hold none (or the stream
    // is over: ended()). *after_seam is set for the first frame of a new
    // connection.
    bool Next(ByteSource& in, Frame* out, bool* after_seam) {
        uint8_t bytes[kPiece];
        for (;;) {
            if (framer_.next_frame(out)) {
                start_ = pushed_ - framer_.buffered() - out->size;
                *after_seam = seam_passed_;
                seam_passed_ = false;
                return true;
            }
            if (closing_) {
                framer_ = SyncFramer<F>();
                closing_ = false;
                seam_passed_ = true;
                continue;
            }
            if (ended_) return false;
            if (in.TakeSeam()) {
                framer_.end();  // what the old connection left goes out as at an end
                closing_ = true;
                continue;
            }
            const bool source_ended = in.Ended();  // before the look, so no byte is missed
            const size_t room = F::kCapacity - framer_.buffered();
            const size_t n = in.Peek(bytes, room < sizeof bytes ? room : sizeof bytes);
            if (n == 0) {
                if (!source_ended || room == 0) return false;  // waiting for the network
                framer_.end();  // the last frame goes out without a header after it
                ended_ = true;
                continue;
            }
            const size_t taken = framer_.push(bytes, n);
            if (taken == 0) return false;
            in.Take(taken);
            pushed_ += taken;
        }
    }

    bool ended() const { return ended_; }
    // Stream offset of the frame Next gave last.
    uint64_t frame_start() const { return start_; }

private:
    static constexpr size_t kPiece = 4096;  // bytes handed to the framer at a time

    SyncFramer<F> framer_;
    uint64_t pushed_ = 0;
    uint64_t start_ = 0;
    bool ended_ = false;
    bool closing_ = false;
    bool seam_passed_ = false;
};

// The first frame of a stream given from its first byte (garbage and a whole
// ID3v2 tag before it skipped): the framer takes the bytes piece by piece,
// and a frame counts once the header after it is there.
template <class F>
bool probe_first_frame(const uint8_t* data, size_t size, typename F::Header* first) {
    SyncFramer<F> framer;
    typename SyncFramer<F>::Frame frame;
    size_t at = 0;
    for (;;) {
        const size_t taken = framer.push(data + at, size - at);
        at += taken;
        if (framer.next_frame(&frame)) {
            if (first) *first = frame.header;
            return true;
        }
        if (at == size || (taken == 0 && framer.buffered() == 0)) return false;
    }
}

}  // namespace engine
