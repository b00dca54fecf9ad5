// midi_peer "<relay port name>"
//
// Plays the DAW against a relay on the running JACK server. It finds the relay's source and
// destination ports by their endpoint name (the port alias, or else the pretty-name metadata),
// waiting up to 5 seconds for them to appear, connects the relay's source to its own input and
// its own output to the relay's destination, and then writes "midi_peer: connected" on
// standard error.
//
// Standard input: one MIDI event per line as pairs of hex digits (either case; spaces between
// pairs are ignored; a line may end in CR LF; blank lines are skipped). Several events on one
// line, separated by "|", go out in the same JACK period, so the relay receives them in one
// packet list. Events are sent in order and none is dropped: a full port buffer holds the rest
// back for the next period.
// Standard output: each event from the relay's source as one line of lowercase hex, flushed at
// once.
//
// It exits with status 0 on SIGINT or SIGTERM, or once its standard input has ended and its
// events have all gone out; with status 1 and one line on standard error when no server runs,
// the relay's ports do not appear, a connection fails or an input line is not hex; with
// status 2 on a wrong command line. Should two relays carry the name, it uses the first and
// says so.
#include <jack/jack.h>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto kFindTimeout = 5s;
constexpr std::size_t kOutgoingBytes = 1 << 20;
constexpr std::size_t kIncomingBytes = 8 << 20;

jack_client_t* client;
jack_port_t* input;
jack_port_t* output;
jack_ringbuffer_t* outgoing;  // [length][bytes] per event, for the process callback
jack_ringbuffer_t* incoming;  // [length][bytes] per event, for the printer

std::atomic<unsigned> cycles{0};
std::atomic<unsigned> arrivals{0};
std::atomic<unsigned> lost{0};
std::atomic<std::uint32_t> largestEvent{0};
std::mutex printing;

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "midi_peer: %s\n", message.c_str());
  if (client != nullptr) jack_client_close(client);
  _exit(1);
}

// Realtime: copies queued events out and arrived events in, nothing else.
void emit(jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(output, frames);
  jack_midi_clear_buffer(buffer);
  largestEvent = static_cast<std::uint32_t>(jack_midi_max_event_size(buffer));
  bool wrote = false;
  std::uint32_t length = 0;
  while (jack_ringbuffer_peek(outgoing, reinterpret_cast<char*>(&length), sizeof length) ==
         sizeof length) {
    jack_midi_data_t* event = jack_midi_event_reserve(buffer, 0, length);
    if (event == nullptr && wrote) return;
    jack_ringbuffer_read_advance(outgoing, sizeof length);
    if (event == nullptr) {  // cannot fit even an empty buffer; refused before queueing
      jack_ringbuffer_read_advance(outgoing, length);
      continue;
    }
    jack_ringbuffer_read(outgoing, reinterpret_cast<char*>(event), length);
    wrote = true;
  }
}

void collect(jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(input, frames);
  const std::uint32_t count = jack_midi_get_event_count(buffer);
  jack_midi_event_t event;
  for (std::uint32_t index = 0; index < count; ++index) {
    jack_midi_event_get(&event, buffer, index);
    const auto length = static_cast<std::uint32_t>(event.size);
    if (jack_ringbuffer_write_space(incoming) < sizeof length + length) {
      lost.fetch_add(1);
      continue;
    }
    jack_ringbuffer_write(incoming, reinterpret_cast<const char*>(&length), sizeof length);
    jack_ringbuffer_write(incoming, reinterpret_cast<const char*>(event.buffer), length);
  }
  if (count > 0) {
    arrivals.fetch_add(1);
    arrivals.notify_all();
  }
}

int process(jack_nframes_t frames, void*) {
  emit(frames);
  collect(frames);
  cycles.fetch_add(1);
  cycles.notify_all();
  return 0;
}

void printArrived() {
  std::lock_guard lock(printing);
  std::uint32_t length = 0;
  std::vector<unsigned char> bytes;
  // The process callback writes an event's length before its bytes: take only whole events.
  while (jack_ringbuffer_peek(incoming, reinterpret_cast<char*>(&length), sizeof length) ==
             sizeof length &&
         jack_ringbuffer_read_space(incoming) >= sizeof length + length) {
    jack_ringbuffer_read_advance(incoming, sizeof length);
    bytes.resize(length);
    jack_ringbuffer_read(incoming, reinterpret_cast<char*>(bytes.data()), length);
    for (unsigned char byte : bytes) std::printf("%02x", byte);
    std::putchar('\n');
  }
  std::fflush(stdout);
}

