# SPDX-License-Identifier: GPL-3.0-or-later
# Two Debian packages from one build (`make package`): the window with its
# menu entry, and the renderer alone, for machines without a display (a
# cluster node). Their dependencies are read off the libraries each program
# links (dpkg-shlibdeps), so the renderer's name no toolkit GUI or X library.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME inverse-logistic)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "inverse-logistic developers <developers@inverse-logistic.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL window render)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME inverse-logistic)
set(CPACK_COMPONENT_WINDOW_DESCRIPTION
    "photograph beside its inverse logistic rendering
A window shows a colour photograph twice, side by side. Type a parameter a
and press Go: the right picture is repainted with every colour channel v,
scaled to [0, 1], replaced by one of the two solutions y of a*y*(1-y) = v,
the dark lower one or the bright upper one, drawn at random for every pass.
Passes follow one another until you restart or quit.")

set(CPACK_DEBIAN_RENDER_PACKAGE_NAME inverse-logistic-render)
set(CPACK_COMPONENT_RENDER_DESCRIPTION
    "batch renderer of images through the inverse logistic colour map
inverse-logistic-render replaces every colour channel v of an image, scaled
to [0, 1], with a solution y of a*y*(1-y) = v, the dark lower one or the
bright upper one. It reads and writes JPEG, PNG, TIFF, WebP, GIF, HEIF,
AVIF and Netpbm images (and writes JPEG 2000), keeps their metadata,
renders batches and folder trees with each file in a sandboxed worker
process, and needs no display.")
# The labels of a contact sheet (--sheet) are drawn in a sans font.
set(CPACK_DEBIAN_RENDER_PACKAGE_RECOMMENDS fonts-dejavu-core)

# Both programs embed the photograph; its provenance goes with each.
file(READ ${PROJECT_SOURCE_DIR}/assets/SOURCE.md IL_PHOTOGRAPH_SOURCE)
foreach(package inverse-logistic inverse-logistic-render)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${PROJECT_BINARY_DIR}/packaging/${package}/copyright
                 @ONLY)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/packaging/inverse-logistic/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/inverse-logistic COMPONENT window)
install(FILES ${PROJECT_BINARY_DIR}/packaging/inverse-logistic-render/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/inverse-logistic-render COMPONENT render)

include(CPack)
