// The server's output as the launcher takes it in: chunk by chunk where the input splits it,
// under the cap, decoded, split into lines, until a readiness line is accepted.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <optional>

#include "Host.h"
#include "ReadinessScan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string output;
  std::optional<boost::urls::url> accepted;
  while (input.remaining_bytes() > 0 && !accepted) {
    if (!quav::appendWithinCap(output, input.ConsumeRandomLengthString())) break;
    const std::string text = quav::decodeUtf8(output);
    if (quav::decodeUtf8(text) != text) std::abort();  // well-formed: nothing left to replace
    for (const std::string_view piece : quav::splitLines(text)) {
      if ((accepted = quav::announcedLabAddress(piece))) break;
    }
  }
  if (accepted && hostOf(accepted->buffer()) != "127.0.0.1") std::abort();
  return 0;
}
