# CPack runs this after making the archives (CPACK_POST_BUILD_SCRIPTS, see
# cmake/packaging.cmake). It packs each archive again so that its bytes
# depend on its contents only, wherever and whenever and by whom it was
# made: entries sorted by name, every time the commit's (SOURCE_DATE_EPOCH,
# else the last commit's date, else 1980-01-01), owner 0, modes rwxr-xr-x or
# rw-r--r--, no extra fields; the .tar.gz through GNU tar and gzip -n, the
# .zip through Info-ZIP's zip -X in UTC. (scripts/package_release.sh then
# writes SHA256SUMS beside the archives.)
cmake_minimum_required(VERSION 3.19)

if(DEFINED ENV{SOURCE_DATE_EPOCH} AND "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${CPACK_M2Q_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT epoch MATCHES "^[0-9]+$")
    set(epoch 315532800)  # the earliest time a zip entry holds
  endif()
endif()

function(run)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C TZ=UTC ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "reproducible_archive: failed (${status}): ${ARGN}")
  endif()
endfunction()

foreach(archive IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(folder "${archive}" DIRECTORY)
  get_filename_component(name "${archive}" NAME)
  set(work "${folder}/_reproducible/${name}")
  file(REMOVE_RECURSE "${work}")
  file(MAKE_DIRECTORY "${work}")
  run(${CMAKE_COMMAND} -E chdir "${work}" ${CMAKE_COMMAND} -E tar xf "${archive}")
  run(chmod -R u=rwX,go=rX "${work}")
  run(find "${work}" -exec touch -h -d "@${epoch}" {} +)
  file(GLOB_RECURSE entries LIST_DIRECTORIES false RELATIVE "${work}" "${work}/*")
  list(SORT entries)
  file(REMOVE "${archive}")
  if(name MATCHES "\\.zip$")
    list(JOIN entries "\n" listing)
    file(WRITE "${work}.lst" "${listing}\n")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C TZ=UTC
        zip -q -X -D -9 "${archive}" -@
      WORKING_DIRECTORY "${work}" INPUT_FILE "${work}.lst" RESULT_VARIABLE status)
  elseif(name MATCHES "\\.tar\\.gz$")
    file(GLOB top RELATIVE "${work}" "${work}/*")
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C TZ=UTC tar --sort=name --format=gnu
        --mtime=@${epoch} --owner=0 --group=0 --numeric-owner --mode=u=rwX,go=rX -cf - ${top}
      COMMAND gzip -9 -n
      WORKING_DIRECTORY "${work}" OUTPUT_FILE "${archive}" RESULT_VARIABLE status)
  else()
    message(FATAL_ERROR "reproducible_archive: no rule for ${name}")
  endif()
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "reproducible_archive: packing ${name} again failed (${status})")
  endif()
  file(REMOVE_RECURSE "${folder}/_reproducible")
  message(STATUS "reproducible archive: ${archive}")
endforeach()
