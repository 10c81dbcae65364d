# Turns the program's resource files into one C++ source of byte arrays.
#   cmake -DRESOURCE_DIR=<resources> -DOUTPUT=<file.cpp> -P embed_resources.cmake
set(entries
  "logoPng|logo.png"
  "chimeWave|chime.wav"
  "informationIcon|icons/information.ico"
  "donateIcon|icons/donate.ico"
  "updateIcon|icons/update.ico"
  "visitIcon|icons/visit.ico"
  "frenchIcon|icons/french.ico"
  "englishIcon|icons/english.ico"
  "dutchIcon|icons/dutch.ico"
  "spanishIcon|icons/spanish.ico"
  "desktopIcon|icons/desktop.ico")
set(body "// Generated from the files under resources/ by embed_resources.cmake.\n")
string(APPEND body "#include \"app/embedded_resources.h\"\n\nnamespace pixmoor::app::resources {\nnamespace {\n")
set(accessors "")
foreach(entry ${entries})
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 file)
  file(READ "${RESOURCE_DIR}/${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR byte_count "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n" bytes "${bytes}")
  string(APPEND body "const std::uint8_t ${name}Data[${byte_count}] = {\n${bytes}};\n")
  string(APPEND accessors "std::span<const std::uint8_t> ${name}() { return ${name}Data; }\n")
endforeach()
string(APPEND body "}  // namespace\n\n${accessors}\n}  // namespace pixmoor::app::resources\n")
file(WRITE "${OUTPUT}.tmp" "${body}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
