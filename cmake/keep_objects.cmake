# Keeps the compiled objects of a pip build across pip's build environments.
#
# pip builds in a fresh, isolated environment under a new temporary path every
# time, and scikit-build-core then clears CMakeCache.txt and CMakeFiles/ of the
# build directory (build/<wheel tag>/), where the Ninja generator keeps every
# object file. So each `pip install .` compiled all of them again. This script
# saves the objects of the module's targets beside CMakeFiles/ after a build
# and puts them back, with their timestamps, before the next one generates.
# Ninja's own records (.ninja_log, .ninja_deps) stay in the build directory
# untouched, so it still recompiles exactly the objects whose source, headers
# or command line changed, and nothing else.
#
#   cmake -DTALVO_KEEP=save|restore -DTALVO_BUILD_DIR=<dir> -P keep_objects.cmake
#
# The module's CMakeLists.txt includes it at configure time (restore) and runs
# it after linking the module (save).
if(NOT TALVO_BUILD_DIR)
  set(TALVO_BUILD_DIR "${CMAKE_BINARY_DIR}")
endif()
set(_talvo_targets talvo_kernels talvo_core)
set(_talvo_kept "${TALVO_BUILD_DIR}/kept-objects")
if(TALVO_KEEP STREQUAL "save")
  foreach(target IN LISTS _talvo_targets)
    if(IS_DIRECTORY "${TALVO_BUILD_DIR}/CMakeFiles/${target}.dir")
      # file(COPY) keeps each file's timestamp and skips one already up to date.
      file(COPY "${TALVO_BUILD_DIR}/CMakeFiles/${target}.dir" DESTINATION "${_talvo_kept}")
    endif()
  endforeach()
elseif(TALVO_KEEP STREQUAL "restore")
  foreach(target IN LISTS _talvo_targets)
    if(IS_DIRECTORY "${_talvo_kept}/${target}.dir"
        AND NOT IS_DIRECTORY "${TALVO_BUILD_DIR}/CMakeFiles/${target}.dir")
      file(COPY "${_talvo_kept}/${target}.dir" DESTINATION "${TALVO_BUILD_DIR}/CMakeFiles")
    endif()
  endforeach()
else()
  message(FATAL_ERROR "keep_objects.cmake: TALVO_KEEP must be save or restore")
endif()
