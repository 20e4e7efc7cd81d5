# The dump check against the real-firmware corpus decodes every table with
# iasl once, into a directory of the build tree.
target_compile_definitions(iovet_tests PRIVATE IOVET_DUMP_WORK_DIR="${CMAKE_BINARY_DIR}/dump-corpus")
