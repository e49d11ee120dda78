# Cross build for 64-bit ARM Linux with Debian's cross compiler. The target's
# Python headers come from TALVO_SYSROOT, a folder holding Debian's arm64
# CPython packages unpacked by scripts/check_portability.sh; the interpreter
# that runs CMake only names the stable-ABI suffix.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
if(TALVO_SYSROOT)
  set(Python_INCLUDE_DIR "${TALVO_SYSROOT}/usr/include/python3.11" CACHE PATH "")
  # Debian's pyconfig.h picks the multiarch one by the target's macros.
  set(CMAKE_CXX_FLAGS_INIT "-idirafter ${TALVO_SYSROOT}/usr/include")
endif()
set(Python_SOSABI "abi3" CACHE STRING "")
