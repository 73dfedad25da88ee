# The benchmark programs that ./bench.sh runs. They are built only on request
# (never by a plain build), and no test depends on them.
if(NOT WIN32 AND NOT USERMGR_FUZZ)
  add_library(bench_data STATIC EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/person_data.cc)
  target_link_libraries(bench_data PUBLIC mdb)

  add_executable(usermgr-bench-gen EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/gen_persons.cc)
  target_link_libraries(usermgr-bench-gen PRIVATE bench_data mdb)

  add_executable(usermgr-bench EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/bench_main.cc)
  target_link_libraries(usermgr-bench PRIVATE bench_data vorta_core mdb)

  add_executable(usermgr-bench-time EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/run_timed.cc)
  add_executable(usermgr-bench-noop EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/noop.cc)
  target_link_options(usermgr-bench-noop PRIVATE -static)
endif()
