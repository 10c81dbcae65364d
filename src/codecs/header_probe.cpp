#include "codecs/header_probe.h"

#include "sandbox/decode_client.h"

namespace pixmoor::image {

PictureHeader probePictureFile(const std::string& path, const LoadRequest& request) {
  PictureHeader header;
  PictureFile file(path, request.formats);
  header.status = file.status();
  if (header.status != LoadStatus::loaded) return header;
  PictureInput input(file.descriptor(), file.size(), request.limits.cancel);
  const LoadedPicture read =
      file.format()->decodedIn == DecodePlace::helperProcess
          ? readInHelper(*file.format(), file.descriptor(), file.size(), request, ReadUpTo::header)
          : readPicture(*file.format(), input, request, ReadUpTo::header);
  header.status = read.status;
  if (read.loaded()) {
    header.width = read.picture.source.width;
    header.height = read.picture.source.height;
    header.isIcon = read.picture.isIcon;
    header.reduced = read.header.reduced;
    header.rasterDepth = read.header.rasterDepth;
    header.exif = std::move(read.header.exif);
  }
  return header;
}

}  // namespace pixmoor::image
