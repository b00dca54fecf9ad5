#include "KeyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <boost/url/parse.hpp>
#include <cctype>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

namespace quav {

namespace {

constexpr std::array<std::string_view, 12> kNoteNames = {
    "C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B",
};
constexpr std::array<std::string_view, 2> kScaleNames = {"major", "minor"};
constexpr std::array<std::string_view, 4> kMemberNames = {"format", "version", "key", "scale"};

bool isLocalHost(std::string_view host) {
  constexpr std::string_view kLocalhost = "localhost";
  return host.empty() || std::ranges::equal(host, kLocalhost, [](unsigned char a, char b) {
           return std::tolower(a) == b;
         });
}

std::string asciiLowercase(std::string text) {
  std::ranges::transform(text, text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The size the file system reports for a regular file (symbolic links followed, so it is the
// size of what would be read). Anything else, a directory, FIFO, device or socket, has no
// size: opening a FIFO or reading a device could keep the import waiting forever.
std::optional<std::uintmax_t> sizeFromMetadata(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::uintmax_t>(info.st_size);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
  ~FileDescriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return descriptor_; }

 private:
  int descriptor_;
};

// The file may hold more than its size said: it may have grown since, or be one of the files
// whose size means nothing (/proc's report none and yield any amount); so reading stops past
// the limit, and the file is rejected, instead of going on without end.
std::optional<std::string> readWithinLimit(const std::filesystem::path& path) {
  // The name may have been swapped for a FIFO or a device since its metadata was read:
  // opening without blocking and checking the opened file again keeps the import from hanging.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat info {};
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  std::string bytes;
  std::array<char, 4096> buffer;
  for (;;) {
    const ssize_t count = ::read(file.get(), buffer.data(), buffer.size());
    if (count == 0) return bytes;
    if (count > 0) {
      bytes.append(buffer.data(), static_cast<std::size_t>(count));
      if (bytes.size() > kKeyFileSizeLimit) return std::nullopt;
    } else if (errno != EINTR) {
      return std::nullopt;
    }
  }
}

// Parses strict JSON. A member named twice is not valid: JSON leaves its meaning open, and a
// key file must mean one thing to the launcher and to the lab page alike.
std::optional<nlohmann::json> parseStrictJson(std::string_view bytes) {
  std::vector<std::set<std::string>> memberNamesOfOpenObjects;
  bool memberNamedTwice = false;
  const auto trackMemberNames = [&](int, nlohmann::json::parse_event_t event,
                                    nlohmann::json& parsed) {
    using Event = nlohmann::json::parse_event_t;
    if (event == Event::object_start) memberNamesOfOpenObjects.emplace_back();
    if (event == Event::object_end) memberNamesOfOpenObjects.pop_back();
    if (event == Event::key &&
        !memberNamesOfOpenObjects.back().insert(parsed.get<std::string>()).second) {
      memberNamedTwice = true;
    }
    return true;
  };
  auto document = nlohmann::json::parse(bytes.begin(), bytes.end(), trackMemberNames,
                                        /*allow_exceptions=*/false, /*ignore_comments=*/false);
  if (document.is_discarded() || memberNamedTwice) return std::nullopt;
  return document;
}

bool hasExactlyTheMembers(const nlohmann::json& document) {
  return document.is_object() && document.size() == kMemberNames.size() &&
         std::ranges::all_of(kMemberNames,
                             [&](std::string_view name) { return document.contains(name); });
}

template <std::size_t N>
bool isStringAmong(const nlohmann::json& value, const std::array<std::string_view, N>& names) {
  return value.is_string() &&
         std::ranges::find(names, value.get_ref<const std::string&>()) != names.end();
}

bool isVersionOne(const nlohmann::json& value) {
  // JSON booleans are not numbers here, so true never counts as 1; 1, 1.0 and 1e0 all do.
  return value.is_number() && value == 1;
}

}  // namespace

std::optional<std::filesystem::path> localFilePath(std::string_view url) {
  const auto parsed = boost::urls::parse_uri(url);
  if (!parsed || parsed->scheme_id() != boost::urls::scheme::file) return std::nullopt;
  if (parsed->has_authority() && !isLocalHost(parsed->encoded_host())) return std::nullopt;
  std::string path = parsed->path();
  // A NUL would cut the name short when handed to the system, naming another file.
  if (!path.starts_with('/') || path.find('\0') != std::string::npos) return std::nullopt;
  return std::filesystem::path(std::move(path));
}

bool hasKeyFileExtension(const std::filesystem::path& path) {
  std::string name = path.string();
  // A directory's URL may end in a slash; its extension is that of its last component.
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  return asciiLowercase(std::filesystem::path(name).extension().string()) == ".quavkey";
}

std::optional<std::string> readKeyFile(const std::filesystem::path& path) {
  const auto size = sizeFromMetadata(path);
  if (!size || *size > kKeyFileSizeLimit) return std::nullopt;
  auto bytes = readWithinLimit(path);
  if (!bytes || !isKeyFileContent(*bytes)) return std::nullopt;
  return bytes;
}

bool isKeyFileContent(std::string_view bytes) {
  // The JSON parser takes a NUL byte for the end of its input, which would let anything after
  // it through; no JSON text holds a raw NUL.
  if (bytes.find('\0') != std::string_view::npos) return false;
  const auto document = parseStrictJson(bytes);
  return document && hasExactlyTheMembers(*document) && document->at("format") == "quav-key" &&
         isVersionOne(document->at("version")) && isStringAmong(document->at("key"), kNoteNames) &&
         isStringAmong(document->at("scale"), kScaleNames);
}

}  // namespace quav
