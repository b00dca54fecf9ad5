#include "Client.h"

#include <jack/midiport.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>
#include <utility>

#include "Metadata.h"
#include "Period.h"

namespace coremidi {
namespace {

// The queues are in memory from the start (the realtime side must take no page fault), so
// they are kept small: a source's holds two periods of full port buffers (32 KiB each on
// jackd), and sends wait for room.
constexpr std::size_t kSourceQueueBytes = 64 * 1024;
// Incoming events cannot wait in JACK: whatever a period brings must find room here. This is
// four periods of full port buffers, and at MIDI's wire rate (3,125 bytes a second) over a
// second and a half even of one-byte events, each of which takes 25 bytes here. Twice as much
// would take an idle relay past 1 MiB of private memory.
constexpr std::size_t kDestinationQueueBytes = 128 * 1024;
// The read procedure runs on this thread. Its stack has a fixed size, as JACK's own threads
// have, so that it does not depend on the process's stack limit.
constexpr std::size_t kReadThreadStack = 1024 * 1024;

// libjack reports on standard error by default; the programs on top own that stream.
void silenceJack() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
  });
}

// JACK client names cannot hold the colon that separates client and port in port names.
std::string jackClientName(const char* name) {
  std::string text = (name != nullptr && *name != '\0') ? name : "CoreMIDI";
  std::replace(text.begin(), text.end(), ':', '-');
  return text.substr(0, static_cast<std::size_t>(jack_client_name_size()) - 1);
}

std::string portName(const char* kind, std::size_t number) {
  return number == 1 ? kind : std::string(kind) + "-" + std::to_string(number);
}

// libjack blocks SIGPIPE in the thread that opens a client, and every thread started after
// would inherit that: a relay whose reader has gone would write on forever instead of ending.
// JACK's own threads start while this is alive, and keep what libjack chose for them.
class KeepSignalMask {
 public:
  KeepSignalMask() { pthread_sigmask(SIG_SETMASK, nullptr, &mask_); }
  ~KeepSignalMask() { pthread_sigmask(SIG_SETMASK, &mask_, nullptr); }
  KeepSignalMask(const KeepSignalMask&) = delete;
  KeepSignalMask& operator=(const KeepSignalMask&) = delete;

 private:
  sigset_t mask_;
};

}  // namespace

Endpoint::Endpoint(Kind kind, MIDIObjectRef ref, jack_port_t* port, std::string portName,
                   std::size_t slot, MIDIReadProc readProc, void* refCon)
    : kind(kind),
      ref(ref),
      port(port),
      portName(std::move(portName)),
      slot(slot),
      readProc(readProc),
      refCon(refCon),
      queue(kind == Kind::source ? kSourceQueueBytes : kDestinationQueueBytes) {}

Client::Client(jack_client_t* jack, std::string name) : jack_(jack), name_(std::move(name)) {}

Client::~Client() = default;

std::shared_ptr<Client> Client::open(const char* name, OSStatus& status) {
  silenceJack();
  std::shared_ptr<Client> client;
  {
    const KeepSignalMask programsMask;
    jack_status_t jackStatus{};
    std::string jackName = jackClientName(name);
    jack_client_t* jack = jack_client_open(jackName.c_str(), JackNoStartServer, &jackStatus);
    if (jack == nullptr) {
      status = kMIDIServerStartErr;
      return nullptr;
    }
    client.reset(new Client(jack, std::move(jackName)));
    if (!client->activate()) {
      jack_client_close(jack);
      status = kMIDIServerStartErr;
      return nullptr;
    }
  }
  if (!client->startThreads()) {
    jack_client_close(client->jack_);
    status = kMIDIUnknownError;
    return nullptr;
  }
  status = noErr;
  return client;
}

bool Client::activate() {
  jack_set_process_callback(jack_, process, this);
  jack_on_info_shutdown(jack_, shutdown, this);  // jackd calls this one only
  jack_on_shutdown(jack_, maybeShutdown, this);
  return jack_activate(jack_) == 0;
}

