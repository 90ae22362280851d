# The timed event run against the simulated unit: how close each move command
# leaves to its time, against a model of relative delays on a coarse timer.
if(TARGET valve_sim AND TARGET valve_sequencer)
  add_executable(sequencer_bench ${CMAKE_CURRENT_LIST_DIR}/sequencer_bench.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/sequencer_run.h ${CMAKE_CURRENT_LIST_DIR}/sequencer_runs.h
                                 ${CMAKE_CURRENT_LIST_DIR}/sim_session.h
                                 ${CMAKE_CURRENT_LIST_DIR}/bench_support.h)
  target_link_libraries(sequencer_bench PRIVATE valve_sequencer valve_sim)
  # The raised runs may start rtkit-daemon on a private bus, as the tests do.
  target_include_directories(sequencer_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
endif()
