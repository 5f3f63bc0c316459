// The embedded image written out to the staging file, which then serves as the image file of the
// update run.
#pragma once

#include "ops/operation_context.h"

namespace hnx {

// The program's staging folder and file; the doubled slashes are part of the names.
inline constexpr const char* kStagingFolder = "C://Program BinFile";
inline constexpr const char* kStagingFile = "C://Program BinFile//b167h.bin";

inline StagingPaths ProgramStagingPaths() {
  return {kStagingFolder, kStagingFile};
}

// Writes the embedded image to the staging file, makes it the image path and checks that it holds
// an image of the selected chip, whose checksum it shows. False after the message of what failed.
bool StageImage(OperationContext& context);

// RemoveStaging is declared with the operations (ops/operations.h).

}  // namespace hnx
