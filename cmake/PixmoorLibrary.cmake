# pixmoor_library(<name> <sources...>)
# One static library of ours: src/ is its public include root (its headers
# are named "<subsystem>/<file>.h") and it links the project's build options
# (warnings, errors, sanitizers) publicly, so that what is built over it gets
# them too.
function(pixmoor_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC pixmoor_build_options)
  # A sanitizer build (Debug) optimises the libraries a little, as the
  # sanitizers advise: its suite runs in two thirds of the time for about a
  # minute more of compiling.
  if(PIXMOOR_SANITIZE OR PIXMOOR_TSAN)
    target_compile_options(${name} PRIVATE $<$<CONFIG:Debug>:-O1>)
  endif()
endfunction()
