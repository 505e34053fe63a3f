#include "engine/net/chunked.h"

#include <cstring>

namespace engine {
namespace {

int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A chunk may not be larger than this: 2^60 leaves room for the hex shift.
constexpr uint64_t kMaxChunkSize = uint64_t(1) << 60;

}  // namespace

void ChunkedDecoder::reset() { *this = ChunkedDecoder(); }

// One byte of a size line or trailer line. Lines end in LF with an optional CR
// before it.
ChunkedResult ChunkedDecoder::step_line(uint8_t b) {
    if (++line_length_ > kMaxChunkLineLength) return ChunkedResult::Error;
    if (b == '\n') {
        const size_t length = line_length_ - 1 - (saw_cr_ ? 1 : 0);
        line_length_ = 0;
        saw_cr_ = false;
        if (state_ == State::Trailer) {
            if (length == 0) state_ = State::End;
            return ChunkedResult::Ok;
        }
        if (!line_has_digit_) return ChunkedResult::Error;
        line_has_digit_ = false;
        in_extension_ = false;
        after_blank_ = false;
        state_ = remaining_ == 0 ? State::Trailer : State::Data;
        return ChunkedResult::Ok;
    }
    if (saw_cr_) return ChunkedResult::Error;  // CR not followed by LF
    if (b == '\r') {
        saw_cr_ = true;
        return ChunkedResult::Ok;
    }
    if (state_ == State::Trailer || in_extension_) return ChunkedResult::Ok;
    if (after_blank_ && b != ' ' && b != '\t' && b != ';') return ChunkedResult::Error;
    const int v = hex_value(b);
    if (v >= 0) {
        if (remaining_ >= kMaxChunkSize >> 4) return ChunkedResult::Error;
        remaining_ = remaining_ * 16 + static_cast<uint64_t>(v);
        line_has_digit_ = true;
        return ChunkedResult::Ok;
    }
    if (b == ';') {
        in_extension_ = true;
        return ChunkedResult::Ok;
    }
    if ((b == ' ' || b == '\t') && line_has_digit_) {  // blanks before an extension
        after_blank_ = true;
        return ChunkedResult::Ok;
    }
    return ChunkedResult::Error;
}

ChunkedResult ChunkedDecoder::feed(uint8_t* data, size_t size, size_t* out_size) {
    size_t out = 0;
    size_t i = 0;
    ChunkedResult result = ChunkedResult::Ok;
    while (i < size && result == ChunkedResult::Ok) {
        switch (state_) {
        case State::Data: {
            size_t n = size - i;
            if (n > remaining_) n = static_cast<size_t>(remaining_);
            if (out != i) std::memmove(data + out, data + i, n);
            out += n;
            i += n;
            remaining_ -= n;
            if (remaining_ == 0) state_ = State::DataCr;
            break;
        }
        case State::DataCr:
            if (data[i] == '\r') {
                state_ = State::DataLf;
            } else if (data[i] == '\n') {
                state_ = State::SizeLine;
            } else {
                result = ChunkedResult::Error;
            }
            ++i;
            break;
        case State::DataLf:
            if (data[i] != '\n') result = ChunkedResult::Error;
            state_ = State::SizeLine;
            ++i;
            break;
        case State::SizeLine:
        case State::Trailer:
            result = step_line(data[i]);
            ++i;
            break;
        case State::End:
        case State::Failed:
            i = size;
            break;
        }
    }
    if (result == ChunkedResult::Error) state_ = State::Failed;
    *out_size = out;
    if (state_ == State::Failed) return ChunkedResult::Error;
    if (state_ == State::End) return ChunkedResult::Done;
    return ChunkedResult::Ok;
}

}  // namespace engine
