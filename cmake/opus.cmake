# The Opus reference decoder (libopus) for bass.dll. Include this file; it
# defines the target orvantis_opus.
#   Every build compiles Debian's source package, which scripts/setup unpacks
#   into third_party/opus: one source for the DLLs, the unit tests and the
#   fuzzers (whose sanitizers then see inside the decoder). Compiled without
#   our warning flags: it is not our code to fix.
if(TARGET orvantis_opus)
    return()
endif()

set(ORVANTIS_THIRD_PARTY ${CMAKE_CURRENT_LIST_DIR}/../third_party)
cmake_path(NORMAL_PATH ORVANTIS_THIRD_PARTY)
set(opus_dir ${ORVANTIS_THIRD_PARTY}/opus)
if(NOT EXISTS ${opus_dir}/src/opus_decoder.c)
    message(FATAL_ERROR "libopus source missing: run scripts/setup")
endif()

# The library keeps its source lists in make fragments ("NAME = \ a.c \ b.c");
# read them from there, so a newer package brings its own list.
function(orvantis_opus_sources out fragment variable)
    file(READ ${opus_dir}/${fragment} text)
    string(REGEX MATCH "${variable} =[^=]*" block "${text}")
    if(NOT block)
        message(FATAL_ERROR "libopus: ${variable} not found in ${fragment}")
    endif()
    string(REGEX MATCHALL "[A-Za-z0-9_/]+\\.c" files "${block}")
    list(TRANSFORM files PREPEND ${opus_dir}/)
    set(${out} ${files} PARENT_SCOPE)
endfunction()

# The floating-point build in plain C: no run-time CPU detection, no
# intrinsics files (the compiler's own vectorising is enough for a radio).
orvantis_opus_sources(silk silk_sources.mk "SILK_SOURCES")
orvantis_opus_sources(silk_float silk_sources.mk "SILK_SOURCES_FLOAT")
orvantis_opus_sources(celt celt_sources.mk "CELT_SOURCES")
orvantis_opus_sources(opus opus_sources.mk "OPUS_SOURCES")
orvantis_opus_sources(opus_float opus_sources.mk "OPUS_SOURCES_FLOAT")

add_library(orvantis_opus STATIC ${silk} ${silk_float} ${celt} ${opus} ${opus_float})
set_target_properties(orvantis_opus PROPERTIES COMPILE_OPTIONS "" POSITION_INDEPENDENT_CODE ON)
target_compile_options(orvantis_opus PRIVATE -w -O2)
if(ORVANTIS_FUZZ)
    target_compile_options(orvantis_opus PRIVATE -fsanitize=fuzzer-no-link,address)
endif()
# What the library's configure would decide on a C99 compiler with lrint.
target_compile_definitions(orvantis_opus PRIVATE OPUS_BUILD VAR_ARRAYS HAVE_LRINT HAVE_LRINTF)
target_include_directories(orvantis_opus PRIVATE ${opus_dir} ${opus_dir}/celt ${opus_dir}/silk
    ${opus_dir}/silk/float)
target_include_directories(orvantis_opus SYSTEM PUBLIC ${opus_dir}/include)
if(NOT WIN32)
    target_link_libraries(orvantis_opus PUBLIC m)
endif()