void printer() {
  unsigned reported = 0;
  for (;;) {
    const unsigned seen = arrivals.load();
    printArrived();
    if (const unsigned now = lost.load(); now != reported) {
      std::fprintf(stderr, "midi_peer: %u incoming events lost\n", now - reported);
      reported = now;
    }
    arrivals.wait(seen);
  }
}

// Closes the client cleanly (a server in synchronous mode would wait for a vanished one),
// prints what has arrived and ends the process.
[[noreturn]] void finish() {
  static std::mutex once;
  once.lock();  // never unlocked: whoever comes second waits for the exit
  jack_client_close(client);
  printArrived();
  _exit(0);
}

void waitCycles(unsigned count) {
  unsigned seen = cycles.load();
  while (count > 0) {
    cycles.wait(seen);
    const unsigned now = cycles.load();
    count -= std::min(count, now - seen);
    seen = now;
  }
}

void shutdown(void*) {
  std::fputs("midi_peer: the JACK server has stopped\n", stderr);
  _exit(1);
}

struct RelayPorts {
  std::string source;
  std::string destination;
  bool several = false;
};

bool hasAlias(jack_port_t* port, const std::string& name) {
  std::vector<char> first(jack_port_name_size()), second(jack_port_name_size());
  char* aliases[2] = {first.data(), second.data()};
  const int count = jack_port_get_aliases(port, aliases);
  for (int index = 0; index < count; ++index) {
    if (name == aliases[index]) return true;
  }
  return false;
}

bool hasPrettyName(jack_port_t* port, const std::string& name) {
  char* value = nullptr;
  char* type = nullptr;
  if (jack_get_property(jack_port_uuid(port), JACK_METADATA_PRETTY_NAME, &value, &type) != 0) {
    return false;
  }
  const bool matches = value != nullptr && name == value;
  jack_free(value);
  jack_free(type);
  return matches;
}

// The alias lives in this server's graph; the metadata store is shared by all servers of the
// user, so a pretty name only counts when no alias matches.
RelayPorts findRelay(const std::string& name) {
  RelayPorts byAlias, byPrettyName;
  const std::string own = std::string(jack_get_client_name(client)) + ":";
  const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, 0);
  for (const char** at = names; at != nullptr && *at != nullptr; ++at) {
    if (std::string_view(*at).starts_with(own)) continue;
    jack_port_t* port = jack_port_by_name(client, *at);
    if (port == nullptr) continue;
    const bool isSource = (jack_port_flags(port) & JackPortIsOutput) != 0;
    for (RelayPorts* found : {&byAlias, &byPrettyName}) {
      const bool matches = found == &byAlias ? hasAlias(port, name) : hasPrettyName(port, name);
      if (!matches) continue;
      std::string& slot = isSource ? found->source : found->destination;
      if (slot.empty()) {
        slot = *at;
      } else {
        found->several = true;
      }
    }
  }
  jack_free(names);
  const bool aliasFound = !byAlias.source.empty() || !byAlias.destination.empty();
  return aliasFound ? byAlias : byPrettyName;
}

RelayPorts waitForRelay(const std::string& name) {
  const auto deadline = std::chrono::steady_clock::now() + kFindTimeout;
  for (;;) {
    RelayPorts found = findRelay(name);
    if (!found.source.empty() && !found.destination.empty()) return found;
    // The relay may still be setting its ports up; JACK announces no alias changes.
    if (std::chrono::steady_clock::now() > deadline) {
      fail("no source and destination named \"" + name + "\"");
    }
    std::this_thread::sleep_for(20ms);
  }
}

void connect(const std::string& from, const std::string& to) {
  const int result = jack_connect(client, from.c_str(), to.c_str());
  if (result != 0 && result != EEXIST) fail("cannot connect " + from + " to " + to);
}

int hexValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  return -1;
}

