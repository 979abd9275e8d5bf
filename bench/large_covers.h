#pragma once

#include <filesystem>

namespace ordavo::bench {

// Gives every film of the database in `folder` a front and a back cover of 3000 x 4000 pixels
// (two JPEG files in its covers folder), once: a marker file records that it was done.
void attachLargeCovers(const std::filesystem::path& folder);

}  // namespace ordavo::bench
