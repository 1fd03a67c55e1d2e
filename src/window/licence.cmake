# The about dialog shows the program's licence as the repository's
# COPYING.LESSER holds it. The file is compiled in as the resource
# :/licence/COPYING.LESSER (see licencetext.h), so the text exists only once.
#
# Included from the directory that defines zentaval_core.

# rcc compresses the text with zlib rather than zstd, so that a Qt built
# without zstd reads it too. For a static library Qt links the resource's
# object file straight into every program that uses zentaval_core, so that
# its registration is not dropped by the linker.
qt_add_resources(zentaval_core zentaval_licence
    PREFIX "/licence"
    BASE ${PROJECT_SOURCE_DIR}
    FILES ${PROJECT_SOURCE_DIR}/COPYING.LESSER
    OPTIONS --compress-algo zlib)
