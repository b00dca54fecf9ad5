// The key and guide addresses of every lab address that a readiness line may announce.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <boost/url/url.hpp>

#include "Host.h"
#include "LabAddress.h"
#include "ReadinessScan.h"

namespace {

// Unpadded base64url, strictly: bits left over must be zero.
std::optional<std::string> fromBase64Url(std::string_view text) {
  constexpr std::string_view alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string bytes;
  unsigned bits = 0;
  int count = 0;
  for (const char digit : text) {
    const auto value = alphabet.find(digit);
    if (value == std::string_view::npos) return std::nullopt;
    bits = (bits << 6 | static_cast<unsigned>(value)) & 0xFFFF;
    count += 6;
    if (count >= 8) bytes += static_cast<char>(bits >> (count -= 8));
  }
  if (text.size() % 4 == 1 || (bits & ((1u << count) - 1)) != 0) return std::nullopt;
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string key = input.ConsumeRandomLengthString(4096);
  const auto lab =
      quav::announcedLabAddress("QUAV Tonvex is ready: " + input.ConsumeRemainingBytesAsString());
  if (!lab) return 0;
  const std::string keyed = quav::keyAddress(*lab, key);
  const std::string guide = quav::guideAddress(*lab);
  const std::string_view announced = lab->buffer();
  // Both stay on the loopback host. The key address is the lab address up to its fragment, then
  // the marker and the key's bytes; the guide address adds the guide page to the lab's path.
  constexpr std::string_view marker = "#quav-key=";
  const auto fragment = keyed.find('#');
  const auto rest = announced.find_first_of("?#");
  const auto guideRest = guide.find_first_of("?#");
  // The guide's path is the lab's with one more segment, as a browser reads paths: without dot
  // segments, which Boost.URL writes in where a path could be mistaken for an authority.
  const std::string_view path = lab->encoded_path();
  const std::string_view authority = announced.substr(0, path.data() - announced.data());
  const auto readPath = [](const std::string& address) {
    boost::urls::url url(address);
    url.normalize_path();
    return std::string(url.encoded_path());
  };
  const std::string guideBase = guide.substr(0, guideRest);
  const bool guidePathRight =
      guideBase.starts_with(authority) &&
      readPath(guideBase) == readPath(std::string(authority) + std::string(path) +
                                      (path.ends_with('/') ? "" : "/") + "CONNECT.html");
  if (hostOf(keyed) != "127.0.0.1" || hostOf(guide) != "127.0.0.1" ||
      fragment == std::string::npos ||
      keyed.substr(0, fragment) != announced.substr(0, announced.find('#')) ||
      keyed.compare(fragment, marker.size(), marker) != 0 ||
      fromBase64Url(std::string_view(keyed).substr(fragment + marker.size())) != key ||
      !guidePathRight ||
      (rest == std::string_view::npos ? guideRest != std::string::npos
                                      : guide.substr(guideRest) != announced.substr(rest)))
    std::abort();
  return 0;
}
