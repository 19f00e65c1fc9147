# -Wall -Wextra -Werror for the C++ code of this project, and for nothing else
# (not through CMAKE_CXX_FLAGS or add_compile_options): the cross builds make
# GoogleTest from Debian's sources in a folder of their own, with its flags.
add_library(m2q_warnings INTERFACE)
target_compile_options(m2q_warnings INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Werror>)

# Gives m2q_warnings to every program and library defined in the given
# source folders of this project (relative to the top one). Called once at
# the end of the top CMakeLists.txt, so that no target is left out.
function(m2q_strict_warnings)
  foreach(folder IN LISTS ARGN)
    get_filename_component(folder "${folder}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
    get_property(known DIRECTORY "${PROJECT_SOURCE_DIR}" PROPERTY SUBDIRECTORIES)
    if(NOT folder STREQUAL PROJECT_SOURCE_DIR AND NOT folder IN_LIST known)
      continue()  # not part of this configuration (fuzz without M2Q_FUZZ, ...)
    endif()
    get_property(targets DIRECTORY "${folder}" PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
        target_link_libraries(${target} PRIVATE m2q_warnings)
      endif()
    endforeach()
  endforeach()
endfunction()
