# The export comparison runs the companion program.
add_dependencies(sql_tests usermgr-db)
# The shell and CSV helpers are the reader tests' own.
target_sources(sql_tests PRIVATE ${USERMGR_TEST_ROOT}/mdb/reader_util.cc)