// The reader, and the thread that brings the client back to a restarted server. Both have a
// fixed stack, as JACK's own threads have, so that they do not depend on the process's stack
// limit.
bool Client::startThreads() {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kReadThreadStack);
  bool started = pthread_create(&reader_, &attributes, read, this) == 0;
  if (started && pthread_create(&reopener_, &attributes, reopen, this) != 0) {
    reading_ = false;
    arrivals_.fetch_add(1);
    arrivals_.notify_all();
    pthread_join(reader_, nullptr);
    started = false;
  }
  pthread_attr_destroy(&attributes);
  return started;
}

Endpoint* Client::addEndpoint(Endpoint::Kind kind, MIDIObjectRef ref, MIDIReadProc readProc,
                              void* refCon, OSStatus& status) {
  std::lock_guard control(control_);
  const std::size_t slot = liveCount_.load();
  if (slot == kMaxEndpoints || !cycling_) {
    status = kMIDIUnknownError;
    return nullptr;
  }
  const bool isSource = kind == Endpoint::Kind::source;
  const std::string shortName =
      isSource ? portName("source", sources_ + 1) : portName("destination", destinations_ + 1);
  jack_port_t* port = jack_port_register(jack_, shortName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                         isSource ? JackPortIsOutput : JackPortIsInput, 0);
  if (port == nullptr) {
    status = kMIDIUnknownError;
    return nullptr;
  }
  (isSource ? sources_ : destinations_) += 1;
  auto& endpoint = endpoints_.emplace_back(
      std::make_unique<Endpoint>(kind, ref, port, shortName, slot, readProc, refCon));
  live_[slot].store(endpoint.get());
  liveCount_.store(slot + 1);
  status = noErr;
  return endpoint.get();
}

void Client::publishName(Endpoint& endpoint, const std::string& name) {
  std::lock_guard control(control_);
  if (endpoint.disposed) return;
  metadata::publishName(jack_, endpoint.port, name);
  endpoint.name = name;
}

void Client::setManufacturer(Endpoint& endpoint, const std::string& text) {
  std::lock_guard control(control_);
  if (endpoint.disposed) return;
  metadata::publishManufacturer(jack_, endpoint.port, text);
  endpoint.manufacturer = text;
}

void Client::setUniqueID(Endpoint& endpoint, MIDIUniqueID id) {
  std::lock_guard control(control_);
  if (endpoint.disposed) return;
  metadata::publishUniqueID(jack_, endpoint.port, id);
  endpoint.uniqueID = id;
}

// Every packet goes out in the next period: time stamps in the future are not held back.
OSStatus Client::send(Endpoint& source, const MIDIPacketList* list) {
  if (list == nullptr) return kParamErr;
  const std::uint32_t largest = largestEvent_.load();
  std::size_t total = 0;
  const MIDIPacket* packet = &list->packet[0];
  for (UInt32 index = 0; index < list->numPackets; ++index) {
    // A packet that an empty port buffer cannot hold would never go out.
    if (largest != 0 && packet->length > largest) return kMIDIMessageSendErr;
    total += sizeof(std::uint32_t) + packet->length;
    packet = MIDIPacketNext(packet);
  }
  std::lock_guard sending(source.sending);
  if (source.disposed) return kMIDIObjectNotFound;
  if (!cycling_) return kMIDIServerStartErr;  // the server has gone: nothing would take it
  // A list that fits goes in as a whole, so it leaves in one period when the buffer allows.
  const bool whole = total <= source.queue.capacity();
  if (whole && !waitForRoom(source, total)) return kMIDIServerStartErr;
  packet = &list->packet[0];
  for (UInt32 index = 0; index < list->numPackets; ++index) {
    const std::uint32_t length = packet->length;
    if (!whole && !waitForRoom(source, sizeof length + length)) return kMIDIServerStartErr;
    source.queue.put(&length, sizeof length);
    source.queue.put(packet->data, length);
    if (!whole) source.queue.commit();
    packet = MIDIPacketNext(packet);
  }
  source.queue.commit();
  return noErr;
}

