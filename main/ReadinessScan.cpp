#include "ReadinessScan.h"

#include <boost/url/parse.hpp>

namespace quav {

namespace {

constexpr std::string_view kReadinessPrefix = "QUAV Tonvex is ready: ";
constexpr std::string_view kLoopbackHost = "127.0.0.1";
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

struct SequenceShape {
  std::size_t length = 0;  // 0: the byte cannot start a sequence
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
};

// The well-formed UTF-8 byte sequences: the lead byte fixes the length, and for some leads the
// second byte's range is narrowed to exclude overlong forms, surrogates and values past
// U+10FFFF.
SequenceShape shapeOf(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {2};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {};
}

// How many bytes from `start` form the longest prefix of a well-formed sequence (at least 1).
std::size_t wellFormedPrefixLength(std::string_view bytes, std::size_t start,
                                   const SequenceShape& shape) {
  std::size_t length = 1;
  while (length < shape.length && start + length < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[start + length]);
    const unsigned char low = length == 1 ? shape.secondLow : 0x80;
    const unsigned char high = length == 1 ? shape.secondHigh : 0xBF;
    if (byte < low || byte > high) break;
    ++length;
  }
  return length;
}

// Boost.URL 1.81 reads "http://127.0.0.1.example/" as host 127.0.0.1 with the path ".example/"
// (and a port followed by junk likewise), although a path after an authority must be empty or
// begin with "/". A browser would take such an address to another host.
bool hasLoopbackHost(const boost::urls::url_view& address) {
  const auto path = address.encoded_path();
  return address.has_authority() && address.host_type() == boost::urls::host_type::ipv4 &&
         address.encoded_host() == kLoopbackHost && (path.empty() || path.starts_with('/'));
}

}  // namespace

bool appendWithinCap(std::string& output, std::string_view chunk) {
  if (output.size() >= kOutputCap) return false;
  output.append(chunk);
  return true;
}

std::string decodeUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t position = 0;
  while (position < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[position]);
    if (lead < 0x80) {
      text += static_cast<char>(lead);
      ++position;
      continue;
    }
    const SequenceShape shape = shapeOf(lead);
    const std::size_t length = wellFormedPrefixLength(bytes, position, shape);
    if (shape.length != 0 && length == shape.length) {
      text.append(bytes.substr(position, length));
    } else {
      text.append(kReplacementCharacter);
    }
    position += length;
  }
  return text;
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string_view::npos;
       end = text.find('\n', start)) {
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

std::optional<boost::urls::url> announcedLabAddress(std::string_view line) {
  if (!line.starts_with(kReadinessPrefix)) return std::nullopt;
  // An absolute URL, fragment allowed; the rest of the line is taken untrimmed.
  const auto parsed = boost::urls::parse_uri(line.substr(kReadinessPrefix.size()));
  if (!parsed || !hasLoopbackHost(*parsed)) return std::nullopt;
  return boost::urls::url(*parsed);
}

}  // namespace quav
