// Measures sysex_relay on a private JACK server with midi_peer as the listening DAW:
// the one-hop latency from a line written to the relay until the peer prints the message,
// and the throughput of a burst of 2048-byte messages, with the count lost.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "JackServer.h"

namespace {

using namespace std::chrono_literals;
using quav::testing::ChildProcess;
using Clock = std::chrono::steady_clock;

constexpr int kLatencyMessages = 500;
constexpr int kBurstMessages = 1000;
constexpr double kPeriodMs = 256.0 / 48000.0 * 1000.0;

// A signed SysEx message of `bytes` bytes whose body carries `index`, as hex.
std::string message(std::size_t bytes, unsigned index) {
  std::string hex = "f07d5155415601";
  char pair[3];
  for (std::size_t at = 7; at + 1 < bytes; ++at) {
    const unsigned value = at == 7 ? (index >> 7) & 0x7F : at == 8 ? index & 0x7F : at & 0x7F;
    std::snprintf(pair, sizeof pair, "%02x", value);
    hex += pair;
  }
  return hex + "f7";
}

// Waits until the child has printed `count` more lines after `offset`; returns them.
std::vector<std::string> awaitLines(ChildProcess& child, std::size_t& offset, int count,
                                    std::chrono::milliseconds timeout) {
  std::size_t scanned = offset;
  int seen = 0;
  child.waitUntil(
      [&](const std::string& out, const std::string&) {
        for (std::size_t end; seen < count && (end = out.find('\n', scanned)) != std::string::npos;
             scanned = end + 1) {
          ++seen;
        }
        return seen == count;
      },
      timeout);
  std::vector<std::string> lines;
  const std::string out = child.standardOutput();
  for (std::size_t end; (end = out.find('\n', offset)) != std::string::npos && end < scanned;
       offset = end + 1) {
    lines.push_back(out.substr(offset, end - offset));
  }
  return lines;
}

double percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5);
  return values[index];
}

double milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

}  // namespace

int main() {
  quav::testing::JackServer server;
  ChildProcess relay({SYSEX_RELAY_PATH}, server.environment());
  if (!relay.waitForError("Local QUAV Tonvex MIDI endpoints ready.\n")) {
    std::fprintf(stderr, "the relay did not start: %s", relay.standardError().c_str());
    return 1;
  }
  ChildProcess peer({MIDI_PEER_PATH, "QUAV Tonvex"}, server.environment());
  if (!peer.waitForError("midi_peer: connected\n")) {
    std::fprintf(stderr, "the peer did not connect: %s", peer.standardError().c_str());
    return 1;
  }
  std::size_t offset = 0;

  std::vector<double> latencies;
  int latencyLost = 0;
  for (unsigned index = 0; index < kLatencyMessages; ++index) {
    const std::string line = message(16, index);
    const auto start = Clock::now();
    relay.write(line + "\n");
    const auto lines = awaitLines(peer, offset, 1, 5s);
    const auto end = Clock::now();
    if (lines.size() != 1 || lines[0] != line) {
      ++latencyLost;
      continue;
    }
    latencies.push_back(milliseconds(end - start));
  }

  std::string burst;
  std::vector<std::string> sent;
  for (unsigned index = 0; index < kBurstMessages; ++index) {
    sent.push_back(message(2048, index));
    burst += sent.back() + "\n";
  }
  const auto start = Clock::now();
  std::thread writer([&] { relay.write(burst); });
  const auto received = awaitLines(peer, offset, kBurstMessages, 60s);
  const auto end = Clock::now();
  writer.join();
  int burstLost = 0;
  for (std::size_t index = 0; index < sent.size(); ++index) {
    if (index >= received.size() || received[index] != sent[index]) ++burstLost;
  }

  peer.closeInput();
  peer.waitForEnd();
  relay.closeInput();
  relay.waitForEnd();

  const double p95 = latencies.empty() ? 0 : percentile(latencies, 0.95);
  std::printf("JACK: dummy driver, 48000 Hz, 256 frames per period (%.2f ms), synchronous mode\n",
              kPeriodMs);
  std::printf("one hop, relay input line to peer output line, %d messages of 16 bytes:\n",
              kLatencyMessages);
  if (!latencies.empty()) {
    std::printf("  median %.2f ms, p95 %.2f ms, max %.2f ms, lost %d\n", percentile(latencies, 0.5),
                p95, percentile(latencies, 1.0), latencyLost);
  }
  const double seconds = milliseconds(end - start) / 1000;
  std::printf("burst of %d signed messages of 2048 bytes:\n", kBurstMessages);
  std::printf("  %.3f s, %.0f messages/s, %.2f MB/s of MIDI, lost %d\n", seconds,
              kBurstMessages / seconds, kBurstMessages * 2048 / seconds / 1e6, burstLost);
  const bool met = !latencies.empty() && p95 <= kPeriodMs + 1 && latencyLost + burstLost == 0;
  std::printf("target (nothing lost, p95 within one period plus 1 ms = %.2f ms): %s\n",
              kPeriodMs + 1, met ? "met" : "missed");
  return met ? 0 : 1;
}
