# Each fuzz target's committed corpus, replayed by fuzz/replay.cpp in the ordinary build (one
# GoogleTest program and ctest entry per target), so that every test run also runs the
# damaged-input sweeps.
file(GLOB vorn_fuzz_corpora LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/fuzz/corpus/*)
foreach(corpus ${vorn_fuzz_corpora})
  get_filename_component(target ${corpus} NAME)
  add_executable(replay_${target} ${PROJECT_SOURCE_DIR}/fuzz/${target}.cpp
                                  ${PROJECT_SOURCE_DIR}/fuzz/replay.cpp)
  target_include_directories(replay_${target} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
  target_compile_definitions(replay_${target} PRIVATE VORN_CORPUS="${corpus}")
  target_link_libraries(replay_${target} PRIVATE vorn_test_support GTest::gtest_main)
  vorn_warnings(replay_${target})
  add_test(NAME replay_${target} COMMAND replay_${target} --gtest_brief=1)
  set_tests_properties(replay_${target} PROPERTIES TIMEOUT 300)
endforeach()
# Targets that reach past the toolkit: the tool's tree walk, the patcher's copy.
target_sources(replay_fuzz_pack PRIVATE ${PROJECT_SOURCE_DIR}/tools/vornpatch/tree.cpp)
target_include_directories(replay_fuzz_pack PRIVATE ${PROJECT_SOURCE_DIR}/tools/vornpatch)
if(VORN_PATCHER_STAGES)
  target_sources(replay_fuzz_copy PRIVATE ${VORN_PATCHER_STAGES}
                 ${PROJECT_SOURCE_DIR}/tests/patcher/patcher_world.cpp)
  target_include_directories(replay_fuzz_copy PRIVATE ${PROJECT_SOURCE_DIR}/tests/patcher)
endif()
