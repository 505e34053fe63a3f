# The language libraries: resource-only, with every string table block the
# program's text ids fall into and menu 200.
foreach(language 1031 1033)
    set(file ${ORVANTIS_DIST_DIR}/lang/${language}.dll)
    pe_test(lang.${language}.machine machine ${file} ${ORVANTIS_BITS})
    pe_test(lang.${language}.imports imports ${file})
    # String table blocks hold 16 ids each: block = id / 16 + 1 (5002 -> 313, 5100 -> 319, 5136 -> 322).
    pe_test(lang.${language}.resources resources ${file}
        menu:200 string:313 string:314 string:315 string:316 string:317 string:319
        string:320 string:321 string:322 version:1)
    pe_test(lang.${language}.version version ${file}
        "#FileVersion=${ORVANTIS_VERSION_DOTTED}" "#ProductVersion=${ORVANTIS_VERSION_DOTTED}"
        "#FileType=2" "FileVersion=${ORVANTIS_VERSION_TEXT}" "OriginalFilename=${language}.dll")
endforeach()
