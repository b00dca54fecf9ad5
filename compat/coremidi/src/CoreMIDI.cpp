// The CoreMIDI functions: object references, properties and their checks, over Client.
#include <CoreMIDI/CoreMIDI.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <unordered_map>

#include "Client.h"
#include "Metadata.h"
#include "ProcessEnd.h"

extern "C" const CFStringRef kMIDIPropertyManufacturer = CFSTR("manufacturer");
extern "C" const CFStringRef kMIDIPropertyUniqueID = CFSTR("uniqueID");

namespace {

using coremidi::Client;
using coremidi::Endpoint;

struct Object {
  std::shared_ptr<Client> client;  // keeps the client, and so the endpoint, alive while in use
  Endpoint* endpoint = nullptr;    // null for the client itself
};

// The objects that exist, by reference. Never destroyed: the process may end while other
// threads still use them.
class Registry {
 public:
  MIDIObjectRef reserve() {
    std::lock_guard lock(mutex_);
    return next_++;
  }
  void add(MIDIObjectRef ref, Object object) {
    std::lock_guard lock(mutex_);
    objects_.emplace(ref, std::move(object));
  }
  Object find(MIDIObjectRef ref) {
    std::lock_guard lock(mutex_);
    const auto found = objects_.find(ref);
    return found == objects_.end() ? Object{} : found->second;
  }
  void remove(MIDIObjectRef ref) {
    std::lock_guard lock(mutex_);
    objects_.erase(ref);
  }
  void removeClient(const Client* client) {
    std::lock_guard lock(mutex_);
    std::erase_if(objects_, [&](const auto& entry) { return entry.second.client.get() == client; });
  }
  std::vector<std::shared_ptr<Client>> clients() {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Client>> found;
    for (const auto& [ref, object] : objects_) {
      if (object.endpoint == nullptr) found.push_back(object.client);
    }
    return found;
  }
  // Whether an endpoint of this process other than `except` holds the ID.
  bool holds(MIDIUniqueID id, const Endpoint* except) {
    std::lock_guard lock(mutex_);
    for (const auto& [ref, object] : objects_) {
      if (object.endpoint != nullptr && object.endpoint != except &&
          object.endpoint->uniqueID == id) {
        return true;
      }
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<MIDIObjectRef, Object> objects_;
  MIDIObjectRef next_ = 0x10000;
};

Registry& registry() {
  static auto* objects = new Registry;
  return *objects;
}

// Checking that an ID is free and taking it is one step for the threads of this process.
std::mutex identities;

bool isTaken(Client& client, MIDIUniqueID id, const Endpoint& endpoint) {
  return registry().holds(id, &endpoint) ||
         coremidi::metadata::isTaken(client.jack(), id, endpoint.port);
}

// A property that the server cannot keep is not reported as set: an ID that no other process
// can see would not be unique, and one that another process holds would go unseen.
bool stored(Client& client, const Endpoint& endpoint) {
  return coremidi::metadata::isStored(client.jack(), endpoint.port);
}

// Like CoreMIDI, a new endpoint gets a random unique ID that no other endpoint holds.
void assignUniqueID(Client& client, Endpoint& endpoint) {
  static std::mt19937 random{std::random_device{}()};
  std::lock_guard lock(identities);
  MIDIUniqueID id = 0;
  do {
    id = static_cast<MIDIUniqueID>(random());
  } while (id == 0 || isTaken(client, id, endpoint));
  client.setUniqueID(endpoint, id);
}

// A process that ends without disposing its clients, at exit or by a signal such as Ctrl-C,
// still leaves none behind in the server.
void abandonClients() {
  for (const auto& client : registry().clients()) client->abandon();
}

bool same(CFStringRef left, CFStringRef right) {
  return left != nullptr && std::strcmp(reinterpret_cast<const char*>(left),
                                        reinterpret_cast<const char*>(right)) == 0;
}

const char* textOf(CFStringRef string) {
  return reinterpret_cast<const char*>(string);
}

OSStatus createEndpoint(MIDIClientRef clientRef, CFStringRef name, Endpoint::Kind kind,
                        MIDIReadProc readProc, void* refCon, MIDIEndpointRef* out) {
  if (name == nullptr || out == nullptr) return coremidi::kParamErr;
  const Object owner = registry().find(clientRef);
  if (owner.client == nullptr || owner.endpoint != nullptr) return kMIDIInvalidClient;
  try {
    const MIDIObjectRef ref = registry().reserve();
    OSStatus status = noErr;
    Endpoint* endpoint = owner.client->addEndpoint(kind, ref, readProc, refCon, status);
    if (endpoint == nullptr) return status;
    owner.client->publishName(*endpoint, textOf(name));
    assignUniqueID(*owner.client, *endpoint);
    registry().add(ref, Object{owner.client, endpoint});
    *out = ref;
    return noErr;
  } catch (const std::bad_alloc&) {
    return kMIDIUnknownError;
  }
}

}  // namespace

extern "C" OSStatus MIDIClientCreate(CFStringRef name, MIDINotifyProc, void*,
                                     MIDIClientRef* outClient) {
  if (outClient == nullptr) return coremidi::kParamErr;
  coremidi::closeClientsOnTheWayOut(abandonClients);
  try {
    OSStatus status = noErr;
    auto client = Client::open(textOf(name), status);
    if (client == nullptr) return status;
    const MIDIObjectRef ref = registry().reserve();
    registry().add(ref, Object{std::move(client), nullptr});
    *outClient = ref;
    return noErr;
  } catch (const std::bad_alloc&) {
    return kMIDIUnknownError;
  }
}

extern "C" OSStatus MIDIClientDispose(MIDIClientRef client) {
  const Object object = registry().find(client);
  if (object.client == nullptr || object.endpoint != nullptr) return kMIDIInvalidClient;
  // Its read thread cannot wait for its own end.
  if (object.client->onReadThread()) return kMIDIWrongThread;
  registry().removeClient(object.client.get());
  object.client->close();
  return noErr;
}

extern "C" OSStatus MIDISourceCreate(MIDIClientRef client, CFStringRef name,
                                     MIDIEndpointRef* outSrc) {
  return createEndpoint(client, name, Endpoint::Kind::source, nullptr, nullptr, outSrc);
}

extern "C" OSStatus MIDIDestinationCreate(MIDIClientRef client, CFStringRef name,
                                          MIDIReadProc readProc, void* refCon,
                                          MIDIEndpointRef* outDest) {
  return createEndpoint(client, name, Endpoint::Kind::destination, readProc, refCon, outDest);
}

extern "C" OSStatus MIDIEndpointDispose(MIDIEndpointRef endpt) {
  const Object object = registry().find(endpt);
  if (object.endpoint == nullptr) return kMIDIObjectNotFound;
  registry().remove(endpt);
  object.client->dispose(*object.endpoint);
  return noErr;
}

extern "C" OSStatus MIDIObjectSetIntegerProperty(MIDIObjectRef obj, CFStringRef propertyID,
                                                 SInt32 value) {
  const Object object = registry().find(obj);
  if (object.client == nullptr) return kMIDIObjectNotFound;
  if (!same(propertyID, kMIDIPropertyUniqueID) || object.endpoint == nullptr) {
    return kMIDIUnknownProperty;
  }
  std::lock_guard lock(identities);
  if (!stored(*object.client, *object.endpoint)) return kMIDIUnknownError;
  if (isTaken(*object.client, value, *object.endpoint)) return kMIDIIDNotUnique;
  object.client->setUniqueID(*object.endpoint, value);
  return noErr;
}

extern "C" OSStatus MIDIObjectSetStringProperty(MIDIObjectRef obj, CFStringRef propertyID,
                                                CFStringRef str) {
  const Object object = registry().find(obj);
  if (object.client == nullptr) return kMIDIObjectNotFound;
  if (str == nullptr) return coremidi::kParamErr;
  if (object.endpoint == nullptr || !same(propertyID, kMIDIPropertyManufacturer)) {
    return kMIDIUnknownProperty;
  }
  if (!stored(*object.client, *object.endpoint)) return kMIDIUnknownError;
  try {
    object.client->setManufacturer(*object.endpoint, textOf(str));
    return noErr;
  } catch (const std::bad_alloc&) {
    return kMIDIUnknownError;
  }
}

extern "C" OSStatus MIDIReceived(MIDIEndpointRef src, const MIDIPacketList* pktlist) {
  const Object object = registry().find(src);
  if (object.endpoint == nullptr) return kMIDIObjectNotFound;
  if (object.endpoint->kind != Endpoint::Kind::source) return kMIDIWrongEndpointType;
  return object.client->send(*object.endpoint, pktlist);
}
