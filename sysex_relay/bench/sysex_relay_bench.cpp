// sysex_relay_bench [--running-server]
//
// Measures sysex_relay against raw_relay, the same contract straight over libjack, on one JACK
// server with midi_peer as the DAW, and prints both figures and their ratio: the one-hop
// latency from a line written to the relay until the peer prints the message; the throughput
// of a burst of 2048-byte messages, with any lost, repeated or reordered; and, idle with the
// peer connected, the processor time each uses and the memory it holds alone. It also counts
// the server's xruns: a client that is late by more than the server waits for in synchronous
// mode (ten client timeouts) can lose or repeat a period's MIDI.
//
// It starts a private `jackd -S` with the dummy driver, or with --running-server uses the
// server its environment names (PipeWire's through pw-jack: see pipewire_bench.sh).
// Figures, not a test: it fails only when it cannot measure or a message is lost.
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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
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
constexpr auto kIdle = 20s;

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

  // Waits for a line that is `text`, skipping the others; the ones skipped tell what failed.
  bool awaitLine(const std::string& text) {
    for (std::optional<std::string> next; (next = line(10s));) {
      if (*next == text) return true;
      skipped += *next + "\n";
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
  std::string skipped;
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
  jack_client_t* client() const { return client_; }

 private:
  jack_client_t* client_;
  std::atomic<int> count_{0};
};

// Processor time a process has used so far, user and system, in clock ticks.
long cpuTicks(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  const std::string stat{std::istreambuf_iterator<char>(file), {}};
  // The name in parentheses may hold spaces; the fields after it start with the third.
  std::istringstream fields(stat.substr(stat.rfind(')') + 1));
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;
  long user = 0, system = 0;
  fields >> user >> system;
  return user + system;
}

// The same in milliseconds, summed over its threads from the scheduler's nanoseconds: an idle
// client uses few ticks.
double cpuMs(pid_t pid) {
  double total = 0;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks)) {
    std::ifstream file(task.path() / "schedstat");
    double nanoseconds = 0;
    file >> nanoseconds;
    total += nanoseconds / 1e6;
  }
  return total;
}

// Memory that the process alone holds, in KiB.
long privateKiB(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/smaps_rollup");
  long total = 0;
  for (std::string key; file >> key;) {
    long value = 0;
    if (key == "Private_Clean:" || key == "Private_Dirty:") file >> value;
    total += value;
  }
  return total;
}

// One side of the comparison: a program with the relay's contract, and how midi_peer finds it.
struct Side {
  const char* label;
  std::vector<std::string> argv;
  std::string ready;  // the line it writes once its ports exist
  std::string name;   // its endpoints' name
};

struct Figures {
  std::vector<double> latencies;
  Tally latencyTally, burstTally;
  int latencyXruns = 0, burstXruns = 0;
  double burstSeconds = 0;
  long idleTicks = 0;
  double idleMs = 0;
  long idleKiB = 0, afterBurstKiB = 0;
};

// A side running with midi_peer on its ports; each ends cleanly, as a synchronous server
// waits for vanished clients.
struct Running {
  explicit Running(const Side& side) : relay(side.argv) {
    if (!relay.awaitLine(side.ready)) {
      std::fprintf(stderr, "%s did not start\n%s", side.label, relay.skipped.c_str());
      return;
    }
    peer.emplace(std::vector<std::string>{MIDI_PEER_PATH, side.name});
    connected = peer->awaitLine("midi_peer: connected");
    if (!connected) {
      std::fprintf(stderr, "the peer did not connect to %s\n%s", side.label, peer->skipped.c_str());
    }
  }
  ~Running() {
    if (!connected) kill(relay.pid, SIGKILL);
    if (peer) peer->finish();
    relay.finish();
  }

  Child relay;
  std::optional<Child> peer;
  bool connected = false;
};

