// End to end: the real relay on a private JACK server, with midi_peer playing the DAW.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "RelayWithPeer.h"

namespace quav::sysex {
namespace {

using namespace std::chrono_literals;
using testing::JackServer;

const std::string relayPath = SYSEX_RELAY_PATH;
const std::string readyMessage = "Local QUAV Tonvex MIDI endpoints ready.\n";

// A signed SysEx message of `bytes` bytes (at least 8) as lowercase hex; the body encodes `seed`.
std::string signedMessage(std::size_t bytes, unsigned seed = 0) {
  std::string hex = "f07d5155415601";
  for (std::size_t index = 7; index + 1 < bytes; ++index) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>((seed * 31 + index * 7) & 0x7F));
    hex += pair;
  }
  return hex + "f7";
}

class RelaySession : public testing::RelayWithPeer {
 public:
  RelaySession() : RelayWithPeer(relayPath, readyMessage, MIDI_PEER_PATH, "QUAV Tonvex") {}

  // Each writes to one side and returns the next `count` lines the other side prints, or
  // nothing if they do not come in time.
  std::optional<std::string> relayToPeer(std::string_view input, int count = 1) {
    relay().write(input);
    return nextLines(peer(), peerSeen_, count);
  }
  std::optional<std::string> peerToRelay(std::string_view input) {
    peer().write(input);
    return nextLines(relay(), relaySeen_, 1);
  }

 private:
  static std::optional<std::string> nextLines(testing::ChildProcess& child, std::size_t& seen,
                                              int count) {
    std::string lines;
    const bool complete = child.waitUntil(
        [&](const std::string& out, const std::string&) {
          std::size_t end = seen;
          for (int line = 0; line < count; ++line) {
            if ((end = out.find('\n', end)) == std::string::npos) return false;
            ++end;
          }
          lines = out.substr(seen, end - seen);
          return true;
        },
        20s);
    if (!complete) return std::nullopt;
    seen += lines.size();
    return lines;
  }

  std::size_t relaySeen_ = 0;
  std::size_t peerSeen_ = 0;
};

struct Exit {
  std::vector<std::string> argv;
  std::vector<std::string> environment;
  int status;
  std::string error;
};

TEST(SysexRelayTest, EmptyInputOrAFailedStartEndTheRunWithItsStatusAndMessage) {
  JackServer server;
  const auto jack = server.environment();
  const auto noJack = JackServer::environmentWithoutServer();
  // A stack limit of 1 TiB becomes the default stack of new threads, which cannot be mapped.
  const std::vector<std::string> noThreads = {"/usr/bin/prlimit", "--stack=1099511627776",
                                              relayPath};
  const std::vector<Exit> runs = {
      {{relayPath}, jack, 0, readyMessage},
      {{relayPath}, noJack, 1, "Could not open local MIDI connection.\n"},
      {noThreads, jack, 1, "Could not start reading standard input.\n"},
  };
  for (const auto& run : runs) {
    const auto result = testing::runToEnd(run.argv, "", run.environment);
    EXPECT_EQ(result.ending.exitCode, run.status) << run.error;
    EXPECT_EQ(result.error, run.error);
    EXPECT_EQ(result.output, "");
  }
  const auto ports = testing::runToEnd({"/usr/bin/jack_lsp"}, "", jack);
  EXPECT_EQ(ports.output.find("QUAV Tonvex"), std::string::npos) << ports.output;
}

struct Relayed {
  std::string name;
  std::string input;
  std::string printed;  // by the other side, without its line feed
};

