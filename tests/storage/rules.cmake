# The storage tests hold no program texts; their narrow strings stay UTF-8
# (the standard headers they use do not convert to GBK).
get_target_property(storage_opts storage_tests COMPILE_OPTIONS)
list(REMOVE_ITEM storage_opts ${USERMGR_GBK_FLAGS})
set_target_properties(storage_tests PROPERTIES COMPILE_OPTIONS "${storage_opts}")