// The one-hop latency and the burst.
void traffic(Running& side, XrunCounter& xruns, double periodMs, Figures& figures) {
  Child& relay = side.relay;
  Child& peer = *side.peer;
  // Each message waits a random part of a period first; sent right after the previous one
  // arrived, every message would meet the period at the same phase.
  const int startXruns = xruns.count();
  std::mt19937 random(1);
  std::uniform_int_distribution<int> phase(0, static_cast<int>(periodMs * 1000));
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
      figures.latencies.push_back(milliseconds(end - start));
  }
  figures.latencyTally = tally(probes, arrived);
  figures.latencyXruns = xruns.count() - startXruns;

  std::string burst;
  std::vector<std::string> sent;
  for (unsigned index = 0; index < kBurstMessages; ++index) {
    sent.push_back(message(2048, index));
    burst += sent.back() + "\n";
  }
  const auto start = Clock::now();
  std::thread writer([&] { relay.write(burst); });
  const auto received = awaitLines(peer, kBurstMessages, 5s);
  figures.burstSeconds = milliseconds(Clock::now() - start) / 1000;
  writer.join();
  figures.burstTally = tally(sent, received);
  figures.burstXruns = xruns.count() - startXruns - figures.latencyXruns;
  figures.afterBurstKiB = privateKiB(relay.pid);
}

void row(const char* what, double relay, double raw, const char* format) {
  std::printf("  %-34s", what);
  std::printf(format, relay);
  std::printf(format, raw);
  if (raw > 0) {
    std::printf("%10.2f\n", relay / raw);
  } else {
    std::printf("%10s\n", "-");
  }
}

const char* verdict(bool met) {
  return met ? "met" : "MISSED";
}

}  // namespace