TEST(SysexRelayTest, EachAcceptedLineLeavesTheSourceAsOnePacket) {
  const std::string longest = signedMessage(2048, 5);
  const std::string rest = "f07d51554156012af7";
  const std::vector<Relayed> cases = {
      {"line feed", "f07d51554156011234f7\n", "f07d51554156011234f7"},
      {"carriage return and line feed", "f07d51554156011234f7\r\n", "f07d51554156011234f7"},
      {"upper case", "F07D51554156011234F7\n", "f07d51554156011234f7"},
      {"mixed case, shortest message", "f07D5155415601F7\n", "f07d5155415601f7"},
      {"4096 digits", longest + "\n", longest},
      {"text after the carriage return", "f07d5155415601f7\rnot looked at\n", "f07d5155415601f7"},
      // "%2x" stops at the first character that is no hex digit: "1g" is 01.
      {"pair with one hex digit", "f07d51554156011gf7\n", "f07d515541560101f7"},
      // The first 8191 characters are one piece, too long; the rest is a line of its own.
      {"line longer than the line buffer", std::string(8191, 'a') + rest + "\n", rest},
  };
  RelaySession session;
  for (const auto& accepted : cases) {
    EXPECT_EQ(session.relayToPeer(accepted.input), accepted.printed + "\n") << accepted.name;
  }
  EXPECT_EQ(session.finish()->exitCode, 0);
}

TEST(SysexRelayTest, DroppedLinesLeaveNoTrace) {
  const std::string sentinel = "f07d51554156017ef7";
  const std::vector<std::pair<std::string, std::string>> dropped = {
      {"empty line", ""},
      {"fewer than 4 digits", "f07"},
      {"7 bytes", "f07d5155415601"},
      {"odd number of digits", "f07d5155415601f"},
      {"more than 4096 digits", signedMessage(2049)},
      {"another manufacturer", "f07e5155415601f7"},
      {"other signature letters", "f07d5155415701f7"},
      {"another seventh byte", "f07d5155415602f7"},
      {"last byte not F7", "f07d5155415601123400"},
      {"embedded F7", "f07d5155415601f734f7"},
      {"embedded F0", "f07d5155415601f034f7"},
      {"byte 80", "f07d51554156018034f7"},
      {"letters beyond F", "f07d5155415601ggf7"},
      {"pair starting with no hex digit", "f07d5155415601g1f7"},
      {"no hex at all", "hello, relay!"},
  };
  RelaySession session;
  for (const auto& [name, line] : dropped) {
    // The sentinel goes out after the line would have: only the sentinel may arrive.
    EXPECT_EQ(session.relayToPeer(line + "\n" + sentinel + "\n"), sentinel + "\n") << name;
  }
  EXPECT_EQ(session.finish()->exitCode, 0);
  EXPECT_EQ(session.relay().standardError(), readyMessage);
  EXPECT_EQ(session.relay().standardOutput(), "");
}

TEST(SysexRelayTest, EachPacketListAtTheDestinationBecomesOneLine) {
  const std::string longest = signedMessage(2048, 9);
  const std::vector<Relayed> cases = {
      {"note", "903c40\n", "903c40"},
      {"two messages in one packet", "B00F00B02F46\n", "b00f00b02f46"},
      {"unsigned SysEx", "f07e7f0601f7\n", "f07e7f0601f7"},
      {"signed SysEx of 2048 bytes", longest + "\n", longest},
      // Sent in the same period, the two events reach the relay as one list of two packets.
      {"two packets in one list", "903c40|803c00\n", "903c40803c00"},
  };
  RelaySession session;
  for (const auto& received : cases) {
    EXPECT_EQ(session.peerToRelay(received.input), received.printed + "\n") << received.name;
  }
  EXPECT_EQ(session.finish()->exitCode, 0);
}

TEST(SysexRelayTest, BothDirectionsRunAtOnce) {
  std::string lines;
  for (unsigned index = 0; index < 50; ++index) lines += signedMessage(64, index) + "\n";
  RelaySession session;
  session.peer().write(lines);
  EXPECT_EQ(session.relayToPeer(lines, 50), lines);
  // Lines from one period run together into one packet list; the bytes and their order stay.
  const auto bytes = [](std::string text) {
    std::erase(text, '\n');
    return text;
  };
  EXPECT_TRUE(session.relay().waitUntil([&](const std::string& out, const std::string&) {
    return bytes(out).size() >= bytes(lines).size();
  }));
  EXPECT_EQ(bytes(session.relay().standardOutput()), bytes(lines));
  EXPECT_EQ(session.finish()->exitCode, 0);
}

}  // namespace
}  // namespace quav::sysex
