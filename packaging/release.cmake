# Release builds (presets release-win64, release-win32): the program downloads
# the maker's station directory, the installed layout goes into the build
# tree (dist/ stays the test builds'), and no Wine tests are built.
option(ORVANTIS_RELEASE "Build what we ship: the maker's directory address, no Wine tests" OFF)
if(ORVANTIS_RELEASE)
    # Set before directory/ declares it, so this is the release default.
    set(ORVANTIS_DIRECTORY_URL "http://orvantis.example.org/dwl/programs/orvantis/channels.xml"
        CACHE STRING "Address of the station directory the program downloads at start")
    set(ORVANTIS_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
endif()

# Where the packages target writes: <base>.zip and <base>-setup.exe.
set(ORVANTIS_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(ORVANTIS_PACKAGE_BASE ${ORVANTIS_PACKAGE_DIR}/Orvantis-${ORVANTIS_VERSION_SHORT}-win${ORVANTIS_BITS})
