# Helpers shared by every subsystem and test folder.

# vantoro_library(<name> DEPS <libs...>)
# One static library from every source file in the calling folder.
function(vantoro_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# vantoro_tests(LABEL <label> LIBS <libs...> [SOURCES <files...>])
# Every test_*.cpp in the calling folder becomes one test executable that
# links the given libraries (never their sources), the shared support
# fixtures, the extra sources given and GoogleTest, and carries the
# subsystem's ctest label.
# Tests run headless (offscreen); those labelled x11 read windows back from a
# real X server and use the xcb platform on the display they are given.
function(vantoro_tests)
  cmake_parse_arguments(ARG "" "LABEL" "LIBS;SOURCES" ${ARGN})
  set(platform offscreen)
  if(ARG_LABEL STREQUAL "x11")
    set(platform xcb)
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(src ${tests})
    get_filename_component(base ${src} NAME_WE)
    set(target ${ARG_LABEL}_${base})
    add_executable(${target} ${src} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} vantoro_test_support
                          GTest::gtest Qt6::Test)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 300
      ENVIRONMENT "QT_QPA_PLATFORM=${platform};ASAN_OPTIONS=detect_leaks=0")
  endforeach()
endfunction()

# vantoro_test_shards(<test> <count>)
# Runs a test program of the calling folder as <count> ctest tests that can
# run side by side, each with its share of the program's tests (GoogleTest's
# sharding): the first keeps the program's name, the others add _2, _3, ...
function(vantoro_test_shards test count)
  get_test_property(${test} LABELS labels)
  get_test_property(${test} ENVIRONMENT environment)
  get_test_property(${test} TIMEOUT timeout)
  math(EXPR last "${count} - 1")
  foreach(index RANGE ${last})
    set(name ${test})
    if(index GREATER 0)
      math(EXPR number "${index} + 1")
      set(name ${test}_${number})
      add_test(NAME ${name} COMMAND ${test})
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${timeout}
      ENVIRONMENT "${environment};GTEST_TOTAL_SHARDS=${count};GTEST_SHARD_INDEX=${index}")
  endforeach()
endfunction()
