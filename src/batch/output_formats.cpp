#include "batch/output_formats.h"

namespace pixmoor::batch {

const OutputFormatRow* outputFormatRow(settings::OutputFormat format) {
  for (const OutputFormatRow& row : kOutputFormats) {
    if (row.format == format) return &row;
  }
  return nullptr;
}

const OutputFormatRow* outputFormatRowOfEncoder(std::uint32_t encoder) {
  for (const OutputFormatRow& row : kOutputFormats) {
    if (row.encoder == encoder) return &row;
  }
  return nullptr;
}

}  // namespace pixmoor::batch
