# GoogleTest: Debian's package natively, built from Debian's sources for the windows target.
if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(BRIO_GTEST gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  set(BRIO_GTEST GTest::gtest GTest::gtest_main)
endif()

set(BRIO_TEST_RESULTS ${CMAKE_BINARY_DIR}/test-results)
file(MAKE_DIRECTORY ${BRIO_TEST_RESULTS})

# One test program per source folder (tests/<folder>/*.cpp), each one CTest entry that writes its
# GoogleTest report for scripts/test to count.
function(brio_test_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${BRIO_GTEST})
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${BRIO_TEST_RESULTS}/${name}.xml)
  set_tests_properties(${name} PROPERTIES TIMEOUT 1200)
endfunction()

file(GLOB_RECURSE PLATFORM_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/platform/*.cpp)
brio_test_program(platform_tests SOURCES ${PLATFORM_TESTS} LIBS tw_platform)

file(GLOB EFFECTS_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/effects/*.cpp)
brio_test_program(effects_tests SOURCES ${EFFECTS_TESTS} LIBS tw_effects)

file(GLOB FILTER_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/filter/*.cpp)
if(FILTER_TESTS AND TARGET tw_filter)
  brio_test_program(filter_tests SOURCES ${FILTER_TESTS} LIBS tw_filter)
endif()

foreach(sub server host editor)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/${sub}/CMakeLists.txt)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/${sub} ${CMAKE_BINARY_DIR}/tests/${sub})
  endif()
endforeach()
