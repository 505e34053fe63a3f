// Incremental decoder of a chunked transfer-coded body ("1a\r\n...\r\n0\r\n\r\n").
// Works in place: the decoded bytes of a piece are never more than the piece,
// so the download thread decodes straight into its receive buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

constexpr size_t kMaxChunkLineLength = 1024;  // size line with extensions, or a trailer line

enum class ChunkedResult {
    Ok,     // piece decoded, more body expected
    Done,   // the last chunk and its trailers were read; bytes after it are not body
    Error,  // malformed (bad hex, overflow, missing CRLF, overlong line)
};

class ChunkedDecoder {
public:
    // Decodes data[0..size) in place; *out_size receives the number of body
    // bytes now at the start of data. Split points may fall anywhere, even in
    // the middle of the size line or of a CRLF. On Done or Error the decoder
    // stays in that state.
    ChunkedResult feed(uint8_t* data, size_t size, size_t* out_size);
    void reset();

private:
    enum class State { SizeLine, Data, DataCr, DataLf, Trailer, End, Failed };
    ChunkedResult step_line(uint8_t byte);

    State state_ = State::SizeLine;
    uint64_t remaining_ = 0;
    size_t line_length_ = 0;
    bool line_has_digit_ = false;
    bool in_extension_ = false;
    bool after_blank_ = false;
    bool saw_cr_ = false;
};

}  // namespace engine
