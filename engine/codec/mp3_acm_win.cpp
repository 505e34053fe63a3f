#include "engine/codec/mp3_acm_win.h"

#include <cstring>

namespace engine {

namespace {

// Largest layer III frame (320 kbit/s at 8 kHz, padded) with room to spare for
// bytes the codec leaves behind.
constexpr size_t kInputCapacity = 16384;
// Room for several frames of 16-bit stereo output, as a codec may hold one back.
constexpr size_t kOutputCapacity = 1152 * 2 * 2 * 8;
// Decoder delay that goes into the format; codecs only use it as a hint.
constexpr WORD kCodecDelay = 1393;

}  // namespace

AcmMp3Decoder::~AcmMp3Decoder() { Close(); }

void AcmMp3Decoder::Close() {
    if (!stream_) return;
    if (header_.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
        header_.cbSrcLength = static_cast<DWORD>(in_.size());
        header_.cbDstLength = static_cast<DWORD>(out_.size());
        acmStreamUnprepareHeader(stream_, &header_, 0);
    }
    acmStreamClose(stream_, 0);
    stream_ = nullptr;
    header_ = {};
    pending_ = 0;
}

bool AcmMp3Decoder::Open(int sampleRate, int channels, int bitrateKbps) {
    Close();
    MPEGLAYER3WAVEFORMAT mp3 = {};
    mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    mp3.wfx.nChannels = static_cast<WORD>(channels);
    mp3.wfx.nSamplesPerSec = static_cast<DWORD>(sampleRate);
    mp3.wfx.nAvgBytesPerSec = static_cast<DWORD>(bitrateKbps > 0 ? bitrateKbps : 128) * 1000 / 8;
    mp3.wfx.nBlockAlign = 1;
    mp3.wfx.wBitsPerSample = 0;
    mp3.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    mp3.wID = MPEGLAYER3_ID_MPEG;
    mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
    // Size of an unpadded frame; the codec reads whole frames from the stream anyway.
    const int samplesPerFrame = sampleRate >= 32000 ? 1152 : 576;
    mp3.nBlockSize = static_cast<WORD>(samplesPerFrame / 8 * mp3.wfx.nAvgBytesPerSec / sampleRate);
    mp3.nFramesPerBlock = 1;
    mp3.nCodecDelay = kCodecDelay;

    WAVEFORMATEX pcm = {};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = static_cast<WORD>(channels);
    pcm.nSamplesPerSec = static_cast<DWORD>(sampleRate);
    pcm.wBitsPerSample = 16;
    pcm.nBlockAlign = static_cast<WORD>(channels * 2);
    pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;

    if (acmStreamOpen(&stream_, nullptr, &mp3.wfx, &pcm, nullptr, 0, 0,
                      ACM_STREAMOPENF_NONREALTIME) != 0) {
        stream_ = nullptr;
        return false;
    }
    in_.assign(kInputCapacity, 0);
    out_.assign(kOutputCapacity, 0);
    header_ = {};
    header_.cbStruct = sizeof header_;
    header_.pbSrc = in_.data();
    header_.cbSrcLength = static_cast<DWORD>(in_.size());
    header_.pbDst = out_.data();
    header_.cbDstLength = static_cast<DWORD>(out_.size());
    if (acmStreamPrepareHeader(stream_, &header_, 0) != 0) {
        acmStreamClose(stream_, 0);
        stream_ = nullptr;
        return false;
    }
    pending_ = 0;
    first_ = true;
    rate_ = sampleRate;
    channels_ = channels;
    return true;
}

bool AcmMp3Decoder::Decode(const uint8_t* frame, size_t size, std::vector<int16_t>& pcm) {
    if (!stream_) return false;
    if (pending_ + size > in_.size()) pending_ = 0;  // a codec that never takes its input
    if (size > in_.size()) return false;
    memcpy(in_.data() + pending_, frame, size);
    pending_ += size;

    header_.cbSrcLength = static_cast<DWORD>(pending_);
    header_.cbDstLength = static_cast<DWORD>(out_.size());
    header_.cbSrcLengthUsed = 0;
    header_.cbDstLengthUsed = 0;
    DWORD flags = first_ ? ACM_STREAMCONVERTF_START : 0;
    if (acmStreamConvert(stream_, &header_, flags) != 0) return false;
    first_ = false;

    size_t used = header_.cbSrcLengthUsed > pending_ ? pending_ : header_.cbSrcLengthUsed;
    memmove(in_.data(), in_.data() + used, pending_ - used);
    pending_ -= used;

    size_t samples = header_.cbDstLengthUsed / sizeof(int16_t);
    size_t at = pcm.size();
    pcm.resize(at + samples);
    memcpy(pcm.data() + at, out_.data(), samples * sizeof(int16_t));
    return true;
}

}  // namespace engine
