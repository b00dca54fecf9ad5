// One MIDI client: one JACK client whose ports are the client's virtual endpoints.
//
// The JACK process callback only copies: packets that MIDIReceived queued for a source go
// into the source's port buffer, and each event at a destination's port goes into the
// destination's queue as a record of its own. An ordinary thread of the client, woken by the
// process callback, turns each record into a MIDIPacketList for the destination's read
// procedure.
//
// When the server goes, sends fail until it is back; a thread of the client then opens a new
// JACK client under the same name and gives every endpoint its port again, with the same name,
// unique ID and manufacturer.
#pragma once

#include <CoreMIDI/CoreMIDI.h>
#include <jack/jack.h>
#include <pthread.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Ring.h"

namespace coremidi {

// Apple's status for a missing or malformed argument.
inline constexpr OSStatus kParamErr = -50;

struct Endpoint {
  enum class Kind { source, destination };

  Endpoint(Kind kind, MIDIObjectRef ref, jack_port_t* port, std::string portName, std::size_t slot,
           MIDIReadProc readProc, void* refCon);

  const Kind kind;
  const MIDIObjectRef ref;
  // Replaced, under the client's control mutex, when the client joins a restarted server.
  std::atomic<jack_port_t*> port;
  const std::string portName;  // the port's short name, the same on every server
  const std::size_t slot;      // its place among the ports the process callback serves
  const MIDIReadProc readProc;
  void* const refCon;

  // Sources: packets waiting for the process callback. Destinations: one record per event
  // waiting for the read thread.
  Ring queue;
  std::mutex sending;  // one MIDIReceived at a time writes a source's queue
  std::atomic<bool> disposed{false};

  // Set under the client's control mutex (the ID also under the layer's identity lock), and
  // published again on a restarted server.
  MIDIUniqueID uniqueID = 0;
  std::string name, manufacturer;
};

class Client {
 public:
  // Opens the JACK client, never starting a server; null with the reason in `status`.
  static std::shared_ptr<Client> open(const char* name, OSStatus& status);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  Endpoint* addEndpoint(Endpoint::Kind kind, MIDIObjectRef ref, MIDIReadProc readProc, void* refCon,
                        OSStatus& status);
  OSStatus send(Endpoint& source, const MIDIPacketList* list);
  void publishName(Endpoint& endpoint, const std::string& name);
  void setManufacturer(Endpoint& endpoint, const std::string& text);
  // The caller has made sure that no other endpoint holds the ID.
  void setUniqueID(Endpoint& endpoint, MIDIUniqueID id);
  // Waits until a source's queued packets have gone out, and until no process cycle or read
  // procedure can still reach the endpoint. Its port is disconnected, and goes with the client.
  void dispose(Endpoint& endpoint);
  // Sends what the sources still hold, then closes the JACK client and its ports.
  void close();
  // For the end of the process when the client was not disposed: leaves no client behind in
  // the server, which in synchronous mode would wait for it. Later calls find their endpoints
  // gone.
  void abandon();

  bool onReadThread() const;
  jack_client_t* jack() const { return jack_; }

 private:
  Client(jack_client_t* jack, std::string name);
  bool activate();
  bool startThreads();

  static int process(jack_nframes_t frames, void* self);
  static void shutdown(jack_status_t code, const char* reason, void* self);
  static void maybeShutdown(void* self);
  bool stillCycling();
  static void* read(void* self);
  static void* reopen(void* self);
  bool rejoin(jack_client_t* fresh);

  void emit(Endpoint& source, void* buffer);
  bool collect(Endpoint& destination, void* buffer, MIDITimeStamp now);
  void deliver(Endpoint& destination);
  void deliverAll();

  void waitCycles(unsigned count);
  bool waitForRoom(Endpoint& source, std::size_t bytes);
  void drain(Endpoint& source);
  void unpublish(Endpoint& endpoint);
  void stopCycling();

  static constexpr std::size_t kMaxEndpoints = 256;

  std::atomic<jack_client_t*> jack_;
  const std::string name_;  // the JACK client's name
  // Clients of servers that have gone, never closed: another thread may still hold one's
  // pointer, and libjack crashes closing one once the process has a client of the new server.
  std::vector<jack_client_t*> gone_;
  std::mutex control_;   // endpoint creation and disposal, names and properties
  bool closed_ = false;  // under control_: the JACK client is closed, or being closed
  std::vector<std::unique_ptr<Endpoint>> endpoints_;          // kept until the client goes away
  std::array<std::atomic<Endpoint*>, kMaxEndpoints> live_{};  // what the process callback serves
  std::atomic<std::size_t> liveCount_{0};
  std::size_t sources_ = 0;
  std::size_t destinations_ = 0;

  std::atomic<bool> cycling_{true};    // false once the process callback will not run again
  std::atomic<unsigned> cycles_{0};    // completed process cycles
  std::atomic<unsigned> arrivals_{0};  // process cycles that brought events for the read thread
  std::atomic<std::uint32_t> largestEvent_{0};  // what an empty port buffer holds, 0 until known

  pthread_t reader_{};
  std::atomic<bool> reading_{true};
  pthread_t reopener_{};
  enum Server { serving, maybeGone, gone, closing };
  std::atomic<int> server_{serving};
  std::atomic<bool> reopening_{true};
  std::mutex delivering_;  // held while a read procedure runs
  std::vector<std::uint8_t> period_;
  std::vector<std::uint64_t> list_;  // MIDIPacketList storage, 8-byte aligned
};

}  // namespace coremidi
