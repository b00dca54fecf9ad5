// Finding the lab address in what the Lab server writes to its standard output.
//
// The server announces the lab page with one line, "QUAV Tonvex is ready: " followed by an
// absolute URL on host 127.0.0.1. The launcher keeps the server's output, decodes all of it
// on every chunk, and looks at each LF-separated piece in turn.
#pragma once

#include <boost/url/url.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quav {

// The readiness line must lie within the first 16 KiB of output, or in the chunk that
// crosses that mark.
inline constexpr std::size_t kOutputCap = 16384;

// Appends the whole chunk unless the output already holds kOutputCap bytes or more; tells
// whether it did.
bool appendWithinCap(std::string& output, std::string_view chunk);

// Decodes UTF-8 and never fails: each maximal ill-formed subsequence becomes one U+FFFD, as
// Unicode recommends (overlong forms, surrogates and values past U+10FFFF are ill-formed).
// The result is well-formed UTF-8.
std::string decodeUtf8(std::string_view bytes);

// Splits at every LF; nothing else separates lines and nothing is trimmed. The text after the
// last LF, possibly empty, is one more piece.
std::vector<std::string_view> splitLines(std::string_view text);

// The address a readiness line announces, when the line is one and the address is an
// absolute URL whose host is exactly the IPv4 loopback address "127.0.0.1".
std::optional<boost::urls::url> announcedLabAddress(std::string_view line);

}  // namespace quav
