# The reader's tests hold no program texts; their narrow strings stay UTF-8.
get_target_property(mdb_opts mdb_tests COMPILE_OPTIONS)
list(REMOVE_ITEM mdb_opts ${USERMGR_GBK_FLAGS})
set_target_properties(mdb_tests PROPERTIES COMPILE_OPTIONS "${mdb_opts}")
