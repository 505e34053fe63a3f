// What the first bytes of a stream say before any decoder runs: its first
// MPEG frame (however large an ID3v2 tag comes before it), its data rate, and
// from that how much the stream's ring holds and how much the player waits for.
// Every rate a server states is clamped here, before any arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/codec/adts.h"
#include "engine/codec/format_sniffer.h"
#include "engine/codec/mpeg_header.h"

namespace engine {

constexpr uint32_t kMinByteRate = 8000 / 8;        // 8 kbit/s
constexpr uint32_t kMaxByteRate = 640000 / 8;      // 640 kbit/s
constexpr uint32_t kDefaultByteRate = 128000 / 8;  // when the stream does not say
constexpr uint32_t kPrebufferMs = 1500;  // the END position: this much of the data rate
constexpr uint32_t kBufferMs = 10000;    // what the ring holds
constexpr size_t kMinBufferBytes = 256 * 1024;
constexpr size_t kMaxBufferBytes = 8 * 1024 * 1024;

// A rate into [kMinByteRate, kMaxByteRate]; 0 (unknown) stays 0.
uint32_t clamp_byte_rate(uint64_t bytes_per_second);

// The value of an icy-br header: kbit/s in decimal, blanks around; anything
// else (or more than six digits) is 0. A list ("128,64") counts by its first.
uint32_t icy_br_byte_rate(const char* value);

// The nominal, else the maximum, bit rate of a Vorbis identification header.
uint32_t vorbis_byte_rate(const uint8_t* id_header, size_t size);

// The first frame of an MPEG audio or ADTS stream given from its first byte,
// with the whole of a leading ID3v2 tag skipped.
bool probe_mpeg(const uint8_t* data, size_t size, MpegHeader* first);
bool probe_adts(const uint8_t* data, size_t size, AdtsHeader* first);

// The stream's data rate: what its first frames or Vorbis header say, else
// icy-br (may be null), else kDefaultByteRate.
uint32_t stream_byte_rate(StreamFormat format, const uint8_t* first, size_t size, const char* icy_br);

struct BufferPlan {
    size_t capacity = 0;     // bytes the ring holds (at least the first bytes read)
    uint64_t prebuffer = 0;  // the END position, never more than the ring holds
};
BufferPlan plan_buffer(uint32_t byte_rate, size_t first_bytes);

// What a create waits for with BASS_CONFIG_NET_PREBUF at `percent`.
uint64_t prebuffer_wanted(const BufferPlan& plan, uint32_t percent);

}  // namespace engine