bool Client::waitForRoom(Endpoint& source, std::size_t bytes) {
  for (;;) {
    const unsigned seen = cycles_.load();
    if (source.queue.writable() >= bytes) return true;
    if (!cycling_) return false;
    cycles_.wait(seen);
  }
}

void Client::waitCycles(unsigned count) {
  unsigned seen = cycles_.load();
  while (count > 0 && cycling_) {
    cycles_.wait(seen);
    const unsigned now = cycles_.load();
    count -= std::min(count, now - seen);
    seen = now;
  }
}

void Client::drain(Endpoint& source) {
  { std::lock_guard sending(source.sending); }  // a send under way finishes queueing
  while (source.queue.readable() > 0 && cycling_) waitCycles(1);
  // The period that took the last packet has ended for every client of the graph.
  waitCycles(2);
}

void Client::dispose(Endpoint& endpoint) {
  std::lock_guard control(control_);
  if (closed_) return;
  endpoint.disposed = true;
  if (endpoint.kind == Endpoint::Kind::source) drain(endpoint);
  live_[endpoint.slot].store(nullptr);
  waitCycles(1);  // a cycle that still saw the endpoint has ended
  if (endpoint.kind == Endpoint::Kind::destination && !onReadThread()) {
    std::lock_guard delivering(delivering_);  // a read procedure under way returns
  }
  // libjack's notification thread walks the client's list of ports without a lock, and
  // unregistering a port erases from that list: only an inactive client unregisters safely.
  // So the port stays, without connections or properties, until the client goes. A port of a
  // server that has gone went with it.
  if (cycling_) {
    metadata::withdraw(jack_, endpoint.port);
    jack_port_disconnect(jack_, endpoint.port);
  }
}

void Client::unpublish(Endpoint& endpoint) {
  metadata::withdraw(jack_, endpoint.port);
  jack_port_unregister(jack_, endpoint.port);
}

// libjack calls on a client whose server has gone crash while another thread opens a client:
// the thread that opens one for a restarted server ends first, and a dead client is left alone.
void Client::close() {
  if (!reopening_.exchange(false)) return;  // closed already
  server_ = closing;
  server_.notify_all();
  pthread_join(reopener_, nullptr);
  std::vector<Endpoint*> remaining;
  bool alive = false;
  {
    std::lock_guard control(control_);
    if (closed_) return;
    closed_ = true;
    for (std::size_t slot = 0; slot < liveCount_; ++slot) {
      if (Endpoint* endpoint = live_[slot].load()) remaining.push_back(endpoint);
    }
    for (Endpoint* endpoint : remaining) endpoint->disposed = true;
    for (Endpoint* endpoint : remaining) {
      if (endpoint->kind == Endpoint::Kind::source) drain(*endpoint);
    }
    alive = cycling_;
    if (alive) jack_deactivate(jack_);
    stopCycling();
  }
  // Not under the control mutex: a read procedure under way may still set a property.
  reading_ = false;
  arrivals_.fetch_add(1);
  arrivals_.notify_all();
  pthread_join(reader_, nullptr);
  std::lock_guard control(control_);
  for (Endpoint* endpoint : remaining) {
    live_[endpoint->slot].store(nullptr);
    if (alive) unpublish(*endpoint);
  }
  if (alive) jack_client_close(jack_);
}

void Client::abandon() {
  std::lock_guard control(control_);
  if (closed_) return;
  closed_ = true;
  const bool alive = cycling_;
  for (std::size_t slot = 0; slot < liveCount_; ++slot) {
    if (Endpoint* endpoint = live_[slot].load()) {
      endpoint->disposed = true;
      if (alive) metadata::withdraw(jack_, endpoint->port);
    }
  }
  if (alive) jack_client_close(jack_);
  stopCycling();
}

void Client::stopCycling() {
  cycling_ = false;
  cycles_.fetch_add(1);
  cycles_.notify_all();
}

bool Client::onReadThread() const {
  return pthread_equal(pthread_self(), reader_) != 0;
}

