# pixmoor_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# Builds one GoogleTest executable and registers its cases with CTest.
# Tests get the tests/data folder as PIXMOOR_TEST_DATA and run Qt on its
# offscreen platform, so that no display is needed. Programs labelled
# "threads" are the ones `make test-tsan` runs under ThreadSanitizer.
function(pixmoor_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    PIXMOOR_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
  set(labels "")
  if(ARG_LABELS)
    set(labels LABELS ${ARG_LABELS})
  endif()
  # One environment entry only: the discovery script would split a ";" list
  # into separate property arguments and lose everything after it. The data
  # folder reaches the tests as the compile definition above.
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600 ${labels})
endfunction()
