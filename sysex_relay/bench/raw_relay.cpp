// raw_relay "<name>": sysex_relay's contract straight over libjack, the yardstick of the
// benchmark. A JACK client "<name>" with a port "source" and a port "destination", both aliased
// and pretty-named "<name>" so that midi_peer finds them. Each line on standard input that
// decodes as the relay decodes it leaves "source" as one event; each event at "destination" is
// written to standard output as one line of hex. It says "raw_relay: ready" on standard error
// once its ports exist, and exits once its input has ended and its events have gone out.
#include <jack/jack.h>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "decode.h"

namespace {

jack_port_t* source;
jack_port_t* destination;
jack_ringbuffer_t* outgoing;  // [length][bytes] per event, from the reader to the callback
jack_ringbuffer_t* incoming;  // [length][bytes] per event, from the callback to the printer
std::atomic<unsigned> cycles{0};
std::atomic<unsigned> arrivals{0};

// Realtime: moves whole events between the ring buffers and the port buffers, nothing else.
int process(jack_nframes_t frames, void*) {
  void* out = jack_port_get_buffer(source, frames);
  jack_midi_clear_buffer(out);
  std::uint32_t length = 0;
  while (jack_ringbuffer_peek(outgoing, reinterpret_cast<char*>(&length), sizeof length) ==
         sizeof length) {
    jack_midi_data_t* event = jack_midi_event_reserve(out, 0, length);
    if (event == nullptr) break;  // the rest goes out next period
    jack_ringbuffer_read_advance(outgoing, sizeof length);
    jack_ringbuffer_read(outgoing, reinterpret_cast<char*>(event), length);
  }
  void* in = jack_port_get_buffer(destination, frames);
  const std::uint32_t count = jack_midi_get_event_count(in);
  jack_midi_event_t event;
  for (std::uint32_t index = 0; index < count; ++index) {
    jack_midi_event_get(&event, in, index);
    length = static_cast<std::uint32_t>(event.size);
    if (jack_ringbuffer_write_space(incoming) < sizeof length + length) break;
    jack_ringbuffer_write(incoming, reinterpret_cast<const char*>(&length), sizeof length);
    jack_ringbuffer_write(incoming, reinterpret_cast<const char*>(event.buffer), length);
  }
  if (count > 0) {
    arrivals.fetch_add(1);
    arrivals.notify_one();
  }
  cycles.fetch_add(1);
  cycles.notify_one();
  return 0;
}

void print() {
  std::vector<char> bytes;
  for (unsigned seen = 0;; arrivals.wait(seen)) {
    seen = arrivals.load();
    std::uint32_t length = 0;
    // The callback writes an event's length before its bytes: take only whole events.
    while (jack_ringbuffer_peek(incoming, reinterpret_cast<char*>(&length), sizeof length) ==
               sizeof length &&
           jack_ringbuffer_read_space(incoming) >= sizeof length + length) {
      jack_ringbuffer_read_advance(incoming, sizeof length);
      bytes.resize(length);
      jack_ringbuffer_read(incoming, bytes.data(), length);
      for (char byte : bytes) std::printf("%02x", static_cast<unsigned char>(byte));
      std::puts("");
    }
    std::fflush(stdout);
  }
}

// Waits for the process callback until `done` holds.
template <typename Condition>
void waitFor(Condition done) {
  for (unsigned seen = cycles.load(); !done(); seen = cycles.load()) cycles.wait(seen);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: raw_relay \"<name>\"\n", stderr);
    return 2;
  }
  jack_set_error_function([](const char*) {});
  jack_set_info_function([](const char*) {});
  jack_client_t* client = jack_client_open(argv[1], JackNoStartServer, nullptr);
  if (client == nullptr) {
    std::fputs("raw_relay: no JACK server is running\n", stderr);
    return 1;
  }
  // As large as the layer's queues, so that the memory figures compare.
  outgoing = jack_ringbuffer_create(256 << 10);
  incoming = jack_ringbuffer_create(1 << 20);
  source = jack_port_register(client, "source", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  destination =
      jack_port_register(client, "destination", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(client, process, nullptr);
  // Without the server no cycle would ever end a wait for the callback.
  jack_on_shutdown(
      client, [](void*) { _exit(1); }, nullptr);
  if (source == nullptr || destination == nullptr || jack_activate(client) != 0) {
    std::fputs("raw_relay: cannot set up the ports\n", stderr);
    return 1;
  }
  // PipeWire's libjack keeps no aliases; midi_peer then looks for the pretty name.
  for (jack_port_t* port : {source, destination}) {
    jack_port_set_alias(port, argv[1]);
    jack_set_property(client, jack_port_uuid(port), JACK_METADATA_PRETTY_NAME, argv[1],
                      "text/plain");
  }
  std::thread(print).detach();
  std::fputs("raw_relay: ready\n", stderr);

  char line[8192];
  std::uint32_t length = 0;
  Byte record[sizeof length + 2048];  // written at once: the callback never sees half of it
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    length = decode(line, std::strcspn(line, "\r\n"), record + sizeof length);
    if (length == 0) continue;
    std::memcpy(record, &length, sizeof length);
    waitFor([&] { return jack_ringbuffer_write_space(outgoing) >= sizeof length + length; });
    jack_ringbuffer_write(outgoing, reinterpret_cast<const char*>(record), sizeof length + length);
  }
  waitFor([] { return jack_ringbuffer_read_space(outgoing) == 0; });
  // The period that took the last event has ended for every client.
  const unsigned taken = cycles.load();
  waitFor([&] { return cycles.load() - taken >= 2; });
  jack_client_close(client);
  return 0;
}