int main(int argc, char** argv) {
  const bool ownServer = argc < 2 || std::string(argv[1]) != "--running-server";
  if (argc > 2 || (argc == 2 && ownServer)) {
    std::fputs("usage: sysex_relay_bench [--running-server]\n", stderr);
    return 2;
  }
  // libjack's own messages would only get in the way of the figures.
  jack_set_error_function([](const char*) {});
  jack_set_info_function([](const char*) {});
  std::optional<Child> jackd;
  if (ownServer) {
    const std::string server = "quav-bench-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    jackd.emplace(std::vector<std::string>{"/usr/bin/jackd", "--no-realtime", "-S", "-n", server,
                                           "-d", "dummy", "-r", "48000", "-p", "256"});
  }
  std::optional<XrunCounter> xruns;
  // jackd has no readiness signal of its own; a client that connects is the proof.
  for (int attempt = 0; attempt < 200 && !xruns; ++attempt) {
    if (jack_client_t* client = jack_client_open("xrun counter", JackNoStartServer, nullptr)) {
      xruns.emplace(client);
    } else {
      std::this_thread::sleep_for(50ms);
    }
  }
  if (!xruns) {
    std::fputs("no JACK server to measure on\n", stderr);
    if (jackd) {  // what it says until it exits tells why
      jackd->awaitLine("");
      std::fputs(jackd->skipped.c_str(), stderr);
    }
    return 1;
  }
  const double rate = jack_get_sample_rate(xruns->client());
  const auto frames = jack_get_buffer_size(xruns->client());
  const double periodMs = frames / rate * 1000;
  const Side sides[2] = {
      {"sysex_relay", {SYSEX_RELAY_PATH}, "Local QUAV Tonvex MIDI endpoints ready.", "QUAV Tonvex"},
      {"raw_relay", {RAW_RELAY_PATH, "raw relay"}, "raw_relay: ready", "raw relay"}};
  std::optional<Figures> relay, raw;
  {
    Running running[2] = {Running(sides[0]), Running(sides[1])};
    if (running[0].connected && running[1].connected) {
      // Both idle at once, so that the load of the machine weighs on both alike.
      Figures figures[2];
      for (int at : {0, 1}) {
        figures[at].idleTicks = cpuTicks(running[at].relay.pid);
        figures[at].idleMs = cpuMs(running[at].relay.pid);
      }
      std::this_thread::sleep_for(kIdle);
      for (int at : {0, 1}) {
        figures[at].idleTicks = cpuTicks(running[at].relay.pid) - figures[at].idleTicks;
        figures[at].idleMs = cpuMs(running[at].relay.pid) - figures[at].idleMs;
        figures[at].idleKiB = privateKiB(running[at].relay.pid);
      }
      for (int at : {0, 1}) traffic(running[at], *xruns, periodMs, figures[at]);
      relay = figures[0];
      raw = figures[1];
    }
  }
  xruns.reset();
  if (jackd) {
    kill(jackd->pid, SIGTERM);
    jackd->finish();
  }
  if (!relay || !raw || relay->latencies.empty() || raw->latencies.empty()) return 1;

  // Which libjack serves this process tells which server it is.
  std::ifstream maps("/proc/self/maps");
  const std::string mapped{std::istreambuf_iterator<char>(maps), {}};
  const bool pipewire = mapped.find("pipewire") != std::string::npos;
  std::printf("%s, %.0f Hz, %u frames per period (%.2f ms)\n",
              ownServer  ? "jackd -S, dummy driver"
              : pipewire ? "PipeWire through pw-jack"
                         : "the running server",
              rate, frames, periodMs);
  std::printf("  %-34s%10s%10s%10s\n", "", "relay", "raw", "relay/raw");
  const auto hop = [&](const char* what, double fraction) {
    row(what, percentile(relay->latencies, fraction), percentile(raw->latencies, fraction),
        "%10.2f");
  };
  hop("one hop p50, ms", 0.5);
  hop("one hop p95, ms", 0.95);
  hop("one hop max, ms", 1.0);
  const auto rateOf = [](const Figures& figures) {
    return kBurstMessages * 2048 / figures.burstSeconds / 1e6;
  };
  row("burst, MB/s of MIDI", rateOf(*relay), rateOf(*raw), "%10.2f");
  const auto idleSeconds = std::chrono::duration<double>(kIdle).count();
  std::printf("  both idle at once for %.0f s, each with its peer connected:\n", idleSeconds);
  row("CPU time, ticks", relay->idleTicks, raw->idleTicks, "%10.0f");
  row("CPU time, ms (schedstat)", relay->idleMs, raw->idleMs, "%10.1f");
  row("private memory, KiB", relay->idleKiB, raw->idleKiB, "%10.0f");
  row("private memory after the burst, KiB", relay->afterBurstKiB, raw->afterBurstKiB, "%10.0f");
  for (const auto* figures : {&*relay, &*raw}) {
    std::printf("  %s: one hop ", figures == &*relay ? "relay" : "raw");
    print(figures->latencyTally);
    std::printf(", xruns %d\n  %*s  burst   ", figures->latencyXruns, figures == &*relay ? 5 : 3,
                "");
    print(figures->burstTally);
    std::printf(", xruns %d\n", figures->burstXruns);
  }
  const double p95 = percentile(relay->latencies, 0.95) - percentile(raw->latencies, 0.95);
  std::printf("targets:\n  one hop p95 at most raw + 0.5 ms: %s (%+.2f ms)\n", verdict(p95 <= 0.5),
              p95);
  std::printf("  burst at least 0.95 x raw: %s\n", verdict(rateOf(*relay) >= 0.95 * rateOf(*raw)));
  std::printf("  idle CPU at most 1.2 x raw: %s\n",
              verdict(relay->idleTicks <= 1.2 * raw->idleTicks));
  std::printf("  idle private memory at most 1 MiB: %s\n", verdict(relay->idleKiB <= 1024));
  const bool intact = clean(relay->latencyTally) && clean(relay->burstTally) &&
                      clean(raw->latencyTally) && clean(raw->burstTally);
  std::printf("  nothing lost, repeated or reordered: %s\n", verdict(intact));
  return intact ? 0 : 1;
}
