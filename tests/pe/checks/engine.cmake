# The engine DLL: the interface's sixteen calls by undecorated name (ordinals
# follow the linker's sorted order; the program binds by name), only system
# DLLs imported, its own version resource.
set(BASS_FILE ${ORVANTIS_DIST_DIR}/bass.dll)
pe_test(engine.machine machine ${BASS_FILE} ${ORVANTIS_BITS})
pe_test(engine.exports exports ${BASS_FILE}
    1:BASS_ChannelGetAttribute 2:BASS_ChannelGetData 3:BASS_ChannelGetLevel
    4:BASS_ChannelGetTags 5:BASS_ChannelPlay 6:BASS_ChannelSetAttribute 7:BASS_ChannelSetSync
    8:BASS_ChannelSlideAttribute 9:BASS_ErrorGetCode 10:BASS_Free 11:BASS_GetVersion 12:BASS_Init
    13:BASS_SetConfig 14:BASS_StreamCreateURL 15:BASS_StreamFree 16:BASS_StreamGetFilePosition)
pe_test(engine.imports imports ${BASS_FILE})
pe_test(engine.version version ${BASS_FILE}
    "#FileVersion=${BASS_VERSION_DOTTED}" "#ProductVersion=${BASS_VERSION_DOTTED}" "#FileType=2"
    "FileVersion=${BASS_VERSION_DOTTED}" "OriginalFilename=bass.dll")
