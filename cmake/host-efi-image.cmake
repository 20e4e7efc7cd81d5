# Checks of the release image users copy (label "efi"): its size budget and
# contents (build/efi/Iovet.efi, after make efi), and that two builds of the
# same sources give the same image but for the banner's build stamp. Not
# part of the sanitizer build: the image is the same there.
if(IOVET_SANITIZE)
  return()
endif()
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  return()
endif()

add_test(NAME efi.shipped
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/image/image_checks.py shipped
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
add_test(NAME efi.reproducible
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/image/image_checks.py reproducible
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
set_tests_properties(efi.shipped efi.reproducible PROPERTIES LABELS efi SKIP_RETURN_CODE 77)
# Two builds of the image, two jobs each.
set_tests_properties(efi.reproducible PROPERTIES TIMEOUT 600 PROCESSORS 2)