// Realtime: no locks, no allocation, no waiting.
int Client::process(jack_nframes_t frames, void* self) {
  auto& client = *static_cast<Client*>(self);
  // Events are stamped with the host time at which this client's cycle took them in.
  const MIDITimeStamp now = jack_get_time() * 1000;
  bool arrived = false;
  const std::size_t count = client.liveCount_.load();
  for (std::size_t slot = 0; slot < count; ++slot) {
    Endpoint* endpoint = client.live_[slot].load();
    if (endpoint == nullptr) continue;
    void* buffer = jack_port_get_buffer(endpoint->port, frames);
    if (endpoint->kind == Endpoint::Kind::source) {
      client.emit(*endpoint, buffer);
    } else {
      arrived = client.collect(*endpoint, buffer, now) || arrived;
    }
  }
  client.cycles_.fetch_add(1);
  client.cycles_.notify_all();
  if (arrived) {
    client.arrivals_.fetch_add(1);
    client.arrivals_.notify_all();
  }
  return 0;
}

// One queued packet becomes one event. What does not fit waits for the next period.
void Client::emit(Endpoint& source, void* buffer) {
  jack_midi_clear_buffer(buffer);
  largestEvent_.store(static_cast<std::uint32_t>(jack_midi_max_event_size(buffer)));
  bool wrote = false;
  std::uint32_t length = 0;
  while (source.queue.peek(&length, sizeof length)) {
    jack_midi_data_t* event = jack_midi_event_reserve(buffer, 0, length);
    if (event == nullptr && wrote) return;
    source.queue.skip(sizeof length);
    if (event == nullptr) {
      // Larger than an empty buffer holds (MIDIReceived refuses these once the size is known):
      // keeping it would stop the source for good.
      source.queue.skip(length);
      continue;
    }
    source.queue.take(event, length);
    wrote = true;
  }
}

// Each event becomes a record of its own, so that the read procedure gets one packet list per
// event: two messages sent separately are never read as one, even when one period brings both.
bool Client::collect(Endpoint& destination, void* buffer, MIDITimeStamp now) {
  const std::uint32_t count = jack_midi_get_event_count(buffer);
  if (count == 0) return false;
  jack_midi_event_t event;
  std::size_t bytes = 0;
  for (std::uint32_t index = 0; index < count; ++index) {
    jack_midi_event_get(&event, buffer, index);
    bytes += sizeof(PeriodHeader) + sizeof(EventHeader) + event.size;
  }
  // The read thread is 32 periods behind: JACK keeps nothing for later, so this period is lost.
  if (destination.queue.writable() < bytes) return false;
  for (std::uint32_t index = 0; index < count; ++index) {
    jack_midi_event_get(&event, buffer, index);
    const PeriodHeader record{
        static_cast<std::uint32_t>(sizeof(PeriodHeader) + sizeof(EventHeader) + event.size), 1};
    const EventHeader header{now, static_cast<std::uint32_t>(event.size), 0};
    destination.queue.put(&record, sizeof record);
    destination.queue.put(&header, sizeof header);
    destination.queue.put(event.buffer, event.size);
  }
  destination.queue.commit();
  return true;
}

void Client::shutdown(jack_status_t, const char*, void* self) {
  auto& client = *static_cast<Client*>(self);
  client.stopCycling();
  client.server_ = gone;
  client.server_.notify_all();
}

// PipeWire's libjack calls only this one when its server goes, and also on harmless errors
// (another client's objects vanishing): the reopening thread finds out which.
void Client::maybeShutdown(void* self) {
  auto& client = *static_cast<Client*>(self);
  int expected = serving;
  if (client.server_.compare_exchange_strong(expected, maybeGone)) client.server_.notify_all();
}

// A live server runs every client's cycle even when nothing is connected (PipeWire's default
// period is 21 ms, its longest by default 43 ms): 0.2 s without one means it has gone.
bool Client::stillCycling() {
  const unsigned seen = cycles_.load();
  for (int tick = 0; tick < 20 && cycles_.load() == seen; ++tick) {
    const timespec pause{0, 10'000'000};
    nanosleep(&pause, nullptr);
  }
  return cycles_.load() != seen;
}

