# The release archive, laid out so that it works as unpacked (an install gives the same tree):
#   va_vazu.exe, README.md, and the overlay's hvcomms.dll and HVHook.dll beside the program, which loads them
#     from its own folder;
#   preview/   the preview game with the overlay's d3d8.dll (and d3d9.dll, for its --d3d9) beside it, to try the
#              overlay without a game;
#   overlay/   the overlay's d3d8.dll and d3d9.dll alone, to put beside a game;
#   standins/  the recording stand-ins, for testers.
# Each folder has a short README.txt. Built with `cmake --build <build> --target package`.

install(TARGETS va_vazu RUNTIME DESTINATION .)
install(FILES README.md $<TARGET_FILE:overlay_hvcomms> $<TARGET_FILE:overlay_hvhook> DESTINATION .)
# Without d3d8.h (Visual Studio's SDK) there is neither a d3d8.dll nor a preview, and so neither folder.
if(TARGET overlay_d3d8 AND TARGET va_vazu_preview)
  install(TARGETS va_vazu_preview RUNTIME DESTINATION preview)
  install(FILES $<TARGET_FILE:overlay_d3d8> DESTINATION preview)
  install(FILES preview/RELEASE-NOTE.txt DESTINATION preview RENAME README.txt)
  install(FILES $<TARGET_FILE:overlay_d3d8> DESTINATION overlay)
  install(FILES ingame/RELEASE-NOTE.txt DESTINATION overlay RENAME README.txt)
endif()
if(TARGET overlay_d3d9)
  install(FILES $<TARGET_FILE:overlay_d3d9> DESTINATION overlay)
  if(TARGET va_vazu_preview)
    install(FILES $<TARGET_FILE:overlay_d3d9> DESTINATION preview)
  endif()
endif()
install(FILES $<TARGET_FILE:standin_hvcomms_full> $<TARGET_FILE:standin_hvhook_full> DESTINATION standins)
install(FILES standins/RELEASE-NOTE.txt DESTINATION standins RENAME README.txt)

# The archive is named after the version that the version record of va_vazu.exe is compiled from.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME va_vazu)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME va_vazu-${PROJECT_VERSION}-win32)
set(VA_VAZU_RELEASE_ARCHIVE ${CMAKE_BINARY_DIR}/package/${CPACK_PACKAGE_FILE_NAME}.zip)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
