# Scenarios in tests/gui/scenarios/*.txt are run by usermgr-auto against the
# real program under Wine (see tests/wine/run.sh). Each gets a work folder
# build/<preset>/gui-work/<name>; screenshots go to build/<preset>/screenshots.

# Stand-ins for broken runtime libraries, for the launcher's failure cases.
foreach(fake refusing_runtime entryless_runtime refusing_start_runtime returning_runtime)
  add_library(${fake} SHARED ${CMAKE_CURRENT_LIST_DIR}/fakes/${fake}.cc)
  set_target_properties(${fake} PROPERTIES PREFIX "" SUFFIX ".vlr")
  target_link_options(${fake} PRIVATE -Wl,--kill-at)
endforeach()

file(GLOB gui_scenarios CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/scenarios/*.txt)
foreach(scenario ${gui_scenarios})
  get_filename_component(scenario_name ${scenario} NAME_WE)
  add_test(NAME gui_${scenario_name}
    COMMAND usermgr-auto
      -D BIN=${CMAKE_BINARY_DIR}
      -D WORK=${CMAKE_BINARY_DIR}/gui-work/${scenario_name}
      -D SHOTS=${CMAKE_BINARY_DIR}/screenshots
      -D SRC=${PROJECT_SOURCE_DIR}
      ${scenario})
  # 77: the runner cannot run this build's programs on this machine.
  set_tests_properties(gui_${scenario_name} PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endforeach()

# The window tests (gui_tests) run inside the real runtime library, loaded
# from beside them, and save screenshots with the driver's capture code.
if(TARGET gui_tests)
  target_sources(gui_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/auto/capture.cc)
  target_link_libraries(gui_tests PRIVATE gdiplus comctl32 ole32)
  add_dependencies(gui_tests vorta)
endif()
if(TEST gui_tests)
  set_tests_properties(gui_tests PROPERTIES SKIP_RETURN_CODE 77)
endif()

# A whole working session, then the file checked from outside.
if(TARGET usermgr-auto)
  add_test(NAME gui_e2e_session COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e/e2e.sh
    ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
  set_tests_properties(gui_e2e_session PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
endif()