// Once the server may have gone, this finds out; once it has, it asks twice a second until a
// server answers to the client's name (JACK tells nobody that a server has started).
void* Client::reopen(void* self) {
  auto& client = *static_cast<Client*>(self);
  while (client.reopening_) {
    client.server_.wait(serving);
    if (!client.reopening_) return nullptr;
    if (client.server_ == maybeGone) {
      int expected = maybeGone;
      if (client.stillCycling()) {
        client.server_.compare_exchange_strong(expected, serving);
        continue;
      }
      client.stopCycling();
      client.server_.compare_exchange_strong(expected, gone);
    }
    const timespec pause{0, 500'000'000};
    nanosleep(&pause, nullptr);
    if (!client.reopening_) return nullptr;
    jack_status_t status{};
    jack_client_t* fresh = jack_client_open(client.name_.c_str(), JackNoStartServer, &status);
    if (fresh != nullptr && !client.rejoin(fresh)) jack_client_close(fresh);
  }
  return nullptr;
}

// Gives every endpoint its port again, under the same short name, and publishes its name,
// unique ID and manufacturer again; then the new client starts cycling.
bool Client::rejoin(jack_client_t* fresh) {
  std::lock_guard control(control_);
  if (closed_) return false;
  std::vector<std::pair<Endpoint*, jack_port_t*>> ports;
  for (std::size_t slot = 0; slot < liveCount_; ++slot) {
    Endpoint* endpoint = live_[slot].load();
    if (endpoint == nullptr) continue;
    const bool isSource = endpoint->kind == Endpoint::Kind::source;
    jack_port_t* port =
        jack_port_register(fresh, endpoint->portName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                           isSource ? JackPortIsOutput : JackPortIsInput, 0);
    if (port == nullptr) return false;
    ports.emplace_back(endpoint, port);
  }
  gone_.push_back(jack_.exchange(fresh));
  for (const auto& [endpoint, port] : ports) {
    endpoint->port = port;
    if (!endpoint->name.empty()) metadata::publishName(fresh, port, endpoint->name);
    if (endpoint->uniqueID != 0) metadata::publishUniqueID(fresh, port, endpoint->uniqueID);
    if (!endpoint->manufacturer.empty()) {
      metadata::publishManufacturer(fresh, port, endpoint->manufacturer);
    }
  }
  // Serving from here on, unless the client is being closed; should the new server go at once,
  // its callbacks say so again.
  int expected = gone;
  server_.compare_exchange_strong(expected, serving);
  cycling_ = true;
  if (activate()) return true;
  // Not this time: the next attempt starts again from a client of its own.
  stopCycling();
  expected = serving;
  server_.compare_exchange_strong(expected, gone);
  return true;
}

void* Client::read(void* self) {
  auto& client = *static_cast<Client*>(self);
  for (;;) {
    const unsigned seen = client.arrivals_.load();  // before the check, so no wake-up is missed
    if (!client.reading_) return nullptr;
    client.deliverAll();
    client.arrivals_.wait(seen);
  }
}

void Client::deliverAll() {
  std::lock_guard delivering(delivering_);
  const std::size_t count = liveCount_.load();
  for (std::size_t slot = 0; slot < count; ++slot) {
    Endpoint* endpoint = live_[slot].load();
    if (endpoint != nullptr && endpoint->kind == Endpoint::Kind::destination) deliver(*endpoint);
  }
}

// Each record becomes one packet list.
void Client::deliver(Endpoint& destination) {
  PeriodHeader period{};
  while (!destination.disposed && destination.queue.peek(&period, sizeof period)) {
    period_.resize(period.bytes);
    destination.queue.take(period_.data(), period.bytes);
    const MIDIPacketList* list = packetListOf(period_.data(), list_);
    if (destination.readProc != nullptr) destination.readProc(list, destination.refCon, nullptr);
  }
}

}  // namespace coremidi
