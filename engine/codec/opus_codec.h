// Opus in Ogg: the reference decoder (libopus) for one logical stream, behind
// our header and packet checks (opus_header.h). It decodes at 48 kHz with the
// stream's output gain, drops the pre-skip at the start, and trims the end of
// the last packet to what the final page's granule position says.
#pragma once

#include <memory>

#include "engine/codec/ogg_codec.h"

namespace engine {

// A decoder for one logical Opus stream, fed from its OpusHead packet.
std::unique_ptr<OggCodec> make_opus_codec();

}  // namespace engine
