# Refuses objects that need start-up code the image does not have: global
# constructors (.CRT$XC*) and thread-local data (.tls).
# Usage: cmake -P efi-check-objects.cmake OBJECT...
find_program(IOVET_OBJDUMP NAMES llvm-objdump llvm-objdump-14)
if(NOT IOVET_OBJDUMP)
  return()
endif()
math(EXPR last "${CMAKE_ARGC} - 1")
set(first 3)
foreach(i RANGE ${first} ${last})
  set(object "${CMAKE_ARGV${i}}")
  execute_process(COMMAND ${IOVET_OBJDUMP} -h ${object} OUTPUT_VARIABLE sections RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot read ${object}")
  endif()
  if(sections MATCHES "\\.CRT\\$XC|\\.tls")
    message(FATAL_ERROR "${object} needs global constructors or thread-local data, which the UEFI image cannot run")
  endif()
endforeach()
