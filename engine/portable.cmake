# The engine's portable core: parsers, codecs' framing and DSP that do not need
# windows.h. The DLL compiles these sources; the native unit tests, fuzzers and
# benchmarks compile them too. Include this file; it sets
#   ENGINE_PORTABLE_SOURCES   absolute paths of the .cpp files
#   ENGINE_PORTABLE_INCLUDES  include directories they need (the repository root)
#   ENGINE_PORTABLE_LIBS      libraries to link with them (the Vorbis and Opus decoders)
set(ENGINE_PORTABLE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(ENGINE_PORTABLE_SOURCES
    ${ENGINE_PORTABLE_DIR}/net/url.cpp
    ${ENGINE_PORTABLE_DIR}/net/http_head.cpp
    ${ENGINE_PORTABLE_DIR}/net/chunked.cpp
    ${ENGINE_PORTABLE_DIR}/net/icy_demux.cpp
    ${ENGINE_PORTABLE_DIR}/net/playlist.cpp
    ${ENGINE_PORTABLE_DIR}/net/pending_titles.cpp
    ${ENGINE_PORTABLE_DIR}/net/reconnect.cpp
    ${ENGINE_PORTABLE_DIR}/net/reconnect_overlap.cpp
    ${ENGINE_PORTABLE_DIR}/codec/mpeg_header.cpp
    ${ENGINE_PORTABLE_DIR}/codec/adts.cpp
    ${ENGINE_PORTABLE_DIR}/codec/ogg_page.cpp
    ${ENGINE_PORTABLE_DIR}/codec/ogg_codec.cpp
    ${ENGINE_PORTABLE_DIR}/codec/ogg_stream.cpp
    ${ENGINE_PORTABLE_DIR}/codec/vorbis_codec.cpp
    ${ENGINE_PORTABLE_DIR}/codec/opus_header.cpp
    ${ENGINE_PORTABLE_DIR}/codec/opus_codec.cpp
    ${ENGINE_PORTABLE_DIR}/codec/format_sniffer.cpp
    ${ENGINE_PORTABLE_DIR}/codec/stream_probe.cpp
    ${ENGINE_PORTABLE_DIR}/codec/ogg_decoder.cpp
    ${ENGINE_PORTABLE_DIR}/dsp/resampler.cpp
    ${ENGINE_PORTABLE_DIR}/dsp/fft.cpp
    ${ENGINE_PORTABLE_DIR}/dsp/levels.cpp
    ${ENGINE_PORTABLE_DIR}/dsp/slide.cpp
    ${ENGINE_PORTABLE_DIR}/dsp/mixer_frame.cpp
    ${ENGINE_PORTABLE_DIR}/dsp/play_history.cpp
    ${ENGINE_PORTABLE_DIR}/output/pacer.cpp
    ${ENGINE_PORTABLE_DIR}/output/output_converter.cpp
    ${ENGINE_PORTABLE_DIR}/tags.cpp
    ${ENGINE_PORTABLE_DIR}/hls/m3u8.cpp
    ${ENGINE_PORTABLE_DIR}/hls/segment.cpp
    ${ENGINE_PORTABLE_DIR}/hls/id3.cpp
    ${ENGINE_PORTABLE_DIR}/hls/ts_demux.cpp
    ${ENGINE_PORTABLE_DIR}/hls/hls_follow.cpp
    ${ENGINE_PORTABLE_DIR}/hls/packed_audio.cpp
    ${ENGINE_PORTABLE_DIR}/hls/fmp4.cpp
)
cmake_path(GET ENGINE_PORTABLE_DIR PARENT_PATH ENGINE_PORTABLE_ROOT)
set(ENGINE_PORTABLE_INCLUDES ${ENGINE_PORTABLE_ROOT})
include(${ENGINE_PORTABLE_ROOT}/cmake/vorbis.cmake)
include(${ENGINE_PORTABLE_ROOT}/cmake/opus.cmake)
set(ENGINE_PORTABLE_LIBS orvantis_vorbis orvantis_opus)
