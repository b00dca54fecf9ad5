// Measures sysex_relay on a private JACK server with midi_peer as the listening DAW:
// the one-hop latency from a line written to the relay until the peer prints the message,
// and the throughput of a burst of 2048-byte messages, with the count lost. It also counts the
// server's xruns: a client that is late by more than the server waits for in synchronous mode
// (ten client timeouts) can lose or repeat a period's MIDI.
#include <fcntl.h>
#include <jack/jack.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
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

// A program with its standard input and, together on one pipe, its standard output and error.
// It gets this process's environment, JACK's variables included.
struct Child {
  explicit Child(std::vector<std::string> argv) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input = in[1];
    output = out[0];
  }

  void write(const std::string& text) const {
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t written = ::write(input, text.data() + done, text.size() - done);
      if (written <= 0) return;
      done += static_cast<std::size_t>(written);
    }
  }

  // The next line it writes, without its line feed; nothing if none comes within `timeout`.
  std::optional<std::string> line(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (buffer.find('\n') == std::string::npos) {
      pollfd readable{output, POLLIN, 0};
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      char chunk[65536];
      ssize_t count = 0;
      if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) != 1 ||
          (count = read(output, chunk, sizeof chunk)) <= 0) {
        return std::nullopt;
      }
      buffer.append(chunk, static_cast<std::size_t>(count));
    }
    const std::size_t end = buffer.find('\n');
    std::string text = buffer.substr(0, end);
    buffer.erase(0, end + 1);
    return text;
  }

  // Waits for a line that is `text`, skipping the others.
  bool awaitLine(const std::string& text) {
    for (std::optional<std::string> next; (next = line(10s));) {
      if (*next == text) return true;
    }
    return false;
  }

  // Ends its input and waits for it to exit.
  void finish() {
    close(input);
    waitpid(pid, nullptr, 0);
  }

  pid_t pid = -1;
  int input = -1;
  int output = -1;
  std::string buffer;
};

// Up to `count` lines, ending early once none comes for `quiet`.
std::vector<std::string> awaitLines(Child& child, int count, std::chrono::milliseconds quiet) {
  std::vector<std::string> lines;
  for (std::optional<std::string> next;
       static_cast<int>(lines.size()) < count && (next = child.line(quiet));) {
    lines.push_back(*next);
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
  explicit XrunCounter(jack_client_t* client) : client_(client) {
    jack_set_xrun_callback(
        client_,
        [](void* count) {
          ++*static_cast<std::atomic<int>*>(count);
          return 0;
        },
        &count_);
    jack_activate(client_);
  }
  ~XrunCounter() { jack_client_close(client_); }
  int count() const { return count_; }

 private:
  jack_client_t* client_;
  std::atomic<int> count_{0};
};

}  // namespace

int main() {
  // A private server; libjack's own messages would only get in the way of the figures.
  const std::string server = "quav-bench-" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
  jack_set_error_function([](const char*) {});
  jack_set_info_function([](const char*) {});
  Child jackd({"/usr/bin/jackd", "--no-realtime", "-S", "-n", server, "-d", "dummy", "-r", "48000",
               "-p", "256"});
  std::optional<XrunCounter> xruns;
  // jackd has no readiness signal of its own; a client that connects is the proof.
  for (int attempt = 0; attempt < 200 && !xruns; ++attempt) {
    std::this_thread::sleep_for(50ms);
    if (jack_client_t* client = jack_client_open("xrun counter", JackNoStartServer, nullptr)) {
      xruns.emplace(client);
    }
  }
  Child relay({SYSEX_RELAY_PATH});
  if (!xruns || !relay.awaitLine("Local QUAV Tonvex MIDI endpoints ready.")) {
    std::fputs("the JACK server or the relay did not start\n", stderr);
    return 1;
  }
  Child peer({MIDI_PEER_PATH, "QUAV Tonvex"});
  if (!peer.awaitLine("midi_peer: connected")) {
    std::fputs("the peer did not connect\n", stderr);
    return 1;
  }
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
    const auto lines = awaitLines(peer, 1, 2s);
    const auto end = Clock::now();
    arrived.insert(arrived.end(), lines.begin(), lines.end());
    if (lines.size() == 1 && lines[0] == probes.back())
      latencies.push_back(milliseconds(end - start));
  }
  const Tally latencyTally = tally(probes, arrived);
  const int latencyXruns = xruns->count();

  std::string burst;
  std::vector<std::string> sent;
  for (unsigned index = 0; index < kBurstMessages; ++index) {
    sent.push_back(message(2048, index));
    burst += sent.back() + "\n";
  }
  const auto start = Clock::now();
  std::thread writer([&] { relay.write(burst); });
  const auto received = awaitLines(peer, kBurstMessages, 5s);
  const auto end = Clock::now();
  writer.join();
  const Tally burstTally = tally(sent, received);
  const int burstXruns = xruns->count() - latencyXruns;

  // Clients before their server, each cleanly: a synchronous server waits for vanished ones.
  peer.finish();
  relay.finish();
  xruns.reset();
  kill(jackd.pid, SIGTERM);
  jackd.finish();

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
