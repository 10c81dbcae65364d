// The files a drop names: the local paths of its text/uri-list.
//
// Linux file names are bytes, not text: a name from an old camera card or
// archive may hold Latin-1 bytes that are no UTF-8. The list is therefore
// read as bytes and each path percent-decoded to its exact bytes, never
// through a text type that would turn such a byte into U+FFFD and name no
// file. Plain C++ on bytes; any thread; no failure beyond leaving a line out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pixmoor::platform {

// The paths of the list's file: URLs, in the list's order. Lines end at CR
// or LF; empty lines and "#" comments are skipped. A file URL counts when its
// host is empty, "localhost" or this machine's name; its path ends at a "?"
// or "#", and each "%" with two hex digits becomes that byte (another "%"
// stays as it is). Left out: other schemes, other hosts, paths that are not
// absolute, and paths holding a NUL byte.
std::vector<std::string> localPathsOfUriList(std::string_view uriList);

}  // namespace pixmoor::platform
