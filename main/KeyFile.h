// Key files: small strict-JSON documents with the extension "quavkey" that the lab exports,
// naming a musical key, which the launcher checks and hands back to the lab page unchanged.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quav {

// A key file is never read when the file system gives it more bytes than this.
inline constexpr std::uintmax_t kKeyFileSizeLimit = 4096;

// The local path a document URL names: a "file" URL with no host or "localhost" and an
// absolute path, percent-escapes decoded. Anything else names no local file.
std::optional<std::filesystem::path> localFilePath(std::string_view url);

// True when the last path component ends in ".quavkey", in any letter case.
bool hasKeyFileExtension(const std::filesystem::path& path);

// The file's bytes exactly as read, when the file is a regular file of at most
// kKeyFileSizeLimit bytes (by its metadata, asked before the file is opened, and by what it
// yields) and its content passes isKeyFileContent.
std::optional<std::string> readKeyFile(const std::filesystem::path& path);

// Strict JSON (UTF-8, no comments, no trailing commas, no member named twice) whose top-level
// value is an object with exactly the members "format" ("quav-key"), "version" (a number equal
// to 1), "key" (one of the twelve note names) and "scale" ("major" or "minor").
bool isKeyFileContent(std::string_view bytes);

}  // namespace quav
