#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace glidemate {

// Replaces `file` with `contents` so that a crash leaves either the old file
// or the new one, never a torn one: the bytes go to a temporary file in the
// same folder, which is flushed, given `mode` and renamed over `file`; the
// folder is flushed too so that the rename reaches the disk. The folder
// must exist. Returns 0, or the errno of the step that failed (the
// temporary file is then removed and `file` is left as it was).
int replaceFileAtomically(const std::filesystem::path& file, std::string_view contents, mode_t mode);

}  // namespace glidemate
