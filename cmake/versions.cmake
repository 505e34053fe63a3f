# The version of each deliverable, kept here and nowhere else: the code, the
# resources and the tests take them from the header written below
# (generated/versions.h) or from these variables.

# The program: file and product version, and the version text of its resource.
set(ORVANTIS_VERSION 3.3.1.617)
set(ORVANTIS_VERSION_TEXT "17.01")
# The support library Mivo.
set(MIVO_VERSION 3.4.0.355)
set(MIVO_VERSION_TEXT "17.01")
# The audio engine bass.dll: the interface version the program checks for.
set(BASS_VERSION 2.4.0.0)

# Splits VERSION (a.b.c.d) into PREFIX_MAJOR, _MINOR, _PATCH, _BUILD and the
# texts PREFIX_SHORT (a.b.c) and PREFIX_DOTTED (a.b.c.d).
function(orvantis_split_version prefix version)
    string(REPLACE "." ";" parts ${version})
    list(LENGTH parts count)
    if(NOT count EQUAL 4)
        message(FATAL_ERROR "${prefix}: version ${version} needs four parts")
    endif()
    list(GET parts 0 major)
    list(GET parts 1 minor)
    list(GET parts 2 patch)
    list(GET parts 3 build)
    set(${prefix}_MAJOR ${major} PARENT_SCOPE)
    set(${prefix}_MINOR ${minor} PARENT_SCOPE)
    set(${prefix}_PATCH ${patch} PARENT_SCOPE)
    set(${prefix}_BUILD ${build} PARENT_SCOPE)
    set(${prefix}_SHORT "${major}.${minor}.${patch}" PARENT_SCOPE)
    set(${prefix}_DOTTED "${version}" PARENT_SCOPE)
endfunction()

orvantis_split_version(ORVANTIS_VERSION ${ORVANTIS_VERSION})
orvantis_split_version(MIVO_VERSION ${MIVO_VERSION})
orvantis_split_version(BASS_VERSION ${BASS_VERSION})
# BASS_GetVersion's word: one byte each, major at the top.
math(EXPR BASS_VERSION_WORD
    "(${BASS_VERSION_MAJOR} << 24) | (${BASS_VERSION_MINOR} << 16) | (${BASS_VERSION_PATCH} << 8) | ${BASS_VERSION_BUILD}"
    OUTPUT_FORMAT HEXADECIMAL)
math(EXPR BASS_INTERFACE_VERSION "(${BASS_VERSION_MAJOR} << 8) | ${BASS_VERSION_MINOR}"
    OUTPUT_FORMAT HEXADECIMAL)

set(ORVANTIS_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/versions.h.in ${ORVANTIS_GENERATED_DIR}/versions.h @ONLY)
include_directories(${ORVANTIS_GENERATED_DIR})
