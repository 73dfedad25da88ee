# One library per folder, sources found by globbing so that a new file needs
# no edit here. Files for one platform only guard themselves with #ifdef.
function(usermgr_glob out)
  set(files)
  foreach(dir ${ARGN})
    file(GLOB f CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cc)
    list(APPEND files ${f})
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# The database engine and its SQL layer (UTF-16 texts, no GBK).
usermgr_glob(MDB_SOURCES mdb)
add_library(mdb STATIC ${MDB_SOURCES})
target_include_directories(mdb PUBLIC ${PROJECT_SOURCE_DIR})

# The fuzz preset builds with clang, which takes no GBK execution character
# set; its targets need only the engine.
if(USERMGR_FUZZ)
  file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/fuzz/*.cc)
  foreach(src ${FUZZ_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE mdb -fsanitize=fuzzer)
  endforeach()
  return()
endif()

# The runtime library's portable core: codec, conversions, files, database unit.
usermgr_glob(VORTA_CORE_SOURCES vorta)
add_library(vorta_core STATIC ${VORTA_CORE_SOURCES})
target_include_directories(vorta_core PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(vorta_core PRIVATE ${USERMGR_GBK_FLAGS})
target_link_libraries(vorta_core PUBLIC mdb)

# The program itself: entry routine, globals, window definitions, handlers.
usermgr_glob(PROGRAM_SOURCES runtime app data ui persons accounts)
add_library(program STATIC ${PROGRAM_SOURCES})
target_include_directories(program PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(program PRIVATE ${USERMGR_GBK_FLAGS})

# The command-line companion.
usermgr_glob(TOOL_SOURCES tools)
add_executable(usermgr-db ${TOOL_SOURCES})
target_link_libraries(usermgr-db PRIVATE mdb vorta_core)
if(NOT WIN32 AND NOT USERMGR_SANITIZE AND NOT USERMGR_FUZZ)
  # It runs once per table exported: binding shared libraries' symbols at
  # each start would cost more than exporting a small table.
  target_link_options(usermgr-db PRIVATE -static)
endif()

if(WIN32)
  # vorta.vlr: the runtime library, loaded by the launcher.
  usermgr_glob(VORTA_WIN_SOURCES vorta/win32)
  add_library(vorta SHARED ${VORTA_WIN_SOURCES} ${PROJECT_SOURCE_DIR}/vorta/win32/vorta.rc)
  target_compile_options(vorta PRIVATE ${USERMGR_GBK_FLAGS})
  target_link_libraries(vorta PRIVATE vorta_core comctl32 gdiplus ole32 uuid shcore)
  set_target_properties(vorta PROPERTIES PREFIX "" OUTPUT_NAME "vorta" SUFFIX ".vlr")
  # GetNewSock is found by its plain name, also in the 32-bit build (stdcall).
  target_link_options(vorta PRIVATE -Wl,--kill-at)

  # usermgr.exe: the launcher, the program image and the manifest.
  usermgr_glob(LAUNCHER_SOURCES launcher)
  add_executable(usermgr WIN32 ${LAUNCHER_SOURCES} ${PROJECT_SOURCE_DIR}/launcher/usermgr.rc)
  target_compile_options(usermgr PRIVATE ${USERMGR_GBK_FLAGS})
  target_link_libraries(usermgr PRIVATE program)
  add_dependencies(usermgr vorta)

  # usermgr-auto.exe: drives the program from outside for the GUI tests. It
  # knows the control names from the window definitions; it runs no handler.
  file(GLOB AUTO_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/auto/*.cc)
  add_executable(usermgr-auto ${AUTO_SOURCES})
  target_compile_options(usermgr-auto PRIVATE ${USERMGR_GBK_FLAGS})
  target_link_libraries(usermgr-auto PRIVATE program vorta_core mdb gdiplus comctl32 ole32)
  target_link_options(usermgr-auto PRIVATE -municode)
endif()

include(cmake/tests.cmake)
include(${PROJECT_SOURCE_DIR}/bench/rules.cmake OPTIONAL)
