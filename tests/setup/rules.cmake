# The set-up's decisions (scripts/setup.sh) with the package commands faked.
if(NOT CMAKE_CROSSCOMPILING AND NOT USERMGR_SANITIZE)
  add_test(NAME setup_decisions COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/setup_test.sh)
endif()
