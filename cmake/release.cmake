# The release archive: va_vazu.exe and the README at the top, ready to be dropped beside the product's
# libraries; the overlay's own libraries in overlay/ and the stand-ins in standins/, each with a note saying what
# they are. Built with
# `cmake --build <build> --target package`.

install(TARGETS va_vazu RUNTIME DESTINATION .)
install(FILES README.md DESTINATION .)
install(FILES $<TARGET_FILE:standin_hvcomms_full> $<TARGET_FILE:standin_hvhook_full> DESTINATION standins)
install(FILES standins/RELEASE-NOTE.txt DESTINATION standins RENAME README.txt)
# The overlay's own libraries for real games, with a note on how to put them in place.
install(FILES $<TARGET_FILE:overlay_hvcomms> $<TARGET_FILE:overlay_hvhook> DESTINATION overlay)
if(TARGET overlay_d3d8)
  install(FILES $<TARGET_FILE:overlay_d3d8> DESTINATION overlay)
endif()
install(FILES ingame/RELEASE-NOTE.txt DESTINATION overlay RENAME README.txt)

# The archive is named after the version that the version record of va_vazu.exe is compiled from.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME va_vazu)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME va_vazu-${PROJECT_VERSION}-win32)
set(VA_VAZU_RELEASE_ARCHIVE ${CMAKE_BINARY_DIR}/package/${CPACK_PACKAGE_FILE_NAME}.zip)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
