#include "isolated_readers/heif_grid.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <span>
#include <vector>

namespace pixmoor::foreign {
namespace {

// More than any real file's item boxes; a larger meta box is left to libheif.
constexpr std::uint64_t kMostMetaBytes = std::uint64_t{1} << 20;

using FourCc = std::array<char, 4>;

// Big-endian reads within a span; a read past its end fails for good.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool ok() const { return ok_; }
  std::size_t position() const { return at_; }
  std::size_t remaining() const { return bytes_.size() - at_; }
  std::uint64_t number(int width) {
    if (!ok_ || remaining() < static_cast<std::size_t>(width)) {
      ok_ = false;
      return 0;
    }
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i) value = value << 8 | bytes_[at_++];
    return value;
  }
  FourCc fourCc() {
    FourCc code{};
    for (char& c : code) c = static_cast<char>(number(1));
    return code;
  }
  // The next `length` bytes as a reader of their own.
  Reader part(std::uint64_t length) {
    if (!ok_ || length > remaining()) {
      ok_ = false;
      return Reader({});
    }
    Reader inner(bytes_.subspan(at_, static_cast<std::size_t>(length)));
    at_ += static_cast<std::size_t>(length);
    return inner;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

bool is(const FourCc& code, const char* name) {
  return std::memcmp(code.data(), name, 4) == 0;
}

// Each child box of `reader`: `visit(type, body)`. False when a box breaks.
template <typename Visit>
bool forEachBox(Reader& reader, const Visit& visit) {
  while (reader.ok() && reader.remaining() > 0) {
    const std::uint64_t size = reader.number(4);
    const FourCc type = reader.fourCc();
    std::uint64_t header = 8;
    std::uint64_t whole = size;
    if (size == 1) {
      whole = reader.number(8);
      header = 16;
    } else if (size == 0) {
      whole = header + reader.remaining();
    }
    if (!reader.ok() || whole < header) return false;
    Reader body = reader.part(whole - header);
    if (!reader.ok()) return false;
    visit(type, body);
  }
  return reader.ok();
}

struct Items {
  std::uint64_t primary = 0;
  std::vector<std::uint64_t> tiles;                            // the primary's 'dimg' references
  std::vector<std::pair<std::uint64_t, std::uint64_t>> sizes;  // ipco's ispe, by index from 1; 0x0 otherwise
  std::map<std::uint64_t, std::vector<std::uint64_t>> properties;  // item -> property indices
};

void readItemTypes(Reader body, std::map<std::uint64_t, FourCc>& types) {
  const std::uint64_t version = body.number(1);
  body.number(3);
  body.number(version == 0 ? 2 : 4);  // the entry count: the boxes themselves say
  forEachBox(body, [&](const FourCc& type, Reader infe) {
    if (!is(type, "infe")) return;
    const std::uint64_t infeVersion = infe.number(1);
    infe.number(3);
    if (infeVersion < 2) return;
    const std::uint64_t id = infe.number(infeVersion == 2 ? 2 : 4);
    infe.number(2);  // protection index
    const FourCc itemType = infe.fourCc();
    if (infe.ok()) types[id] = itemType;
  });
}

void readReferences(Reader body, Items& items) {
  const std::uint64_t version = body.number(1);
  body.number(3);
  const int idBytes = version == 0 ? 2 : 4;
  forEachBox(body, [&](const FourCc& type, Reader reference) {
    const std::uint64_t from = reference.number(idBytes);
    const std::uint64_t count = reference.number(2);
    if (!is(type, "dimg") || from != items.primary) return;
    for (std::uint64_t i = 0; i < count && reference.ok(); ++i) {
      const std::uint64_t to = reference.number(idBytes);
      if (reference.ok()) items.tiles.push_back(to);
    }
  });
}

void readProperties(Reader body, Items& items) {
  forEachBox(body, [&](const FourCc& type, Reader box) {
    if (is(type, "ipco")) {
      forEachBox(box, [&](const FourCc& property, Reader value) {
        std::pair<std::uint64_t, std::uint64_t> size{0, 0};
        if (is(property, "ispe")) {
          value.number(4);
          size.first = value.number(4);
          size.second = value.number(4);
          if (!value.ok()) size = {0, 0};
        }
        items.sizes.push_back(size);
      });
    } else if (is(type, "ipma")) {
      const std::uint64_t version = box.number(1);
      const std::uint64_t flags = box.number(3);
      const std::uint64_t entries = box.number(4);
      for (std::uint64_t e = 0; e < entries && box.ok(); ++e) {
        const std::uint64_t item = box.number(version < 1 ? 2 : 4);
        const std::uint64_t associations = box.number(1);
        for (std::uint64_t a = 0; a < associations && box.ok(); ++a) {
          const std::uint64_t index = (flags & 1) != 0 ? box.number(2) & 0x7FFF : box.number(1) & 0x7F;
          if (box.ok()) items.properties[item].push_back(index);
        }
      }
    }
  });
}

// The first top-level 'meta' box's body, read whole; empty when none fits.
std::vector<std::uint8_t> metaBody(image::PictureInput& input) {
  std::uint64_t at = 0;
  std::uint8_t header[16];
  while (at + 8 <= input.size() && input.copy(at, std::span(header, 8))) {
    std::uint64_t size = std::uint64_t{header[0]} << 24 | std::uint64_t{header[1]} << 16 |
                         std::uint64_t{header[2]} << 8 | header[3];
    std::uint64_t headerBytes = 8;
    if (size == 1) {
      if (!input.copy(at + 8, std::span(header + 8, 8))) return {};
      size = 0;
      for (int i = 8; i < 16; ++i) size = size << 8 | header[i];
      headerBytes = 16;
    } else if (size == 0) {
      size = input.size() - at;
    }
    if (size < headerBytes || size > input.size() - at) return {};
    if (std::memcmp(header + 4, "meta", 4) == 0) {
      if (size - headerBytes > kMostMetaBytes) return {};
      std::vector<std::uint8_t> body(static_cast<std::size_t>(size - headerBytes));
      if (!input.copy(at + headerBytes, body)) return {};
      return body;
    }
    at += size;
  }
  return {};
}

}  // namespace

std::optional<std::uint64_t> primaryGridTilePixels(image::PictureInput& input) {
  const std::vector<std::uint8_t> meta = metaBody(input);
  if (meta.size() < 4) return std::nullopt;
  Reader reader(meta);
  reader.number(4);  // the meta box's version and flags
  Items items;
  std::map<std::uint64_t, FourCc> types;
  std::optional<Reader> references;
  const bool whole = forEachBox(reader, [&](const FourCc& type, Reader body) {
    if (is(type, "pitm")) {
      const std::uint64_t version = body.number(1);
      body.number(3);
      items.primary = body.number(version == 0 ? 2 : 4);
    } else if (is(type, "iinf")) {
      readItemTypes(body, types);
    } else if (is(type, "iref")) {
      references = body;  // read once the primary item is known
    } else if (is(type, "iprp")) {
      readProperties(body, items);
    }
  });
  if (!whole) return std::nullopt;
  const auto primaryType = types.find(items.primary);
  if (primaryType == types.end() || !is(primaryType->second, "grid") || !references) return std::nullopt;
  readReferences(*references, items);
  std::uint64_t painted = 0;
  for (const std::uint64_t tile : items.tiles) {
    std::uint64_t area = 0;
    for (const std::uint64_t index : items.properties[tile]) {
      if (index >= 1 && index <= items.sizes.size()) {
        const auto& [width, height] = items.sizes[index - 1];
        if (width * height > 0) area = width * height;
      }
    }
    if (area == 0) return std::nullopt;  // a tile of no known size: libheif judges it
    painted = std::min(painted + area, std::uint64_t{1} << 62);
  }
  return painted;
}

}  // namespace pixmoor::foreign
