#include "metadata/exif_editor.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "image/byte_cursor.h"

namespace pixmoor::image {
namespace {

constexpr std::uint16_t kImageWidth = 0x0100;
constexpr std::uint16_t kImageLength = 0x0101;
constexpr std::uint16_t kOrientation = 0x0112;
constexpr std::uint16_t kThumbnailOffset = 0x0201;
constexpr std::uint16_t kThumbnailLength = 0x0202;
constexpr std::uint16_t kExifPointer = 0x8769;
constexpr std::uint16_t kGpsPointer = 0x8825;
constexpr std::uint16_t kSubjectArea = 0x9214;
constexpr std::uint16_t kMakerNote = 0x927C;
constexpr std::uint16_t kPixelXDimension = 0xA002;
constexpr std::uint16_t kPixelYDimension = 0xA003;
constexpr std::uint16_t kInteropPointer = 0xA005;
constexpr std::uint16_t kSubjectLocation = 0xA214;

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
constexpr std::uint16_t kIfd = 13;

constexpr std::size_t kEntryBytes = 12;

// Bytes per value of each TIFF field type; 0 for a type no reader knows,
// whose size could not be checked.
std::uint64_t typeBytes(std::uint16_t type) {
  constexpr std::array<std::uint8_t, 14> kBytes = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < kBytes.size() ? kBytes[type] : 0;
}

struct Range {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  bool overlaps(const Range& other) const { return begin < other.end && other.begin < end; }
};

// 16- and 32-bit values in the block's own byte order. Reads are checked
// by the callers' ranges first; the cursor refuses any that would still
// leave the block.
class Block {
 public:
  Block(std::span<const std::uint8_t> bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

  std::optional<std::uint32_t> u16(std::uint64_t at) const { return read(at, 2); }
  std::optional<std::uint32_t> u32(std::uint64_t at) const { return read(at, 4); }
  std::size_t size() const { return bytes_.size(); }
  bool bigEndian() const { return bigEndian_; }

 private:
  std::optional<std::uint32_t> read(std::uint64_t at, std::size_t width) const {
    if (at > bytes_.size()) return std::nullopt;
    ByteCursor cursor(bytes_, static_cast<std::size_t>(at));
    const auto bytes = cursor.take(width);
    if (!bytes) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t from = bigEndian_ ? i : width - 1 - i;
      value = value << 8 | (*bytes)[from];
    }
    return value;
  }

  std::span<const std::uint8_t> bytes_;
  bool bigEndian_;
};

struct Entry {
  std::uint64_t at = 0;  // where its 12 bytes start
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint32_t value = 0;  // the value field as a number (an offset when the value lies elsewhere)
  Range outOfLine;          // where its value lies when it does not fit the field; empty otherwise
};

struct Directory {
  std::uint64_t at = 0;
  std::vector<Entry> entries;
  std::uint32_t next = 0;
  Range table() const { return {at, at + 2 + kEntryBytes * entries.size() + 4}; }
  const Entry* find(std::uint16_t tag) const {
    for (const Entry& entry : entries) {
      if (entry.tag == tag) return &entry;
    }
    return nullptr;
  }
};

// One directory, every entry's type known and every value inside the block.
std::optional<Directory> readDirectory(const Block& block, std::uint64_t at) {
  const auto count = block.u16(at);
  if (!count || at + 2 + kEntryBytes * *count + 4 > block.size()) return std::nullopt;
  Directory directory;
  directory.at = at;
  directory.entries.reserve(*count);
  for (std::uint32_t i = 0; i < *count; ++i) {
    Entry entry;
    entry.at = at + 2 + kEntryBytes * i;
    entry.tag = static_cast<std::uint16_t>(*block.u16(entry.at));
    entry.type = static_cast<std::uint16_t>(*block.u16(entry.at + 2));
    entry.count = *block.u32(entry.at + 4);
    entry.value = *block.u32(entry.at + 8);
    const std::uint64_t bytes = typeBytes(entry.type) * entry.count;
    if (typeBytes(entry.type) == 0) return std::nullopt;
    if (bytes > 4) {
      entry.outOfLine = {entry.value, std::uint64_t{entry.value} + bytes};
      if (entry.outOfLine.end > block.size()) return std::nullopt;
    }
    directory.entries.push_back(entry);
  }
  directory.next = *block.u32(at + 2 + kEntryBytes * *count);
  return directory;
}

// The directory a pointer entry names, once only: a second visit is a loop.
std::optional<Directory> followPointer(const Block& block, const Entry& pointer,
                                       std::vector<std::uint64_t>& visited) {
  if ((pointer.type != kLong && pointer.type != kIfd) || pointer.count != 1) return std::nullopt;
  if (std::find(visited.begin(), visited.end(), pointer.value) != visited.end()) return std::nullopt;
  visited.push_back(pointer.value);
  return readDirectory(block, pointer.value);
}

// The bytes of a directory: its table and its values, but those of the
// tag `leftOut`, whose entry the edit removes.
void addRanges(const Directory& directory, std::vector<Range>& ranges,
               std::optional<std::uint16_t> leftOut = std::nullopt) {
  ranges.push_back(directory.table());
  for (const Entry& entry : directory.entries) {
    if (entry.tag == leftOut) continue;
    if (entry.outOfLine.end > entry.outOfLine.begin) ranges.push_back(entry.outOfLine);
  }
}

// The GPS pointers among a directory's entries (a broken block may hold more than one).
void addGpsPointers(const Directory& directory, std::vector<const Entry*>& pointers) {
  for (const Entry& entry : directory.entries) {
    if (entry.tag == kGpsPointer) pointers.push_back(&entry);
  }
}

// Whether the thumbnail directory names a GPS directory of its own.
bool thumbnailPointsToGps(const Block& block, std::uint32_t at) {
  if (at == 0) return false;
  const std::optional<Directory> ifd1 = readDirectory(block, at);
  return ifd1 && ifd1->find(kGpsPointer) != nullptr;
}

class Editor {
 public:
  Editor(std::vector<std::uint8_t>& bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

  void put16(std::uint64_t at, std::uint32_t value) { put(at, value, 2); }
  void put32(std::uint64_t at, std::uint32_t value) { put(at, value, 4); }
  void zero(const Range& range) {
    std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(range.begin),
              bytes_.begin() + static_cast<std::ptrdiff_t>(range.end), std::uint8_t{0});
  }

