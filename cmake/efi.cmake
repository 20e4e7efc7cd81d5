# The UEFI image: build/efi/Iovet.efi from the core and the firmware
# platform layer, with the test catalogue and the manual page copied beside
# it.
if(NOT IOVET_LLD_LINK)
  find_program(IOVET_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
endif()
find_path(IOVET_EFI_INCLUDE efi.h PATHS /usr/include/efi NO_DEFAULT_PATH)
if(NOT IOVET_EFI_INCLUDE)
  message(FATAL_ERROR "gnu-efi headers not found in /usr/include/efi (apt-get install gnu-efi)")
endif()

set(CMAKE_CXX_EXTENSIONS OFF)
set(IOVET_EFI_FLAGS
  --target=x86_64-unknown-windows -std=c++17 -ffreestanding -fno-exceptions -fno-rtti
  -fno-stack-protector -mno-red-zone -nostdinc++ -mno-stack-arg-probe
  -fno-threadsafe-statics -Wall -Wextra -Wno-unused-parameter
  # No stack probes: keep frames well inside the firmware's stack.
  -Wframe-larger-than=16384 -Werror=frame-larger-than)

# The release image (the one users copy and the QEMU checks boot) is
# optimized for size, across the whole program (the objects are LLVM bitcode
# that the linker optimizes as one module: 3 KiB less than object by
# object); every function and object has a section of its own so
# that the link drops what nothing references and folds identical code, and
# the read-only data goes into .text (as EDK2 does for its GCC builds), which
# saves a section and its padding. No debug information.
# IOVET_EFI_DEBUG=ON builds the image for stepping in a debugger instead:
# unoptimized, with DWARF debug information kept in the image.
option(IOVET_EFI_DEBUG "UEFI image for a debugger: -O0, DWARF debug information in the image" OFF)
if(IOVET_EFI_DEBUG)
  list(APPEND IOVET_EFI_FLAGS -O0 -g -gdwarf)
  set(IOVET_EFI_LINK_FLAGS /debug:dwarf)
else()
  # Source paths (__FILE__) are kept relative to the repository, so that
  # the image does not depend on where it was checked out.
  list(APPEND IOVET_EFI_FLAGS -Oz -flto -ffunction-sections -fdata-sections
       -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
  set(IOVET_EFI_LINK_FLAGS /opt:ref /opt:icf /merge:.rdata=.text)
endif()

add_library(iovet_efi_objects OBJECT ${IOVET_CORE_SOURCES} ${IOVET_EFI_SOURCES})
target_include_directories(iovet_efi_objects PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_options(iovet_efi_objects PRIVATE ${IOVET_EFI_FLAGS})
# Only the firmware platform layer sees the UEFI headers.
set_source_files_properties(${IOVET_EFI_SOURCES} PROPERTIES
  INCLUDE_DIRECTORIES "${IOVET_EFI_INCLUDE};${IOVET_EFI_INCLUDE}/x86_64")

# The header's time stamp is fixed: two builds of the same sources give the
# same image but for the banner's build stamp.
set(IOVET_EFI_IMAGE ${CMAKE_BINARY_DIR}/Iovet.efi)
add_custom_command(
  OUTPUT ${IOVET_EFI_IMAGE}
  COMMAND ${CMAKE_COMMAND} -P ${CMAKE_SOURCE_DIR}/cmake/efi-check-objects.cmake
          $<TARGET_OBJECTS:iovet_efi_objects>
  COMMAND ${IOVET_LLD_LINK} /nologo /subsystem:efi_application /entry:efi_main /nodefaultlib
          /machine:x64 ${IOVET_EFI_LINK_FLAGS} /timestamp:0 /out:${IOVET_EFI_IMAGE} $<TARGET_OBJECTS:iovet_efi_objects>
  DEPENDS iovet_efi_objects $<TARGET_OBJECTS:iovet_efi_objects> ${CMAKE_SOURCE_DIR}/cmake/efi-check-objects.cmake
          ${CMAKE_CURRENT_LIST_FILE}
  COMMAND_EXPAND_LISTS
  VERBATIM
  COMMENT "Linking Iovet.efi")

# The catalogue and the shell's manual page (Iovet.man, which the shell
# shows for "Iovet.efi -?") are copied on every build (they are small), so
# that an edit always reaches the image's directory.
add_custom_target(iovet_efi ALL
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_SOURCE_DIR}/zyr-tests -DDEST=${CMAKE_BINARY_DIR}/zyr-tests
          -P ${CMAKE_SOURCE_DIR}/cmake/efi-copy-catalogue.cmake
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/Iovet.man ${CMAKE_BINARY_DIR}/Iovet.man
  DEPENDS ${IOVET_EFI_IMAGE}
  VERBATIM)
