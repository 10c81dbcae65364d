// One picture format as the whole program knows it: how its content starts,
// the file names taken for it, its reader (which also reads its header for
// a plan), its writer and its fuzz family. The format registry
// (codecs/format_registry.h) holds one such description per format; the loader,
// the header reading, the intake's extension lists and the fuzzers all walk
// it, so that a format is added with one entry.
//
// Descriptions are constant data; readers are plain functions that own
// nothing between calls and may run on any thread, each call on an input of
// its own. Failures are values (a Reading without picture says why).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "image/decoded_picture.h"
#include "image/memory_budget.h"
#include "image/picture_input.h"

namespace pixmoor::image {

// Whose formats: the window's (its six file extensions and four readers
// stay as they are) or the command-line companion's (those and more).
enum class FormatSet { window, companion };

// How far a reader goes: its header alone (what a plan reads, no pixel
// decoded, nothing big allocated), or the whole picture.
enum class ReadUpTo { header, picture };

// What the header says, once the reader has taken it.
struct HeaderFacts {
  PictureSize size;  // upright, as the picture loads (before any reduction)
  bool isIcon = false;
  // What the load hands back: reduced while it is decoded (to the size the
  // request's ReduceTo gave), else the whole picture at this depth (24 or 32).
  bool reduced = false;
  int rasterDepth = 24;
  // The source's EXIF block (a TIFF structure, metadata/exif_editor.h), empty when
  // it has none or its reader keeps none.
  std::vector<std::uint8_t> exif{};
};

// What a reader answers. A header is set once the reader took it, checks
// and memory budget included, which is where a header reading ends; a
// picture once it was read. A read that fails after its header keeps the
// header: that failure came from the data.
struct Reading {
  std::optional<HeaderFacts> header;
  std::optional<DecodedPicture> picture;
  DecodeFailure failure = DecodeFailure::unrecognised;  // why the step asked for did not complete
};

// The first bytes of some data (kHeadBytes, fewer when the data is shorter).
using MagicTest = bool (*)(std::span<const std::uint8_t> head);

// Reads `input` up to `upTo` under `limits`; with `reduce`, a picture that
// can be reduced while it is decoded is (see ReduceTo), and its budget
// counts the rows held rather than the picture.
using FormatReader = Reading (*)(PictureInput& input, const DecodeLimits& limits, const ReduceTo* reduce,
                                 ReadUpTo upTo);

// Where the batch decodes a format: here, or in a helper process that a
// hostile file cannot harm (formats whose libraries can neither be bounded
// nor stopped).
enum class DecodePlace { inProcess, helperProcess };

struct FormatDescriptor {
  std::string_view name = {};  // for people: "JPEG"
  // Lower-case file extensions, dot included: those both programs take, and
  // those only the companion takes.
  std::span<const std::string_view> extensions = {};
  std::span<const std::string_view> companionExtensions = {};
  MagicTest recognises = nullptr;  // null: never recognised by content (no reader)
  FormatReader read = nullptr;     // null: no reader; files of its names fail as unknown format
  bool companionOnly = false;      // read by the companion alone: never by the window
  DecodePlace decodedIn = DecodePlace::inProcess;
  // A library decoder, read only once start-up registered it (the window's
  // registerJpegDecoder and registerPngDecoder); the engine's own readers
  // are always there.
  bool registeredAtStartUp = false;
  std::uint32_t writer = 0;          // its encoder (encoders/encode.h), 0 when nothing writes it
  std::string_view fuzzFamily = {};  // the fuzzers' family, seeded from tests/data/<family>; empty: none
};

}  // namespace pixmoor::image
