# The station directory's code that needs no Win32: the native tests, the
# fuzzer and the benchmark compile these with the system's pugixml.
set(DIRECTORY_PORTABLE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/../common/text.cpp
    ${CMAKE_CURRENT_LIST_DIR}/channel_list_model.cpp
    ${CMAKE_CURRENT_LIST_DIR}/progress_text.cpp)
find_package(pugixml REQUIRED)
