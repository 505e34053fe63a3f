# The Vorbis reference decoder (libvorbis over libogg) for bass.dll.
# Include this file; it defines the target orvantis_vorbis.
#   Linux builds without sanitizers link Debian's libvorbis-dev/libogg-dev.
#   The MinGW builds, and the fuzz build (so the sanitizers see inside the
#   decoder), compile Debian's source packages that scripts/setup unpacks into
#   third_party/, without our warning flags: it is not our code to fix.
if(TARGET orvantis_vorbis)
    return()
endif()

set(ORVANTIS_THIRD_PARTY ${CMAKE_CURRENT_LIST_DIR}/../third_party)
cmake_path(NORMAL_PATH ORVANTIS_THIRD_PARTY)

if(NOT WIN32 AND NOT ORVANTIS_FUZZ)
    find_library(ORVANTIS_VORBIS_LIB vorbis REQUIRED)
    find_library(ORVANTIS_OGG_LIB ogg REQUIRED)
    find_path(ORVANTIS_VORBIS_INCLUDE vorbis/codec.h REQUIRED)
    add_library(orvantis_vorbis INTERFACE)
    target_include_directories(orvantis_vorbis SYSTEM INTERFACE ${ORVANTIS_VORBIS_INCLUDE})
    target_link_libraries(orvantis_vorbis INTERFACE ${ORVANTIS_VORBIS_LIB} ${ORVANTIS_OGG_LIB} m)
    return()
endif()

set(ogg_dir ${ORVANTIS_THIRD_PARTY}/libogg)
set(vorbis_dir ${ORVANTIS_THIRD_PARTY}/libvorbis)
if(NOT EXISTS ${ogg_dir}/src/framing.c OR NOT EXISTS ${vorbis_dir}/lib/synthesis.c)
    message(FATAL_ERROR "libogg/libvorbis source missing: run scripts/setup")
endif()

# What libogg's configure would write: the fixed-size integer types.
set(INCLUDE_INTTYPES_H 1)
set(INCLUDE_STDINT_H 1)
set(INCLUDE_SYS_TYPES_H 1)
set(SIZE16 int16_t)
set(USIZE16 uint16_t)
set(SIZE32 int32_t)
set(USIZE32 uint32_t)
set(SIZE64 int64_t)
set(USIZE64 uint64_t)
set(ogg_generated ${CMAKE_BINARY_DIR}/third_party/ogg-include)
configure_file(${ogg_dir}/include/ogg/config_types.h.in ${ogg_generated}/ogg/config_types.h @ONLY)

# The decoder's part of libvorbis: the library's sources without the file
# reader, the encoder front end and the tuning tools.
set(vorbis_sources mdct.c smallft.c block.c envelope.c window.c lsp.c lpc.c analysis.c
    synthesis.c psy.c info.c floor1.c floor0.c res0.c mapping0.c registry.c codebook.c
    sharedbook.c lookup.c bitrate.c)
list(TRANSFORM vorbis_sources PREPEND ${vorbis_dir}/lib/)

add_library(orvantis_vorbis STATIC ${ogg_dir}/src/framing.c ${ogg_dir}/src/bitwise.c
    ${vorbis_sources})
set_target_properties(orvantis_vorbis PROPERTIES COMPILE_OPTIONS "" POSITION_INDEPENDENT_CODE ON)
target_compile_options(orvantis_vorbis PRIVATE -w -O2)
if(ORVANTIS_FUZZ)
    target_compile_options(orvantis_vorbis PRIVATE -fsanitize=fuzzer-no-link,address)
endif()
target_include_directories(orvantis_vorbis PRIVATE ${vorbis_dir}/lib)
target_include_directories(orvantis_vorbis SYSTEM PUBLIC ${ogg_generated} ${ogg_dir}/include
    ${vorbis_dir}/include)
if(NOT WIN32)
    target_link_libraries(orvantis_vorbis PUBLIC m)
endif()
