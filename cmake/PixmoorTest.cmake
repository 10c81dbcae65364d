# pixmoor_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# Builds one GoogleTest executable and registers its cases with CTest.
# Tests get the tests/data folder as PIXMOOR_TEST_DATA and run Qt on its
# offscreen platform, so that no display is needed. Programs labelled
# "threads" are the ones `make test-tsan` runs under ThreadSanitizer and CI
# runs again and again to catch a flake.
function(pixmoor_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} pixmoor_build_options GTest::gtest GTest::gmock
                        GTest::gtest_main)
  # Line tables only: a failure's backtrace keeps its files and lines, and
  # the test programs, most of the build, compile a third faster than with
  # full debugging information. Where the build optimises, the test programs
  # themselves are compiled for debugging (-Og: about half the time of -O2,
  # and the glibc checks the hardened flags turn on still apply); the code
  # they test is the libraries', compiled as the programs are.
  target_compile_options(${name} PRIVATE -g1 $<$<NOT:$<CONFIG:Debug>>:-Og>)
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

# pixmoor_add_folder_tests(LIBS <targets...> [THREADS <tests...>])
# The one rule of every tests/<folder>: each *_test.cpp in it becomes one
# test program named after its file, linked with LIBS. A folder that tests Qt
# code is added only with the Qt program (tests/CMakeLists.txt).
#   THREADS     the programs that start threads or child processes (batches,
#               programs, servers, children that drop to another user):
#               labelled "threads".
# A name in THREADS without its file stops the configuration.
function(pixmoor_add_folder_tests)
  cmake_parse_arguments(ARG "" "" "LIBS;THREADS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  set(names "")
  foreach(source ${sources})
    get_filename_component(name ${source} NAME_WE)
    list(APPEND names ${name})
  endforeach()
  foreach(listed ${ARG_THREADS})
    if(NOT listed IN_LIST names)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}: no ${listed}.cpp for a test named in its rule")
    endif()
  endforeach()
  foreach(name ${names})
    set(labels "")
    if(name IN_LIST ARG_THREADS)
      set(labels LABELS threads)
    else()
      set_property(GLOBAL APPEND PROPERTY PIXMOOR_UNTHREADED_TESTS ${name})
    endif()
    pixmoor_add_test(${name} SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp LIBS ${ARG_LIBS} ${labels})
  endforeach()
endfunction()

# The targets of `all` under a folder, its subfolders' included.
function(pixmoor_targets_of_all folder out)
  get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subfolders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
  set(found "")
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    get_target_property(excluded ${target} EXCLUDE_FROM_ALL)
    if(type MATCHES "^(EXECUTABLE|UTILITY)$" AND NOT excluded)
      list(APPEND found ${target})
    endif()
  endforeach()
  foreach(subfolder ${subfolders})
    pixmoor_targets_of_all(${subfolder} more)
    list(APPEND found ${more})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# threads-tests: what the "threads"-labelled tests need, that is everything
# `all` builds but the other test programs (the programs, the helper, the
# manual pages a staged install copies). `make test-tsan` builds only this:
# under ThreadSanitizer the rest would be compiled for nothing.
function(pixmoor_add_threads_tests_target)
  pixmoor_targets_of_all(${PROJECT_SOURCE_DIR} targets)
  get_property(unthreaded GLOBAL PROPERTY PIXMOOR_UNTHREADED_TESTS)
  list(REMOVE_ITEM targets ${unthreaded})
  add_custom_target(threads-tests)
  add_dependencies(threads-tests ${targets})
endfunction()
