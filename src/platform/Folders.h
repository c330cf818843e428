#pragma once
// Where the program finds its read-only resources and where it may write.

#include <filesystem>
#include <string_view>

namespace corvan {

// Read-only install folder: $CORVAN_HOME, else <executable's folder>/../share/corvan,
// else the source tree's resources/ (so a build tree runs as it is).
std::filesystem::path InstallFolder();

// Per-user folders (created on demand): settings, data (logs, signature file
// edits, saved-scan index) and cache.
std::filesystem::path UserConfigFolder();
std::filesystem::path UserDataFolder();
std::filesystem::path UserCacheFolder();

// A folder of this process under the cache folder for engine work files,
// so two running copies never share them.
std::filesystem::path ProcessWorkFolder();
void RemoveProcessWorkFolder();

// Creates `folder` and its parents; true when it exists afterwards.
bool EnsureFolder(const std::filesystem::path& folder);

// Makes a new folder `stem` + six random characters in `parent` (the
// system's temporary folder when empty), readable by its owner only, so no
// one else can place a file or a link in it. Empty path on failure.
std::filesystem::path MakePrivateFolder(const std::filesystem::path& parent, std::string_view stem);

}  // namespace corvan
