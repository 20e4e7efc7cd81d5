# Fuzz targets over the simulated machine (and, defined with
# iovet_fuzz_target by the host tools' own parts, over host code alone).
#
# Every host build gets a plain replay executable per target
# (iovet_fuzz_<target>_replay) and a test that runs it over the target's seed
# corpus and saved reproducers, so a fixed finding stays fixed; under
# IOVET_SANITIZE those replays run with the sanitizers too.
#
# With IOVET_FUZZ=ON (clang only; build/fuzz, see cmake/fuzz.mk) the
# libFuzzer executables iovet_fuzz_<target> are built as well, and the core
# and the simulated machine are instrumented for coverage.

set(IOVET_FUZZ_TARGETS run catalogue dump)
set(IOVET_FUZZ_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz)

option(IOVET_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(IOVET_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "IOVET_FUZZ needs clang (configure with CC=clang CXX=clang++)")
  endif()
  set(IOVET_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  # Coverage guides the fuzzer through the program only; the simulated
  # machine and the harness are sanitized but not traced.
  set(IOVET_FUZZ_FLAGS -fsanitize=fuzzer-no-link ${IOVET_SANITIZER_FLAGS})
endif()

# With IOVET_FUZZ: the first library traced for coverage, the second
# sanitized only; whatever links them gets the sanitizers' runtime.
function(iovet_fuzz_instrument traced sanitized)
  if(IOVET_FUZZ)
    target_compile_options(${traced} PRIVATE ${IOVET_FUZZ_FLAGS})
    target_compile_options(${sanitized} PRIVATE ${IOVET_SANITIZER_FLAGS})
    foreach(lib ${traced} ${sanitized})
      target_link_options(${lib} INTERFACE -fsanitize=address,undefined)
    endforeach()
  endif()
endfunction()
iovet_fuzz_instrument(iovet_core iovet_sim)

add_library(iovet_fuzz_support STATIC ${IOVET_FUZZ_DIR}/fuzz_machine.cpp)
target_include_directories(iovet_fuzz_support PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(iovet_fuzz_support PUBLIC iovet_sim)
if(IOVET_FUZZ)
  target_compile_options(iovet_fuzz_support PRIVATE ${IOVET_SANITIZER_FLAGS})
endif()

# The robustness tests share the machine description with the targets.
target_link_libraries(iovet_tests PRIVATE iovet_fuzz_support)

# A target: tests/fuzz/fuzz_<name>.cpp over the libraries named after it.
function(iovet_fuzz_target name)
  add_executable(iovet_fuzz_${name}_replay ${IOVET_FUZZ_DIR}/fuzz_${name}.cpp ${IOVET_FUZZ_DIR}/replay_main.cpp)
  target_link_libraries(iovet_fuzz_${name}_replay PRIVATE ${ARGN})
  add_test(NAME fuzz_replay_${name}
           COMMAND iovet_fuzz_${name}_replay ${IOVET_FUZZ_DIR}/corpus/${name} ${IOVET_FUZZ_DIR}/crashes/${name})
  set_tests_properties(fuzz_replay_${name} PROPERTIES LABELS fuzz-replay TIMEOUT 120)

  if(IOVET_FUZZ)
    add_executable(iovet_fuzz_${name} ${IOVET_FUZZ_DIR}/fuzz_${name}.cpp)
    target_compile_options(iovet_fuzz_${name} PRIVATE ${IOVET_SANITIZER_FLAGS})
    target_link_options(iovet_fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(iovet_fuzz_${name} PRIVATE ${ARGN})
  endif()
endfunction()

foreach(t ${IOVET_FUZZ_TARGETS})
  iovet_fuzz_target(${t} iovet_fuzz_support)
endforeach()

# Writes seed inputs from ACPI table directories (see cmake/fuzz.mk, "seeds").
add_executable(iovet_fuzz_seeds ${IOVET_FUZZ_DIR}/make_seeds.cpp)
target_link_libraries(iovet_fuzz_seeds PRIVATE iovet_fuzz_support)
