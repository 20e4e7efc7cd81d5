# The survey of the table corpus (make survey): every machine on its own
# tables alone, per assertion how many machines ended in each result.
add_library(iovet_survey STATIC ${CMAKE_SOURCE_DIR}/tools/survey/survey.cpp)
target_include_directories(iovet_survey PUBLIC ${CMAKE_SOURCE_DIR}/tools/survey)
target_link_libraries(iovet_survey PUBLIC iovet_sim)
add_executable(iovet-survey ${CMAKE_SOURCE_DIR}/tools/survey/iovet_survey.cpp)
target_link_libraries(iovet-survey PRIVATE iovet_survey)
set_target_properties(iovet-survey PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# The corpus checks run the machines as the survey does, and the README's
# table is held against the survey's.
target_link_libraries(iovet_tests PRIVATE iovet_survey)
