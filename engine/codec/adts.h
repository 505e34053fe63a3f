// AAC in ADTS frames: the frame header, the framer, and what the decoder is
// told about the stream. ADTS names only the AAC core (object type, rate,
// channels); HE-AAC's SBR and PS ride inside the frames, so a stream says
// "HE-AAC" only by its Content-Type (audio/aacp). The decoder set-up then
// signals SBR (and PS for a mono core) explicitly in the AudioSpecificConfig,
// and the output runs at twice the ADTS rate; otherwise the config names the
// core alone and a decoder that finds SBR in the frames (implicit signalling)
// says so through its output format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/codec/sync_framer.h"

namespace engine {

constexpr size_t kAdtsHeaderBytes = 7;      // 9 with the CRC
constexpr size_t kAdtsMaxFrameBytes = 8191;  // the 13-bit length field
constexpr int kAacFrameSamples = 1024;      // per raw data block and channel
constexpr int kAacObjectMain = 1;
constexpr int kAacObjectLc = 2;
constexpr int kAacObjectSbr = 5;
constexpr int kAacObjectPs = 29;

struct AdtsHeader {
    int object_type = 0;        // profile + 1: 1 Main, 2 LC, 3 SSR, 4 LTP
    int rate_index = 0;         // 0-12
    int sample_rate = 0;        // Hz
    int channel_config = 0;     // 1-7
    int channels = 0;           // 1-6, or 8 for configuration 7
    bool crc = false;           // 2 more header bytes
    size_t header_bytes = 0;    // 7 or 9
    size_t frame_bytes = 0;     // whole frame, header included
    int blocks = 0;             // raw data blocks in the frame, 1-4
    bool mpeg2 = false;         // the ID bit
};

// Parses the 7 bytes at p. False for no sync, a layer other than 0, a
// reserved rate index, channel configuration 0 (a program config element in
// the payload, which we do not read), or a length shorter than the header.
bool parse_adts_header(const uint8_t* p, AdtsHeader* out);
// Headers of one stream agree in object type, rate and channels.
bool adts_headers_consistent(const AdtsHeader& a, const AdtsHeader& b);

// ADTS for the framer (sync_framer.h).
constexpr int kAdtsLockFrames = 3;
constexpr size_t kAdtsFramerCapacity = 32 * 1024;
struct AdtsFormat {
    using Header = AdtsHeader;
    static constexpr size_t kHeaderBytes = kAdtsHeaderBytes;
    static constexpr int kLockFrames = kAdtsLockFrames;
    static constexpr size_t kCapacity = kAdtsFramerCapacity;
    static bool parse(const uint8_t* p, AdtsHeader* out) { return parse_adts_header(p, out); }
    static bool consistent(const AdtsHeader& a, const AdtsHeader& b) {
        return adts_headers_consistent(a, b);
    }
    static size_t frame_bytes(const AdtsHeader& h) { return h.frame_bytes; }
};
using AdtsFramer = SyncFramer<AdtsFormat>;
using AdtsFrame = AdtsFramer::Frame;

SyncChain adts_check_chain(const uint8_t* p, size_t avail, int count, bool at_end,
                           AdtsHeader* first);

// The data rate of the ADTS frames at the start of `data` (their average
// size at their rate), 0 when there are none.
uint32_t adts_byte_rate(const uint8_t* data, size_t size);

enum class AacSbr {
    Implicit,  // the config names the core only; a decoder may find SBR itself
    Explicit,  // hierarchical signalling: object type 5 (or 29 with PS), then the core
};

// What the decoder is told, and what it will put out.
struct AacSetup {
    int core_object_type = kAacObjectLc;
    int core_rate_index = 0;
    int channel_config = 0;
    AacSbr sbr = AacSbr::Implicit;
    bool ps = false;          // parametric stereo: a mono core played as stereo
    int extension_rate_index = 0;
    int output_rate = 0;      // Hz
    int output_channels = 0;
    uint16_t profile_level = 0;  // MPEG-4 audioProfileLevelIndication
};

// HE-AAC is expected only when the server says audio/aacp and the ADTS rate
// leaves room for twice itself (at most 24 kHz, as HE-AAC cores are).
constexpr int kMaxHeAacCoreRate = 24000;
// False when the core is not AAC-LC (the system decoder takes LC and HE-AAC only).
bool aac_setup_for(const AdtsHeader& first, bool he_aac_expected, AacSetup* out);

// The AudioSpecificConfig of the set-up (ISO/IEC 14496-3, 1.6.2.1).
std::vector<uint8_t> aac_audio_specific_config(const AacSetup& setup);

// The Media Foundation decoder's user data for ADTS input: the fields of
// HEAACWAVEINFO after its WAVEFORMATEX (payload type 1, the profile level),
// then the AudioSpecificConfig.
std::vector<uint8_t> aac_decoder_user_data(const AacSetup& setup);

}  // namespace engine
