# The host runner iovet-sim: the application's entry on a simulated machine
# that serves a platform directory or a reference platform.
file(GLOB IOVET_SIM_TOOL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/sim/*.cpp)
add_executable(iovet-sim ${IOVET_SIM_TOOL_SOURCES})
target_link_libraries(iovet-sim PRIVATE iovet_sim)
set_target_properties(iovet-sim PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The tests run the runner itself for its options and exit statuses.
add_dependencies(iovet_tests iovet-sim)
target_compile_definitions(iovet_tests PRIVATE IOVET_SIM_BINARY="$<TARGET_FILE:iovet-sim>")
