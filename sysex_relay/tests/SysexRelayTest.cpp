#include <gtest/gtest.h>

#include <string>

#include "RelaySession.h"

namespace quav::sysex {
namespace {

TEST(SysexRelayTest, EmptyInputEndsWithStatusZeroAfterTheReadyMessage) {
  testing::JackServer server;
  const auto run = testing::runToEnd({relayPath}, "", server.environment());
  EXPECT_EQ(run.ending.exitCode, 0);
  EXPECT_EQ(run.error, readyMessage);
  EXPECT_EQ(run.output, "");
}

TEST(SysexRelayTest, WithoutMidiServerItSaysSoAndEndsWithStatusOne) {
  const auto run =
      testing::runToEnd({relayPath}, "", testing::JackServer::environmentWithoutServer());
  EXPECT_EQ(run.ending.exitCode, 1);
  EXPECT_EQ(run.error, "Could not open local MIDI connection.\n");
  EXPECT_EQ(run.output, "");
}

TEST(SysexRelayTest, ReaderThreadThatCannotStartEndsTheRelayWithStatusOne) {
  testing::JackServer server;
  // A stack limit of 1 TiB becomes the default stack of new threads, which cannot be mapped.
  const auto run = testing::runToEnd({"/usr/bin/prlimit", "--stack=1099511627776", relayPath},
                                     "f07d5155415601f7\n", server.environment());
  EXPECT_EQ(run.ending.exitCode, 1);
  EXPECT_EQ(run.error, "Could not start reading standard input.\n");
  const auto ports = testing::runToEnd({"/usr/bin/jack_lsp"}, "", server.environment());
  EXPECT_EQ(ports.output.find("QUAV Tonvex"), std::string::npos) << ports.output;
}

struct Accepted {
  std::string name;
  std::string line;
  std::string sent;  // what leaves the source, as the peer prints it
};

TEST(SysexRelayTest, EachAcceptedLineLeavesTheSourceAsOnePacket) {
  const std::string longest = signedMessage(2048, 5);
  const std::vector<Accepted> cases = {
      {"line feed", "f07d51554156011234f7\n", "f07d51554156011234f7"},
      {"carriage return and line feed", "f07d51554156011234f7\r\n", "f07d51554156011234f7"},
      {"upper case", "F07D51554156011234F7\n", "f07d51554156011234f7"},
      {"mixed case, shortest message", "f07D5155415601F7\n", "f07d5155415601f7"},
      {"4096 digits", longest + "\n", longest},
      {"text after the carriage return", "f07d5155415601f7\rnot looked at\n", "f07d5155415601f7"},
      // "%2x" stops at the first character that is no hex digit: "1g" is 01.
      {"pair with one hex digit", "f07d51554156011gf7\n", "f07d515541560101f7"},
  };
  RelaySession session;
  for (const auto& accepted : cases) {
    EXPECT_EQ(session.relayToPeer(accepted.line), accepted.sent + "\n") << accepted.name;
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

TEST(SysexRelayTest, LineLongerThanTheLineBufferIsJudgedInPieces) {
  // The first 8191 characters are one piece, too long; the rest is a valid line of its own.
  const std::string rest = "f07d51554156012af7";
  RelaySession session;
  EXPECT_EQ(session.relayToPeer(std::string(8191, 'a') + rest + "\n"), rest + "\n");
  EXPECT_EQ(session.finish()->exitCode, 0);
}

struct Received {
  std::string name;
  std::string peerInput;
  std::string printed;
};

TEST(SysexRelayTest, EachPacketListAtTheDestinationBecomesOneLine) {
  const std::string longest = signedMessage(2048, 9);
  const std::vector<Received> cases = {
      {"note", "903c40\n", "903c40"},
      {"two messages in one packet", "B00F00B02F46\n", "b00f00b02f46"},
      {"unsigned SysEx", "f07e7f0601f7\n", "f07e7f0601f7"},
      {"signed SysEx of 2048 bytes", longest + "\n", longest},
      // Sent in the same period, the two events reach the relay as one list of two packets.
      {"two packets in one list", "903c40|803c00\n", "903c40803c00"},
  };
  RelaySession session;
  for (const auto& received : cases) {
    EXPECT_EQ(session.peerToRelay(received.peerInput), received.printed + "\n") << received.name;
  }
  EXPECT_EQ(session.finish()->exitCode, 0);
}

TEST(SysexRelayTest, BothDirectionsRunAtOnce) {
  RelaySession session;
  std::string lines, printed;
  for (unsigned index = 0; index < 50; ++index) {
    lines += signedMessage(64, index) + "\n";
    printed += signedMessage(64, index) + "\n";
  }
  session.peer().write(lines);
  EXPECT_EQ(session.relayToPeer(lines, 50), printed);
  // Lines from one period run together into one packet list; the bytes and their order stay.
  std::string expected = printed;
  std::erase(expected, '\n');
  const auto withoutLineFeeds = [](std::string text) {
    std::erase(text, '\n');
    return text;
  };
  EXPECT_TRUE(session.relay().waitUntil([&](const std::string& out, const std::string&) {
    return withoutLineFeeds(out).size() >= expected.size();
  }));
  EXPECT_EQ(withoutLineFeeds(session.relay().standardOutput()), expected);
  EXPECT_EQ(session.finish()->exitCode, 0);
}

}  // namespace
}  // namespace quav::sysex
