# pixmoor_add_test(<name> SOURCES <files...> LIBS <targets...>)
# Builds one GoogleTest executable and registers its cases with CTest.
# Tests run with the tests/data folder as PIXMOOR_TEST_DATA and Qt on its
# offscreen platform, so that no display is needed.
function(pixmoor_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    PIXMOOR_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PIXMOOR_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data"
               TIMEOUT 600)
endfunction()
