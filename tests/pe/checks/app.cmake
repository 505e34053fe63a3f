# The program's binary: architecture, imports, resources, manifest and version.
set(APP_FILE ${ORVANTIS_DIST_DIR}/Orvantis${ORVANTIS_BITS}.exe)

pe_test(app.machine machine ${APP_FILE} ${ORVANTIS_BITS})
pe_test(app.imports imports ${APP_FILE} --by-ordinal Mivo${ORVANTIS_BITS}.dll)
pe_test(app.resources resources ${APP_FILE}
    dialog:3000 dialog:3100 menu:200 manifest:1 version:1
    group_icon:101 group_icon:102 group_icon:103 group_icon:104 group_icon:105
    group_icon:106 group_icon:107)
pe_test(app.version version ${APP_FILE}
    "#FileVersion=${ORVANTIS_VERSION_DOTTED}" "#ProductVersion=${ORVANTIS_VERSION_DOTTED}" "#FileType=1"
    "FileVersion=${ORVANTIS_VERSION_TEXT}" "ProductVersion=${ORVANTIS_VERSION_TEXT}" "ProductName=Orvantis"
    "OriginalFilename=Orvantis${ORVANTIS_BITS}.exe")

pe_test(app.manifest manifest ${APP_FILE}
    level=requireAdministrator common-controls=6.0.0.0
    common-controls-token=6595b64144ccf1df version=1.0.0.0 type=win32 description=Orvantis)
# Mivo: version check, About, modules, OS family, resizer, fonts.
pe_test(app.mivo_ordinals ordinals ${APP_FILE} Mivo${ORVANTIS_BITS}.dll 2 3 4 11 12 16)
