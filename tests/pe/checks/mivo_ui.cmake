# The Mivo library carries the About (2000) and module list (3000) dialogs.
pe_test(mivo.dialogs resources ${MIVO_FILE} dialog:2000 dialog:3000)
