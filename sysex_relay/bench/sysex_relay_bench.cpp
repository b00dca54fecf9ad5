// Measures sysex_relay on a private JACK server with midi_peer as the listening DAW:
// the one-hop latency from a line written to the relay until the peer prints the message,
// and the throughput of a burst of 2048-byte messages, with the count lost. It also counts the
// server's xruns: a client that is late by more than the server waits for in synchronous mode
// (ten client timeouts) can lose or repeat a period's MIDI.
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
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

// Waits until the child has printed `count` more lines after `offset`, or nothing more for
// `quiet`; returns the lines.
std::vector<std::string> awaitLines(ChildProcess& child, std::size_t& offset, int count,
                                    std::chrono::milliseconds quiet) {
  std::size_t scanned = offset;
  int seen = 0;
  int before = -1;
  while (seen < count && seen != before) {
    before = seen;
    child.waitUntil(
        [&](const std::string& out, const std::string&) {
          for (std::size_t end;
               seen < count && (end = out.find('\n', scanned)) != std::string::npos;
               scanned = end + 1) {
            ++seen;
          }
          return seen == count || seen != before;
        },
        quiet);
  }
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

// Compares what arrived with what was sent, each sent line being unique.
struct Tally {
  int lost = 0;
  int repeated = 0;
  int unexpected = 0;
  int outOfOrder = 0;
};

Tally tally(const std::vector<std::string>& sent, const std::vector<std::string>& received) {
  std::unordered_map<std::string, std::size_t> indexOf;
  for (std::size_t index = 0; index < sent.size(); ++index) indexOf[sent[index]] = index;
  std::vector<int> copies(sent.size(), 0);
  Tally result;
  std::size_t last = 0;
  for (const auto& line : received) {
    const auto found = indexOf.find(line);
    if (found == indexOf.end()) {
      ++result.unexpected;
      continue;
    }
    if (copies[found->second]++ > 0) ++result.repeated;
    if (found->second < last) ++result.outOfOrder;
    last = found->second;
  }
  result.lost = static_cast<int>(std::count(copies.begin(), copies.end(), 0));
  return result;
}

void print(const Tally& result) {
  std::printf("lost %d, repeated %d, unexpected %d, out of order %d", result.lost, result.repeated,
              result.unexpected, result.outOfOrder);
}

bool clean(const Tally& result) {
  return result.lost + result.repeated + result.unexpected + result.outOfOrder == 0;
}

// A client of its own that counts the server's xruns.
class XrunCounter {
 public:
  XrunCounter() : client_(jack_client_open("xrun counter", JackNoStartServer, nullptr)) {
    if (client_ == nullptr) return;
    jack_set_xrun_callback(
        client_,
        [](void* count) {
          ++*static_cast<std::atomic<int>*>(count);
          return 0;
        },
        &count_);
    jack_activate(client_);
  }
  ~XrunCounter() {
    if (client_ != nullptr) jack_client_close(client_);
  }
  int count() const { return count_; }

 private:
  jack_client_t* client_;
  std::atomic<int> count_{0};
};

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
  setenv("JACK_DEFAULT_SERVER", server.name().c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
  jack_set_error_function([](const char*) {});
  jack_set_info_function([](const char*) {});
  XrunCounter xruns;

  // Each message waits a random part of a period first; sent right after the previous one
  // arrived, every message would meet the period at the same phase.
  std::mt19937 random(1);
  std::uniform_int_distribution<int> phase(0, static_cast<int>(kPeriodMs * 1000));
  std::vector<double> latencies;
  std::vector<std::string> probes, arrived;
  for (unsigned index = 0; index < kLatencyMessages; ++index) {
    probes.push_back(message(16, index));
    std::this_thread::sleep_for(std::chrono::microseconds(phase(random)));
    const auto start = Clock::now();
    relay.write(probes.back() + "\n");
    const auto lines = awaitLines(peer, offset, 1, 2s);
    const auto end = Clock::now();
    arrived.insert(arrived.end(), lines.begin(), lines.end());
    if (lines.size() == 1 && lines[0] == probes.back())
      latencies.push_back(milliseconds(end - start));
  }
  const Tally latencyTally = tally(probes, arrived);
  const int latencyXruns = xruns.count();

  std::string burst;
  std::vector<std::string> sent;
  for (unsigned index = 0; index < kBurstMessages; ++index) {
    sent.push_back(message(2048, index));
    burst += sent.back() + "\n";
  }
  const auto start = Clock::now();
  std::thread writer([&] { relay.write(burst); });
  const auto received = awaitLines(peer, offset, kBurstMessages, 5s);
  const auto end = Clock::now();
  writer.join();
  const Tally burstTally = tally(sent, received);
  const int burstXruns = xruns.count() - latencyXruns;
  if (!clean(latencyTally) || !clean(burstTally)) {
    std::fprintf(stderr, "relay said:\n%s\npeer said:\n%s\n", relay.standardError().c_str(),
                 peer.standardError().c_str());
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
    std::printf("  median %.2f ms, p95 %.2f ms, max %.2f ms\n", percentile(latencies, 0.5), p95,
                percentile(latencies, 1.0));
  }
  std::printf("  ");
  print(latencyTally);
  std::printf("; server xruns %d\n", latencyXruns);
  const double seconds = milliseconds(end - start) / 1000;
  std::printf("burst of %d signed messages of 2048 bytes:\n", kBurstMessages);
  std::printf("  %.3f s, %.0f messages/s, %.2f MB/s of MIDI\n  ", seconds, kBurstMessages / seconds,
              kBurstMessages * 2048 / seconds / 1e6);
  print(burstTally);
  std::printf("; server xruns %d\n", burstXruns);
  const bool met =
      !latencies.empty() && p95 <= kPeriodMs + 1 && clean(latencyTally) && clean(burstTally);
  std::printf("target (nothing lost, p95 within one period plus 1 ms = %.2f ms): %s\n",
              kPeriodMs + 1, met ? "met" : "missed");
  return met ? 0 : 1;
}
