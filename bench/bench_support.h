// What the benchmarks share: the path the counter table is bound on, and
// the scratch folder of the run.
#pragma once

#include <filesystem>

namespace bench {

// Binds the counter table on the direct path, to the counter-library double.
void UseDirectPath();
// Binds it through the counter-server double and the COM stand-in.
void UseServerPath();
// A folder for this run's files, removed at the end.
const std::filesystem::path& Scratch();

}  // namespace bench
