# Each fuzz target's committed corpus, replayed by fuzz/replay.cpp in the ordinary build (one
# ctest entry per target), so that every test run also runs the damaged-input sweeps.
file(GLOB vorn_fuzz_corpora LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/fuzz/corpus/*)
foreach(corpus ${vorn_fuzz_corpora})
  get_filename_component(target ${corpus} NAME)
  file(GLOB seeds CONFIGURE_DEPENDS ${corpus}/*)
  add_executable(replay_${target} ${PROJECT_SOURCE_DIR}/fuzz/${target}.cpp
                                  ${PROJECT_SOURCE_DIR}/fuzz/replay.cpp)
  target_include_directories(replay_${target} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
  target_link_libraries(replay_${target} PRIVATE vorn_test_support)
  vorn_warnings(replay_${target})
  add_test(NAME replay_${target} COMMAND replay_${target} ${seeds})
  set_tests_properties(replay_${target} PROPERTIES TIMEOUT 300)
endforeach()
