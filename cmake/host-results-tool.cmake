# The report reader iovet-results (tools/iovet-results runs it): a board's
# report turned into the JUnit and JSON files of iovet-sim. Host code only,
# no core: the reader is a library of its own for the unit tests and its
# fuzz target (cmake/host-fuzz.cmake, included before this file, defines
# iovet_fuzz_target).
# The JUnit and JSON writers, shared with iovet-sim (cmake/host-sim-tool.cmake).
add_library(iovet_result_files STATIC ${CMAKE_SOURCE_DIR}/tools/sim/result_files.cpp)
target_include_directories(iovet_result_files PUBLIC ${CMAKE_SOURCE_DIR}/tools/sim)

add_library(iovet_report_reader STATIC ${CMAKE_SOURCE_DIR}/tools/results/report_reader.cpp)
target_include_directories(iovet_report_reader PUBLIC ${CMAKE_SOURCE_DIR}/tools/results)
# Headers only from src/ (platform/sim/utf8.h): the reader links no core.
target_include_directories(iovet_report_reader PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(iovet_report_reader PUBLIC iovet_result_files)
target_compile_options(iovet_report_reader PRIVATE -Wall -Wextra)

add_executable(iovet-results ${CMAKE_SOURCE_DIR}/tools/results/iovet_results.cpp)
target_link_libraries(iovet-results PRIVATE iovet_report_reader)
set_target_properties(iovet-results PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

target_link_libraries(iovet_tests PRIVATE iovet_report_reader)
iovet_fuzz_target(results iovet_report_reader)
iovet_fuzz_instrument(iovet_report_reader iovet_result_files)

# A report iovet-sim prints, read back by iovet-results, gives the files
# iovet-sim writes itself: every reference platform and failing case.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME results.round_trip
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/results_round_trip.py $<TARGET_FILE:iovet-sim>
                   $<TARGET_FILE:iovet-results> ${CMAKE_SOURCE_DIR})
  set_tests_properties(results.round_trip PROPERTIES LABELS tools TIMEOUT 120)
endif()
