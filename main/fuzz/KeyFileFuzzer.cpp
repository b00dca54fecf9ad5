// Key files through a real file, checked the way the launcher checks a file it is handed.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "KeyFile.h"
#include "ReadinessScan.h"

namespace {

// One file for the whole run, kept open and rewritten in place for every input: closing a file
// just truncated would make the file system write it out each time.
std::string keyFile;
int keyFileDescriptor = -1;

void removeKeyFile() {
  std::filesystem::remove(keyFile);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string name = (std::filesystem::temp_directory_path() / "key-fuzz-XXXXXX.quavkey").string();
  keyFileDescriptor = mkstemps(name.data(), 8);
  if (keyFileDescriptor < 0) std::abort();
  keyFile = name;
  std::atexit(removeKeyFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (pwrite(keyFileDescriptor, data, size, 0) != static_cast<ssize_t>(size) ||
      ftruncate(keyFileDescriptor, static_cast<off_t>(size)) != 0)
    std::abort();
  const auto path = quav::localFilePath("file://" + keyFile);
  if (!path || !quav::hasKeyFileExtension(*path)) std::abort();
  // An accepted key is the file's bytes exactly: a small UTF-8 text without NUL.
  const auto key = quav::readKeyFile(*path);
  if (key && (*key != bytes || size > quav::kKeyFileSizeLimit || quav::decodeUtf8(bytes) != bytes ||
              bytes.find('\0') != std::string::npos))
    std::abort();
  return 0;
}