  // Writes the directory back with only the entries `keep` keeps, in their
  // order, its next-directory offset after them and zeros where the
  // dropped entries' bytes were: the table only shrinks, nothing moves
  // elsewhere.
  template <typename Keep>
  void rewrite(const Directory& directory, std::uint32_t next, Keep keep) {
    std::vector<std::uint8_t> kept;
    for (const Entry& entry : directory.entries) {
      if (!keep(entry)) continue;
      const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(entry.at);
      kept.insert(kept.end(), from, from + kEntryBytes);
    }
    const Range table = directory.table();
    zero(table);
    put16(directory.at, static_cast<std::uint32_t>(kept.size() / kEntryBytes));
    std::copy(kept.begin(), kept.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(directory.at + 2));
    put32(directory.at + 2 + kept.size(), next);
  }

 private:
  void put(std::uint64_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
      const int shift = bigEndian_ ? 8 * (width - 1 - i) : 8 * i;
      bytes_[static_cast<std::size_t>(at) + static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(value >> shift);
    }
  }

  std::vector<std::uint8_t>& bytes_;
  bool bigEndian_;
};

// A size tag set to `value` where its field can hold it; false when it must go.
bool setSize(Editor& editor, const Entry& entry, int value) {
  if (entry.count != 1 || value < 1) return false;
  if (entry.type == kShort && value <= 0xFFFF) {
    editor.put16(entry.at + 8, static_cast<std::uint32_t>(value));
    editor.put16(entry.at + 10, 0);
    return true;
  }
  if (entry.type == kLong) {
    editor.put32(entry.at + 8, static_cast<std::uint32_t>(value));
    return true;
  }
  return false;
}

std::optional<Block> blockOf(std::span<const std::uint8_t> tiff) {
  if (tiff.size() < 8 || tiff.size() > kMaxExifBytes) return std::nullopt;
  bool bigEndian = false;
  if (tiff[0] == 'M' && tiff[1] == 'M') {
    bigEndian = true;
  } else if (tiff[0] != 'I' || tiff[1] != 'I') {
    return std::nullopt;
  }
  Block block(tiff, bigEndian);
  if (block.u16(2) != 42u) return std::nullopt;
  return block;
}

// The thumbnail directory's own bytes: its table, its values and the
// thumbnail they point to; nullopt when it cannot be read (it goes anyway).
std::optional<std::vector<Range>> thumbnailRanges(const Block& block, std::uint32_t at,
                                                  const std::vector<std::uint64_t>& visited) {
  if (at == 0 || std::find(visited.begin(), visited.end(), at) != visited.end()) return std::nullopt;
  const std::optional<Directory> ifd1 = readDirectory(block, at);
  if (!ifd1) return std::nullopt;
  std::vector<Range> ranges;
  addRanges(*ifd1, ranges);
  const Entry* offset = ifd1->find(kThumbnailOffset);
  const Entry* length = ifd1->find(kThumbnailLength);
  if (offset != nullptr && length != nullptr && offset->count == 1 && length->count == 1) {
    const Range thumbnail{offset->value, std::uint64_t{offset->value} + length->value};
    if (thumbnail.end > block.size()) return std::nullopt;
    ranges.push_back(thumbnail);
  }
  return ranges;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> normaliseExif(std::span<const std::uint8_t> tiff,
                                                       const ExifEdits& edits) {
  const std::optional<Block> found = blockOf(tiff);
  if (!found) return std::nullopt;
  const Block& block = *found;
  const std::uint32_t ifd0At = *block.u32(4);
  std::vector<std::uint64_t> visited{ifd0At};
  const std::optional<Directory> ifd0 = readDirectory(block, ifd0At);
  if (!ifd0) return std::nullopt;

  std::optional<Directory> exif;
  std::optional<Directory> interop;
  if (const Entry* pointer = ifd0->find(kExifPointer)) {
    exif = followPointer(block, *pointer, visited);
    if (!exif) return std::nullopt;
    if (const Entry* inner = exif->find(kInteropPointer)) {
      interop = followPointer(block, *inner, visited);
      if (!interop) return std::nullopt;
    }
  }

  // GPS pointers are sought in every directory kept, as writers put them
  // anywhere. Removing them is only certain for one directory that ends its
  // chain: a second one, a chained one or one named by the thumbnail
  // directory fails the checks.
  std::vector<const Entry*> gpsPointers;
  addGpsPointers(*ifd0, gpsPointers);
  if (exif) addGpsPointers(*exif, gpsPointers);
  if (interop) addGpsPointers(*interop, gpsPointers);
  if (edits.removeGps && (gpsPointers.size() > 1 || thumbnailPointsToGps(block, ifd0->next)))
    return std::nullopt;
  std::vector<Directory> gpsDirectories;
  for (const Entry* pointer : gpsPointers) {
    const auto same = [pointer](const Directory& d) { return d.at == pointer->value; };
    if (std::any_of(gpsDirectories.begin(), gpsDirectories.end(), same)) continue;
    std::optional<Directory> gps = followPointer(block, *pointer, visited);
    if (!gps || (edits.removeGps && gps->next != 0)) return std::nullopt;
    gpsDirectories.push_back(std::move(*gps));
  }
  // A maker note's own layout is the camera maker's, so a location inside
  // it cannot be found: without GPS, the maker note goes too.
  const std::optional<std::uint16_t> makerNoteLeftOut =
      edits.removeGps ? std::optional<std::uint16_t>(kMakerNote) : std::nullopt;

  // Every byte the output keeps: what removing GPS or the thumbnail zeroes
  // must lie outside all of it.
  std::vector<Range> kept{{0, 8}};
  addRanges(*ifd0, kept);
  if (exif) addRanges(*exif, kept, makerNoteLeftOut);
  if (interop) addRanges(*interop, kept);
  if (!edits.removeGps) {
    for (const Directory& gps : gpsDirectories) addRanges(gps, kept);
  }
  const auto outsideKept = [&kept](const Range& range) {
    return std::none_of(kept.begin(), kept.end(), [&range](const Range& k) { return k.overlaps(range); });
  };
  // The tables of IFD0 and Exif (and Interop, when it names GPS) are
  // rewritten below: each may share no byte with the header, another
  // directory or any value kept.
  const bool rewriteInterop = interop && edits.removeGps && interop->find(kGpsPointer) != nullptr;
  std::vector<Range> tables{ifd0->table()};
  if (exif) tables.push_back(exif->table());
  if (rewriteInterop) tables.push_back(interop->table());
  for (const Range& table : tables) {
    const auto sharing =
        std::count_if(kept.begin(), kept.end(), [&table](const Range& k) { return k.overlaps(table); });
    if (sharing != 1) return std::nullopt;  // itself, and nothing else
  }
  std::vector<Range> removed;
  if (edits.removeGps) {
    for (const Directory& gps : gpsDirectories) addRanges(gps, removed);
    // Coordinates that share bytes with what stays could not be removed.
    if (!std::all_of(removed.begin(), removed.end(), outsideKept)) return std::nullopt;
    if (exif) {
      if (const Entry* note = exif->find(kMakerNote); note && note->outOfLine.end > note->outOfLine.begin) {
        if (!outsideKept(note->outOfLine)) return std::nullopt;
        removed.push_back(note->outOfLine);
      }
    }
  }
  const std::optional<std::vector<Range>> thumbnail = thumbnailRanges(block, ifd0->next, visited);

  std::vector<std::uint8_t> out(tiff.begin(), tiff.end());
  Editor editor(out, block.bigEndian());
  const auto keepInIfd0 = [&](const Entry& entry) {
    switch (entry.tag) {
      case kOrientation:
        if (entry.type != kShort || entry.count != 1) return false;
        editor.put16(entry.at + 8, 1);
        return true;
      case kImageWidth:
        return setSize(editor, entry, edits.width);
      case kImageLength:
        return setSize(editor, entry, edits.height);
      case kGpsPointer:
        return !edits.removeGps;
      case kSubjectArea:
      case kSubjectLocation:
        return false;
      default:
        return true;
    }
  };
  const auto keepInExif = [&](const Entry& entry) {
    switch (entry.tag) {
      case kPixelXDimension:
        return setSize(editor, entry, edits.width);
      case kPixelYDimension:
        return setSize(editor, entry, edits.height);
      case kGpsPointer:
      case kMakerNote:
        return !edits.removeGps;
      case kSubjectArea:
      case kSubjectLocation:
        return false;
      default:
        return true;
    }
  };
  editor.rewrite(*ifd0, 0, keepInIfd0);
  if (exif) editor.rewrite(*exif, exif->next, keepInExif);
  if (rewriteInterop) {
    editor.rewrite(*interop, interop->next, [](const Entry& entry) { return entry.tag != kGpsPointer; });
  }
  for (const Range& range : removed) editor.zero(range);

  if (thumbnail) {
    std::uint64_t keptEnd = 0;
    for (const Range& range : kept) keptEnd = std::max(keptEnd, range.end);
    std::uint64_t thumbnailStart = out.size();
    std::uint64_t thumbnailEnd = 0;
    for (const Range& range : *thumbnail) {
      thumbnailStart = std::min(thumbnailStart, range.begin);
      thumbnailEnd = std::max(thumbnailEnd, range.end);
    }
    // Cut off where it ends the block (as cameras write it); bytes after it
    // may be a maker note's, so then it is only zeroed.
    if (thumbnailStart >= keptEnd && thumbnailEnd == out.size()) {
      out.resize(static_cast<std::size_t>(std::max(thumbnailStart, std::uint64_t{8})));
    } else {
      for (const Range& range : *thumbnail) {
        if (outsideKept(range)) editor.zero(range);
      }
    }
  }
  return out;
}

bool exifHasGps(std::span<const std::uint8_t> tiff) {
  const std::optional<Block> block = blockOf(tiff);
  if (!block) return false;
  const std::optional<Directory> ifd0 = readDirectory(*block, *block->u32(4));
  if (!ifd0) return false;
  if (ifd0->find(kGpsPointer) != nullptr || thumbnailPointsToGps(*block, ifd0->next)) return true;
  const Entry* exifPointer = ifd0->find(kExifPointer);
  if (exifPointer == nullptr) return false;
  const std::optional<Directory> exif = readDirectory(*block, exifPointer->value);
  if (!exif) return false;
  if (exif->find(kGpsPointer) != nullptr) return true;
  const Entry* interopPointer = exif->find(kInteropPointer);
  if (interopPointer == nullptr) return false;
  const std::optional<Directory> interop = readDirectory(*block, interopPointer->value);
  return interop && interop->find(kGpsPointer) != nullptr;
}

std::span<const std::uint8_t> exifTiffIn(std::span<const std::uint8_t> payload) {
  const auto startsTiff = [](std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 8 && ((bytes[0] == 'I' && bytes[1] == 'I' && bytes[2] == 42 && bytes[3] == 0) ||
                                 (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && bytes[3] == 42));
  };
  if (payload.size() >= 6 && std::memcmp(payload.data(), "Exif\0\0", 6) == 0) payload = payload.subspan(6);
  if (startsTiff(payload)) return payload;
  if (payload.size() >= 4) {
    // A HEIF Exif item: a big-endian offset to the TIFF header first.
    const std::uint64_t offset = std::uint64_t{payload[0]} << 24 | std::uint64_t{payload[1]} << 16 |
                                 std::uint64_t{payload[2]} << 8 | payload[3];
    if (offset <= payload.size() - 4 && startsTiff(payload.subspan(4 + offset)))
      return payload.subspan(4 + offset);
  }
  return {};
}

}  // namespace pixmoor::image