// The events of one line; nothing when the line is blank, nullopt when it is not hex.
std::optional<std::vector<std::vector<unsigned char>>> parse(const std::string& line) {
  std::vector<std::vector<unsigned char>> events(1);
  int high = -1;
  for (char character : line) {
    if (character == ' ' || character == '\t') {
      if (high >= 0) return std::nullopt;
      continue;
    }
    if (character == '|') {
      if (high >= 0 || events.back().empty()) return std::nullopt;
      events.emplace_back();
      continue;
    }
    const int value = hexValue(character);
    if (value < 0) return std::nullopt;
    if (high < 0) {
      high = value;
    } else {
      events.back().push_back(static_cast<unsigned char>(high * 16 + value));
      high = -1;
    }
  }
  if (high >= 0 || (events.back().empty() && events.size() > 1)) return std::nullopt;
  if (events.back().empty()) events.clear();
  return events;
}

// All events of a line become visible to the process callback at once.
void queue(const std::vector<std::vector<unsigned char>>& events) {
  std::size_t bytes = 0;
  for (const auto& event : events) {
    if (event.size() > largestEvent)
      fail("an event of " + std::to_string(event.size()) +
           " bytes does not fit a JACK MIDI buffer");
    bytes += sizeof(std::uint32_t) + event.size();
  }
  if (bytes >= kOutgoingBytes) fail("a line of " + std::to_string(bytes) + " bytes is too long");
  for (;;) {
    const unsigned seen = cycles.load();
    if (jack_ringbuffer_write_space(outgoing) >= bytes) break;
    cycles.wait(seen);
  }
  jack_ringbuffer_data_t parts[2];
  jack_ringbuffer_get_write_vector(outgoing, parts);
  std::size_t offset = 0;
  const auto put = [&](const void* from, std::size_t count) {
    for (std::size_t index = 0; index < count; ++index, ++offset) {
      const char byte = static_cast<const char*>(from)[index];
      if (offset < parts[0].len) {
        parts[0].buf[offset] = byte;
      } else {
        parts[1].buf[offset - parts[0].len] = byte;
      }
    }
  };
  for (const auto& event : events) {
    const auto length = static_cast<std::uint32_t>(event.size());
    put(&length, sizeof length);
    put(event.data(), event.size());
  }
  jack_ringbuffer_write_advance(outgoing, bytes);
}

void sendInput() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.ends_with('\r')) line.pop_back();
    const auto events = parse(line);
    if (!events) fail("not a line of hex events: " + line);
    if (!events->empty()) queue(*events);
  }
  while (jack_ringbuffer_read_space(outgoing) > 0) waitCycles(1);
  waitCycles(2);  // the period that took the last event has ended for every client
}

void openClient() {
  jack_set_error_function([](const char*) {});
  jack_set_info_function([](const char*) {});
  client = jack_client_open("midi_peer", JackNoStartServer, nullptr);
  if (client == nullptr) fail("no JACK server is running");
  outgoing = jack_ringbuffer_create(kOutgoingBytes);
  incoming = jack_ringbuffer_create(kIncomingBytes);
  input = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  output = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (input == nullptr || output == nullptr) fail("cannot register ports");
  jack_set_process_callback(client, process, nullptr);
  jack_on_shutdown(client, shutdown, nullptr);
  if (jack_activate(client) != 0) fail("cannot activate the JACK client");
  waitCycles(1);  // the size an empty port buffer holds is known from now on
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: midi_peer \"<relay port name>\"\n", stderr);
    return 2;
  }
  // Signals are taken by one thread of our own, never by JACK's threads.
  sigset_t stopping;
  sigemptyset(&stopping);
  sigaddset(&stopping, SIGINT);
  sigaddset(&stopping, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
  std::thread([stopping] {
    int signal = 0;
    sigwait(&stopping, &signal);
    finish();
  }).detach();

  openClient();
  const RelayPorts relay = waitForRelay(argv[1]);
  if (relay.several) {
    std::fprintf(stderr, "midi_peer: several relays are named \"%s\"; using the first\n", argv[1]);
  }
  connect(relay.source, jack_port_name(input));
  connect(jack_port_name(output), relay.destination);
  std::thread(printer).detach();
  std::fputs("midi_peer: connected\n", stderr);
  std::fflush(stderr);
  sendInput();
  finish();
}
