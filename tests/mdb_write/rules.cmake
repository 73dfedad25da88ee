# The write tests check every result against mdbtools and mdb-reader, which
# run natively only; in the Windows builds the engine's file layer is covered
# by the storage tests, and the whole program by the GUI tests.
if(CMAKE_CROSSCOMPILING AND TEST mdb_write_tests)
  set_tests_properties(mdb_write_tests PROPERTIES DISABLED TRUE)
endif()
