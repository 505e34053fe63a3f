# Build conventions shared by every folder: warnings, runtimes, output layout,
# and the helpers that register the three test layers with CTest.

set(ORVANTIS_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
cmake_path(NORMAL_PATH ORVANTIS_ROOT)

include(${CMAKE_CURRENT_LIST_DIR}/versions.cmake)

add_compile_options(-Wall -Wextra)
if(ORVANTIS_WERROR)
    add_compile_options(-Werror)
endif()

if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(ORVANTIS_BITS 64)
        set(wine_loader /usr/lib/wine/wine64)
    else()
        set(ORVANTIS_BITS 32)
        # Debian's wine32: the 32-bit loader, run in a 32-bit prefix as on a
        # 32-bit Windows, the one system where users get only this build.
        set(wine_loader /usr/lib/wine/wine)
    endif()
    set(ORVANTIS_WINE ${wine_loader} CACHE FILEPATH "Wine loader of this architecture's tests")
    set(ORVANTIS_WINEARCH win${ORVANTIS_BITS})
    # The Windows tests run where this architecture's Wine runs: a machine
    # without it (or whose kernel runs no 32-bit code) keeps the static checks,
    # and scripts/test says so.
    execute_process(COMMAND ${ORVANTIS_WINE} --version RESULT_VARIABLE wine_rc
        OUTPUT_QUIET ERROR_VARIABLE wine_error)
    if(wine_rc EQUAL 0)
        set(ORVANTIS_RUNS_HERE ON)
        set(ORVANTIS_NOT_RUN_REASON "")
    else()
        set(ORVANTIS_RUNS_HERE OFF)
        string(STRIP "${ORVANTIS_WINE}: ${wine_rc} ${wine_error}" ORVANTIS_NOT_RUN_REASON)
        string(REPLACE "\n" " " ORVANTIS_NOT_RUN_REASON "${ORVANTIS_NOT_RUN_REASON}")
        message(WARNING "win${ORVANTIS_BITS} Wine tests not run: ${ORVANTIS_NOT_RUN_REASON}")
    endif()
    set(ORVANTIS_WINE_TESTS_RUN ${ORVANTIS_RUNS_HERE} CACHE INTERNAL "The Wine tests are registered")
    set(ORVANTIS_WINE_NOT_RUN_REASON "${ORVANTIS_NOT_RUN_REASON}" CACHE INTERNAL
        "Why the Wine tests are not registered")
    set(ORVANTIS_DIST_DIR ${ORVANTIS_ROOT}/dist/win${ORVANTIS_BITS})
    set(ORVANTIS_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    # What every Wine test's environment starts with: its prefix and the
    # architecture's loader (scripts/wine-session and wine-exec read them),
    # and the test tones the local servers play, made once for both
    # architectures' trees.
    set(ORVANTIS_WINE_ENVIRONMENT "WINEPREFIX=${ORVANTIS_WINEPREFIX}"
        "WINEARCH=${ORVANTIS_WINEARCH}" "ORVANTIS_WINE=${ORVANTIS_WINE}"
        "ORVANTIS_TEST_MEDIA=${ORVANTIS_ROOT}/build/test-media")
    add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)
    # Everything carries its C/C++ runtime (and winpthread): a clean Windows
    # machine needs no MinGW DLL.
    add_link_options(-static -static-libgcc -static-libstdc++)
elseif(ORVANTIS_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Adds every sub-folder of the current folder that has a CMakeLists.txt, so a
# new area of tests, tools or benchmarks needs no edit here.
function(orvantis_add_subfolders)
    file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
    foreach(child IN LISTS children)
        if(EXISTS ${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()

# Places a shipped binary in the installed layout dist/winNN[/SUBDIR].
function(orvantis_ship target)
    cmake_parse_arguments(ARG "" "SUBDIR" "" ${ARGN})
    set(dir ${ORVANTIS_DIST_DIR})
    if(ARG_SUBDIR)
        set(dir ${dir}/${ARG_SUBDIR})
    endif()
    set_target_properties(${target} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY ${dir}
        LIBRARY_OUTPUT_DIRECTORY ${dir}
        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib
        PREFIX "")
endfunction()

# Renders one of tools/icons' designs into OUT (an .ico in the build folder).
function(orvantis_icon design out)
    add_custom_command(OUTPUT ${out}
        COMMAND ${Python3_EXECUTABLE} ${ORVANTIS_ROOT}/tools/icons/mkicon.py ${design} ${out}
                ${ARGN}
        DEPENDS ${ORVANTIS_ROOT}/tools/icons/mkicon.py
        COMMENT "Drawing icon ${design}"
        VERBATIM)
endfunction()

# GoogleTest from Debian's source package, built once per build tree with the
# toolchain of that tree and without our -Werror.
function(orvantis_use_googletest)
    if(TARGET gtest)
        return()
    endif()
    get_directory_property(saved COMPILE_OPTIONS)
    set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    set_directory_properties(PROPERTIES COMPILE_OPTIONS "${saved}")
endfunction()

# Native unit test: one GoogleTest program from SOURCES, run by CTest.
function(orvantis_unit_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;INCLUDES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${ORVANTIS_ROOT} ${ARG_INCLUDES})
    target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock ${ARG_LIBS})
    add_test(NAME unit.${name} COMMAND ${name})
    set_tests_properties(unit.${name} PROPERTIES LABELS unit TIMEOUT 300)
endfunction()

# A Windows program run under Wine in the test run's own prefix and display.
# RESOURCE_LOCK names what the test holds exclusively (fixed ports, say).
function(orvantis_wine_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "COMMAND;RESOURCE_LOCK;LABELS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    add_test(NAME ${name} COMMAND ${ORVANTIS_ROOT}/scripts/wine-exec ${ARG_COMMAND})
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "win;${ARG_LABELS}"
        ENVIRONMENT "${ORVANTIS_WINE_ENVIRONMENT};ORVANTIS_DIST=${ORVANTIS_DIST_DIR}")
    if(ARG_RESOURCE_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
    endif()
endfunction()

# GoogleTest program for Windows, run under Wine. It finds the shipped DLLs
# through WINEPATH (the dist folder).
function(orvantis_win_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;INCLUDES;RESOURCE_LOCK" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${ORVANTIS_ROOT} ${ARG_INCLUDES})
    target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/wintests)
    orvantis_wine_test(win.${name} COMMAND $<TARGET_FILE:${name}>
        TIMEOUT "${ARG_TIMEOUT}" RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
endfunction()

# libFuzzer target (fuzz preset), run for a bounded time by CTest.
set(ORVANTIS_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzzer runs in the test suite")
function(orvantis_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;INCLUDES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${ORVANTIS_ROOT} ${ARG_INCLUDES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
    add_test(NAME fuzz.${name}
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                $<TARGET_FILE:${name}> -max_total_time=${ORVANTIS_FUZZ_SECONDS}
                -rss_limit_mb=2048 -print_final_stats=1 ${corpus})
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz
        TIMEOUT 600)
    file(MAKE_DIRECTORY ${corpus})
endfunction()

# A DLL exporting through a .def of orvantis_export_table: on i386 the
# export table names its stdcall functions undecorated (BASS_Init, not
# BASS_Init@20), as programs import them.
function(orvantis_undecorated_exports target)
    if(ORVANTIS_BITS EQUAL 32)
        target_link_options(${target} PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup)
    endif()
endfunction()

# Export table of one of our DLLs from a .def whose names carry their i386
# stdcall argument size (NAME@N). Writes the .def to link the DLL with
# (undecorated names on both architectures) into <PREFIX>_EXPORT_DEF, and makes
# the INTERFACE target <PREFIX>_import through which programs link against the
# DLL: by ordinal with BY_ORDINAL (NONAME entries), by name otherwise.
function(orvantis_export_table prefix)
    cmake_parse_arguments(ARG "BY_ORDINAL" "DEF;DLL" "" ${ARGN})
    file(READ ${ARG_DEF} def)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARG_DEF})
    string(REGEX REPLACE "([A-Za-z_][A-Za-z0-9_]*)@[0-9]+" "\\1" plain "${def}")
    if(ORVANTIS_BITS EQUAL 32)
        set(export_def "${def}")
        set(import_def "${def}")
        set(dlltool_flags --kill-at)
    else()
        set(export_def "${plain}")
        set(import_def "${plain}")
        set(dlltool_flags)
    endif()
    if(ARG_BY_ORDINAL)
        string(REGEX REPLACE "(@[0-9]+)[ \t]*\n" "\\1 NONAME\n" import_def "${import_def}")
    endif()
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${prefix})
    file(WRITE ${dir}/exports.def "LIBRARY \"${ARG_DLL}\"\n${export_def}")
    file(WRITE ${dir}/imports.def "LIBRARY \"${ARG_DLL}\"\n${import_def}")
    set(${prefix}_EXPORT_DEF ${dir}/exports.def PARENT_SCOPE)

    set(lib ${dir}/lib${prefix}-import.a)
    add_custom_command(OUTPUT ${lib}
        COMMAND ${CMAKE_DLLTOOL} ${dlltool_flags} -d ${dir}/imports.def -l ${lib} -D ${ARG_DLL}
        DEPENDS ${dir}/imports.def
        COMMENT "Import library of ${ARG_DLL}"
        VERBATIM)
    add_custom_target(${prefix}_import_lib DEPENDS ${lib})
    add_library(${prefix}_import INTERFACE)
    add_dependencies(${prefix}_import ${prefix}_import_lib)
    target_link_libraries(${prefix}_import INTERFACE ${lib})
endfunction()
