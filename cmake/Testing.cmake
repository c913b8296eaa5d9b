# GoogleTest for both builds, and the Wine runner for the Windows one.
include(GoogleTest)

if(CMAKE_CROSSCOMPILING AND WIN32)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                 GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  # Debian ships the GoogleTest sources; build them with the cross compiler.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # The GoogleTest sources define the GTest:: aliases themselves.

  # ctest runs the Windows tests side by side in this many slots (resource
  # "wine"), each with its own Wine prefix, display, test server and scratch
  # folder (see wine-run); the tests mostly wait on Wine and the programs.
  set(MARLIX_WINE_SLOTS 4 CACHE STRING "Windows tests run side by side under Wine")
  set(slots)
  math(EXPR last "${MARLIX_WINE_SLOTS} - 1")
  foreach(slot RANGE ${last})
    list(APPEND slots "{\"id\": \"${slot}\", \"slots\": 1}")
  endforeach()
  list(JOIN slots ", " slots)
  # Written only when it changes: the lint configures this build while its tests run.
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/wine-slots.json
       CONTENT "{\"version\": {\"major\": 1, \"minor\": 0}, \"local\": [{\"wine\": [${slots}]}]}\n")
else()
  find_package(GTest REQUIRED)
endif()

# marlix_add_test(name SOURCES ... LIBS ... [ENV ...] [FIXTURES ...] [LABELS ...]
#                 [TIMEOUT seconds]): one GoogleTest program, its cases discovered
# when ctest runs so that building never starts Wine; FIXTURES names ctest
# fixtures its cases need, LABELS the ctest labels its cases carry, TIMEOUT
# each case's time limit when it is not the preset's.
function(marlix_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV;FIXTURES;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
      MARLIX_REAL_DATA="${MARLIX_REAL_DATA}"
      MARLIX_TEST_BIN_DIR="${CMAKE_BINARY_DIR}")
  # An empty property value would swallow the next property's name.
  set(properties)
  if(T_ENV)
    list(APPEND properties ENVIRONMENT "${T_ENV}")
  endif()
  if(T_FIXTURES)
    list(APPEND properties FIXTURES_REQUIRED "${T_FIXTURES}")
  endif()
  if(T_LABELS)
    list(APPEND properties LABELS "${T_LABELS}")
  endif()
  if(T_TIMEOUT)
    list(APPEND properties TIMEOUT ${T_TIMEOUT})
  endif()
  if(CMAKE_CROSSCOMPILING)
    list(APPEND properties RESOURCE_GROUPS wine:1)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES ${properties})
endfunction()
