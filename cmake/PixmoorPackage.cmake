# The Debian package (`make package`, CPack's DEB generator): the programs,
# the decode helper and the launcher under libexec/pixmoor, the menu entry,
# icons, AppStream file, manual pages, bash completion, the file managers'
# actions, and the copyright and changelog files. Its libraries come from the
# programs (dpkg-shlibdeps); the rest of its Depends and its description
# from debian/control, which also lists what building it takes. The tests,
# benchmarks and fuzzers install nothing, so nothing of theirs is packaged.

set(debian_dir ${PROJECT_SOURCE_DIR}/debian)

# Field `name` of debian/control's binary package, continuation lines kept
# with their newlines, comments dropped.
function(pixmoor_control_field name out)
  file(STRINGS ${debian_dir}/control lines)
  set(value "")
  set(in_package OFF)
  set(in_field OFF)
  foreach(line IN LISTS lines)
    if(line MATCHES "^#")
      continue()
    elseif(line MATCHES "^Package:")
      set(in_package ON)
    elseif(line MATCHES "^([A-Za-z-]+):(.*)$")
      set(in_field OFF)
      if(in_package AND CMAKE_MATCH_1 STREQUAL name)
        set(in_field ON)
        string(STRIP "${CMAKE_MATCH_2}" value)
      endif()
    elseif(in_field)
      string(APPEND value "\n${line}")
    endif()
  endforeach()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# The version is said three times: project(), the changelog's top entry and
# the AppStream file's newest release. They must agree.
file(STRINGS ${debian_dir}/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^pixmoor \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "debian/changelog's first entry is not version ${PROJECT_VERSION}: ${changelog_top}")
endif()
file(READ ${PROJECT_SOURCE_DIR}/resources/example.pixmoor.pixmoor.metainfo.xml metainfo)
string(REGEX MATCH "<release version=\"[^\"]*\"" newest_release "${metainfo}")
if(NOT newest_release STREQUAL "<release version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "the AppStream file's newest release is not ${PROJECT_VERSION}: ${newest_release}")
endif()

# Compressed as Debian wants them: gzip -9n, no name or time inside.
find_program(PIXMOOR_GZIP gzip REQUIRED)
set(doc_gz ${PROJECT_BINARY_DIR}/debian-doc)
add_custom_command(OUTPUT ${doc_gz}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${doc_gz}
  COMMAND ${PIXMOOR_GZIP} -9nc ${debian_dir}/changelog > ${doc_gz}/changelog.gz
  DEPENDS ${debian_dir}/changelog VERBATIM)
add_custom_target(pixmoor_changelog ALL DEPENDS ${doc_gz}/changelog.gz)
install(FILES ${debian_dir}/copyright ${doc_gz}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

pixmoor_control_field(Depends control_depends)
string(REGEX REPLACE "\\$\\{shlibs:Depends\\},?[ \n]*" "" control_depends "${control_depends}")
string(REGEX REPLACE "[ \n]+" " " control_depends "${control_depends}")
pixmoor_control_field(Description description)
# The first line is the summary; the rest, each line indented by one space.
string(FIND "${description}" "\n" first_break)
string(SUBSTRING "${description}" 0 ${first_break} summary)
math(EXPR long_start "${first_break} + 2")
string(SUBSTRING "${description}" ${long_start} -1 long_description)
string(REPLACE "\n " "\n" long_description "${long_description}")
string(REPLACE "\"" "\\\"" long_description "${long_description}")  # CPack writes it between quotes

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pixmoor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${summary}")
set(CPACK_PACKAGE_DESCRIPTION "${long_description}")
set(CPACK_PACKAGE_CONTACT "Pixmoor developers <developers@pixmoor.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.pixmoor.example")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${control_depends}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
