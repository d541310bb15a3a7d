# Cross build for the target: i586 (Pentium MMX: no cmov, no SSE) with the
# musl C library, using the host gcc in -m32 mode and the i386 musl sysroot
# that tools/target-sysroot.sh unpacks from Debian's packages.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i586)

get_filename_component(VESK_TARGET_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/sysroot-i386" ABSOLUTE)
if(NOT EXISTS "${VESK_TARGET_SYSROOT}/musl-gcc.specs")
  execute_process(COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/../tools/target-sysroot.sh" "${VESK_TARGET_SYSROOT}"
                  RESULT_VARIABLE sysroot_status)
  if(NOT sysroot_status EQUAL 0)
    message(FATAL_ERROR "no i386 musl sysroot: run sh tools/target-sysroot.sh as root")
  endif()
endif()

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(vesk_target_flags "-m32 -march=pentium-mmx -specs=${VESK_TARGET_SYSROOT}/musl-gcc.specs")

# The specs drop every standard header directory; C++ code keeps the host
# compiler's own (header-only) C++ library headers for 32-bit code, which
# ask the C library for its glibc version.
execute_process(COMMAND g++ -m32 -E -v -x c++ /dev/null
                OUTPUT_QUIET ERROR_VARIABLE search_list)
string(REGEX MATCHALL "\n [^\n]*/c\\+\\+/[^\n]*" cxx_header_dirs "${search_list}")
set(vesk_cxx_headers "")
foreach(dir IN LISTS cxx_header_dirs)
  string(STRIP "${dir}" dir)
  string(APPEND vesk_cxx_headers " -isystem ${dir}")
endforeach()
if(vesk_cxx_headers STREQUAL "")
  message(FATAL_ERROR "g++ -m32 names no C++ header directory")
endif()

# Size: unused functions of the programs and of libc.a are dropped, and no
# unwind tables (the programs have no exceptions). The code is not put on
# pages of its own: a Pentium MMX has no NX bit, so page permissions could
# not keep the other pages from running anyway, and the padding costs up
# to 12 KiB per program.
set(vesk_size_flags "-ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables")

set(CMAKE_C_FLAGS_INIT "${vesk_target_flags} ${vesk_size_flags}")
set(CMAKE_CXX_FLAGS_INIT "${vesk_target_flags} ${vesk_size_flags}${vesk_cxx_headers} '-D__GLIBC_PREREQ(a,b)=0'")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--gc-sections -Wl,-z,noseparate-code")

set(CMAKE_FIND_ROOT_PATH "${VESK_TARGET_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
