# Checks of the UEFI image in QEMU (label "qemu"). They boot
# build/efi/Iovet.efi (make efi; IOVET_EFI_IMAGE points elsewhere) and are
# reported as skipped when QEMU or the image is missing.
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  message(STATUS "python3 not found: the QEMU checks are not registered")
  return()
endif()

# frame, no-catalogue, bad-path: one boot each; lab (the run of make run
# against tests/qemu/lab-rav.expected, and -p), p2sb and rmrr: one boot
# each; unlisted (a processor without a setup routine, with and without
# -a): one boot; families: one boot per family other than rav (six);
# profiles: the later profiles pek and lum, one boot each;
# manual-page ("Iovet.efi -?" prints Iovet.man beside the image): one boot;
# usb (the boot stick of make usb, its results against lab-rav.expected):
# one boot.
foreach(group frame no-catalogue bad-path lab unlisted families profiles p2sb rmrr manual-page usb)
  if(group STREQUAL "families")
    set(timeout 900)
  else()
    set(timeout 300)
  endif()
  add_test(NAME qemu.${group}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/qemu/qemu_checks.py ${group}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(qemu.${group} PROPERTIES
    LABELS qemu
    TIMEOUT ${timeout}
    SKIP_RETURN_CODE 77
    # One virtual machine at a time: TCG needs a whole core to stay within
    # its time bound.
    RESOURCE_LOCK qemu)
endforeach()

# tools/qemu-run's own logic, without a virtual machine.
add_test(NAME qemu_run.logic
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/qemu/qemu_run_test.py
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
set_tests_properties(qemu_run.logic PROPERTIES LABELS tools TIMEOUT 60)
