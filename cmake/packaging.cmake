# What a user gets, installed by `cmake --install` and packed by CPack into
# dist/ (scripts/package_release.sh does both through the presets):
#   Windows (win32, win64): melno2quaz-<version>-win32.zip (or -win64) with
#     melno2quaz.exe       the window
#     melno2quaz-cli.exe   the command-line front end (console)
#     README-windows.txt   Japanese and English, UTF-8 with a byte order mark
#                          and CR LF line ends
#     LICENSE.txt          the licence, CR LF line ends
#   Linux (release): melno2quaz-<version>-linux-<processor>.tar.gz with
#     bin/melno2quaz
#     LICENSE
# each under a folder of the archive's own name. The programs are stripped
# when they are linked (Release): the archive holds the very bytes that the
# tests ran (strip run later would stamp the time into a PE file).
# cmake/reproducible_archive.cmake then packs each archive again in a fixed
# order, with fixed times and owners: one commit gives the same archive bytes
# wherever it is built (scripts/check_reproducible.sh shows it).
set(M2Q_SHIPPED_PROGRAMS melno2quaz)
if(WIN32)
  list(APPEND M2Q_SHIPPED_PROGRAMS melno2quaz_window)
endif()
foreach(program IN LISTS M2Q_SHIPPED_PROGRAMS)
  target_link_options(${program} PRIVATE $<$<CONFIG:Release>:-s>)
endforeach()

if(WIN32)
  set(M2Q_README_WINDOWS ${CMAKE_CURRENT_BINARY_DIR}/README-windows.txt)
  add_custom_command(OUTPUT ${M2Q_README_WINDOWS}
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/docs/README-windows.txt
            -DOUT=${M2Q_README_WINDOWS} -P ${PROJECT_SOURCE_DIR}/cmake/windows_text.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/README-windows.txt ${PROJECT_SOURCE_DIR}/cmake/windows_text.cmake
    COMMENT "README-windows.txt with a byte order mark and CR LF"
    VERBATIM)
  set(M2Q_LICENSE_WINDOWS ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt)
  add_custom_command(OUTPUT ${M2Q_LICENSE_WINDOWS}
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/LICENSE -DOUT=${M2Q_LICENSE_WINDOWS} -DBOM=OFF
            -P ${PROJECT_SOURCE_DIR}/cmake/windows_text.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/cmake/windows_text.cmake
    COMMENT "LICENSE.txt with CR LF"
    VERBATIM)
  add_custom_target(m2q_readme_windows ALL DEPENDS ${M2Q_README_WINDOWS} ${M2Q_LICENSE_WINDOWS})

  install(TARGETS ${M2Q_SHIPPED_PROGRAMS} RUNTIME DESTINATION .)
  install(FILES ${M2Q_README_WINDOWS} ${M2Q_LICENSE_WINDOWS} DESTINATION .)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  install(TARGETS ${M2Q_SHIPPED_PROGRAMS} RUNTIME DESTINATION bin)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
  set(CPACK_GENERATOR TGZ)
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR ${PROJECT_NAME})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Converts Melno city saves (.psu) into Quaz saves (.dat)")
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/reproducible_archive.cmake)
set(CPACK_M2Q_SOURCE_DIR ${PROJECT_SOURCE_DIR})
include(CPack)
