# The host runner iovet-sim: the application's entry on a simulated machine
# that serves a platform directory or a reference platform.
# Its JUnit and JSON writers, tools/sim/result_files.cpp, are the library
# iovet_result_files (cmake/host-results-tool.cmake), shared with the report
# reader iovet-results.
file(GLOB IOVET_SIM_TOOL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/sim/*.cpp)
list(REMOVE_ITEM IOVET_SIM_TOOL_SOURCES ${CMAKE_SOURCE_DIR}/tools/sim/result_files.cpp)
add_executable(iovet-sim ${IOVET_SIM_TOOL_SOURCES})
target_link_libraries(iovet-sim PRIVATE iovet_sim iovet_result_files)
set_target_properties(iovet-sim PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The tests run the runner itself for its options and exit statuses.
add_dependencies(iovet_tests iovet-sim)
target_compile_definitions(iovet_tests PRIVATE IOVET_SIM_BINARY="$<TARGET_FILE:iovet-sim>")

# The runner's result files read back with Python's json and xml.etree.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME sim_results.files
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/sim_results_files.py $<TARGET_FILE:iovet-sim>
                   ${CMAKE_SOURCE_DIR})
  set_tests_properties(sim_results.files PROPERTIES LABELS tools TIMEOUT 120)
endif()
