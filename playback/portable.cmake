# The player's code that needs no Win32 (metadata, texts, the spectrum frame,
# the error table): the native tests, fuzzers and benchmarks compile these.
set(PLAYBACK_PORTABLE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/engine_errors.cpp
    ${CMAKE_CURRENT_LIST_DIR}/spectrum_frame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stream_metadata.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stream_text.cpp)
