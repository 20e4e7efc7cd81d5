# Cross toolchain for the UEFI image: clang++ producing PE32+ objects for
# x86-64 with the Microsoft calling convention, linked by lld-link.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

find_program(IOVET_CLANGXX NAMES clang++ clang++-14 REQUIRED)
find_program(IOVET_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)

set(CMAKE_CXX_COMPILER ${IOVET_CLANGXX})
set(CMAKE_CXX_COMPILER_TARGET x86_64-unknown-windows)
# Nothing can be linked into a test program for this target: let CMake's
# compiler checks stop at object files.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
