// End to end: the real relay on a private JACK server, played against by midi_peer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <sstream>

#include "RelayWithPeer.h"

namespace quav::surface {
namespace {

using namespace std::chrono_literals;
using testing::JackServer;

const std::string relayPath = SURFACE_RELAY_PATH;
const std::string startupLines =
    "MIDIClientCreate status=0\n"
    "MIDISourceCreate status=0\n"
    "MIDIDestinationCreate status=0\n"
    "SetSourceID status=0\n"
    "SetDestinationID status=0\n";
const std::string readyMessage =
    "QUAV Pro Tools Test ports ready (heartbeats and DSP controls only).\n";
const std::string modeSent = "b00f1cb02f40\nb00f1cb02f00\n";

// What the relay logs for a command line read as `line`.
std::string logged(const std::string& line, int status) {
  return "navigation=" + line + "status=" + std::to_string(status) + "\n";
}

std::string repeated(std::string_view line, int count) {
  std::string lines;
  for (int index = 0; index < count; ++index) lines += line;
  return lines;
}

std::string_view since(const std::string& text, size_t offset) {
  return std::string_view(text).substr(std::min(offset, text.size()));
}

// What a batch of commands made the relay do.
struct Exchange {
  std::string sent;  // the hex lines that reached the peer, in order
  std::string log;   // what the relay wrote to standard error
};

class RelaySession : public testing::RelayWithPeer {
 public:
  RelaySession()
      : RelayWithPeer(relayPath, readyMessage, MIDI_PEER_PATH, "QUAV Pro Tools Test"),
        logSeen_(relay().standardError().size()) {}

  // Writes the commands and then a sentinel command; once the sentinel has been handled,
  // everything before it has been too. Returns what happened since the previous exchange,
  // without the sentinel's own traces.
  Exchange exchange(std::string_view commands) {
    static constexpr std::string_view sentinel = "knob:4:-:63\n";
    static constexpr std::string_view sentinelSent = "b04b3f\n";
    static constexpr std::string_view sentinelLog = "navigation=knob:4:-\nstatus=0\n";
    relay().write(commands);
    relay().write(sentinel);
    const bool handled = relay().waitUntil([&](const std::string&, const std::string& err) {
      return since(err, logSeen_).ends_with(sentinelLog);
    });
    const bool arrived = peer().waitUntil([&](const std::string& out, const std::string&) {
      return since(out, sentSeen_).ends_with(sentinelSent);
    });
    const std::string sent(since(peer().standardOutput(), sentSeen_));
    const std::string log(since(relay().standardError(), logSeen_));
    EXPECT_TRUE(handled && arrived) << "sentinel not seen; sent:\n" << sent << "log:\n" << log;
    sentSeen_ += sent.size();
    logSeen_ += log.size();
    return {sent.substr(0, sent.size() - (arrived ? sentinelSent.size() : 0)),
            log.substr(0, log.size() - (handled ? sentinelLog.size() : 0))};
  }

 private:
  size_t sentSeen_ = 0;
  size_t logSeen_;
};

struct Case {
  std::string command;
  std::string sent;
  std::string log;
};

Case noCommand(const std::string& line) {
  return {line, "", logged(line, -1)};
}

TEST(SurfaceRelay, EachLineSendsItsBytesAndIsLogged) {
  const std::string x63(63, 'x');
  const std::vector<Case> cases = {
      {"insert:1\n", "b00f00b02f46\nb00f00b02f06\n", logged("insert:1\n", 0)},
      {"insert:8\n", "b00f07b02f46\nb00f07b02f06\n", logged("insert:8\n", 0)},
      {"select:1\n", "b00f1cb02f42\nb00f1cb02f02\n", logged("select:1\n", 0)},
      {"select:4\n", "b00f1cb02f45\nb00f1cb02f05\n", logged("select:4\n", 0)},
      {"mode\n", modeSent, logged("mode\n", 0)},
      {"assign\n", "b00f1cb02f41\nb00f1cb02f01\n", logged("assign\n", 0)},
      // Commands waiting during the hold follow the release.
      {"auto-status\nmode\n", "b00f19b02f42\nb00f19b02f02\n" + modeSent,
       logged("auto-status\n", 0) + logged("mode\n", 0)},
      {"knob:1:+\n", "b04841\n", logged("knob:1:+\n", 0)},
      {"knob:4:-\n", "b04b01\n", logged("knob:4:-\n", 0)},
      {"knob:2:+:10\n", "b0494a\n", logged("knob:2:+\n", 0)},
      {"knob:3:-:07\n", "b04a07\n", logged("knob:3:-\n", 0)},
      {"knob:1:-:1\n", "b04801\n", logged("knob:1:-\n", 0)},
      {"page:+\n", "b04c41\n", logged("page:+\n", 0)},
      {"page:-\n", "b04c01\n", logged("page:-\n", 0)},
      {"page:-:3\n", "b04c03\n", logged("page:-\n", 0)},
      {"page:+:63\n", "b04c7f\n", logged("page:+\n", 0)},
      {"page:-:63\n", "b04c3f\n", logged("page:-\n", 0)},
      noCommand("insert:0\n"),
      noCommand("insert:9\n"),
      noCommand("insert:10\n"),
      noCommand("select:0\n"),
      noCommand("select:5\n"),
      noCommand("knob:5:+\n"),
      noCommand("knob:0:-\n"),
      noCommand("knob:1:*\n"),
      noCommand("page:*\n"),
      // The count is taken off before matching, so the log shows the line without it.
      {"knob:9:+:5\n", "", logged("knob:9:+\n", -1)},
      {"page:7\n", "", logged("page\n", -1)},
      // A count only counts after the last colon and only on knob and page lines.
      noCommand("knob:2:+:x\n"),
      noCommand("mode:3\n"),
      {"page:+:1:2\n", "", logged("page:+:1\n", -1)},
      // Near misses, heartbeats included.
      noCommand("mode\r\n"),
      noCommand("mode \n"),
      noCommand(" mode\n"),
      noCommand("MODE\n"),
      noCommand("Mode\n"),
      noCommand("90007F\n"),
      noCommand("90007f\r\n"),
      noCommand("90007f \n"),
      noCommand("insert:1 \n"),
      noCommand("auto-status\r\n"),
      noCommand("\n"),
      noCommand("hello\n"),
      // Unusable counts drop the line silently.
      {"knob:2:+:0\n", "", ""},
      {"knob:2:+:64\n", "", ""},
      {"page:+:00\n", "", ""},
      {"page:-:3x\n", "", ""},
      {"page:-:3 \n", "", ""},
      {"knob:1:+:5\r\n", "", ""},
      {"knob:1:+:99999999999999999999\n", "", ""},
      // The digit after the first colon reads as a count that is not followed by the line feed.
      {"knob:1+\n", "", ""},
      // Long lines are read in pieces of 63 characters, each a line by itself.
      {x63 + "xxxxxxx\n", "", logged(x63, -1) + logged("xxxxxxx\n", -1)},
      {x63 + "\n", "", logged(x63, -1) + logged("\n", -1)},
      noCommand(std::string(62, 'x') + "\n"),
      {x63 + "mode\n", modeSent, logged(x63, -1) + logged("mode\n", 0)},
  };
  RelaySession session;
  for (const auto& [command, sent, log] : cases) {
    SCOPED_TRACE(command);
    const auto result = session.exchange(command);
    EXPECT_EQ(result.sent, sent);
    EXPECT_EQ(result.log, log);
  }
}

TEST(SurfaceRelay, AutoStatusHoldsItsSwitchWhileHostPacketsAreStillPrinted) {
  const std::string press = "b00f19b02f42\n";
  const std::string release = "b00f19b02f02\n";
  RelaySession session;
  session.relay().write("auto-status\n");
  ASSERT_TRUE(session.peer().waitForOutput(press));
  const auto pressed = std::chrono::steady_clock::now();

  session.peer().write("900000\n");
  ASSERT_TRUE(session.relay().waitForOutput("900000\n"));
  EXPECT_EQ(session.peer().standardOutput().find(release), std::string::npos)
      << "the host's packet was printed only after the release";

  ASSERT_TRUE(session.peer().waitForOutput(release));
  const auto released = std::chrono::steady_clock::now();
  // JACK hands MIDI on once per period (256 frames at 48 kHz, 5.3 ms), so two arrivals can lie
  // up to a period closer together than their sending did.
  EXPECT_GE(released - pressed, 740ms);
  EXPECT_EQ(session.peer().standardOutput(), press + release);
  EXPECT_EQ(session.relay().standardOutput(), "900000\n");
  EXPECT_TRUE(session.relay().waitForError(logged("auto-status\n", 0)));
}

TEST(SurfaceRelay, EveryHostPacketBecomesOneHexLineInOrder) {
  const std::string packets = "900000\n903c64\nb00f1cb02f40\nf07e7f0601f7\n";
  RelaySession session;
  session.peer().write(packets);
  // Events on one peer line leave in the same period and arrive as one packet list.
  session.peer().write("900000|903c64|b00f1cb02f40\n");
  const std::string printed = packets + "900000\n903c64\nb00f1cb02f40\n";
  EXPECT_TRUE(session.relay().waitForOutput(printed)) << session.relay().standardOutput();
  EXPECT_EQ(session.relay().standardOutput(), printed);
}

std::string attempt(int number, int status) {
  return "heartbeatReplyAttempt=" + std::to_string(number) +
         " MIDIReceivedStatus=" + std::to_string(status) + "\n";
}

TEST(SurfaceRelay, HeartbeatRepliesAreLoggedAtTheFirstAndEveryTwentiethAttempt) {
  RelaySession session;
  auto result = session.exchange("90007f\n");
  EXPECT_EQ(result.sent, "90007f\n");
  EXPECT_EQ(result.log, attempt(1, 0));

  result = session.exchange(repeated("90007f\n", 18));
  EXPECT_EQ(result.sent, repeated("90007f\n", 18));
  EXPECT_EQ(result.log, "");

  // Navigation commands in between do not count as attempts.
  result = session.exchange("mode\n90007f\n");
  EXPECT_EQ(result.sent, modeSent + "90007f\n");
  EXPECT_EQ(result.log, logged("mode\n", 0) + attempt(20, 0));

  result = session.exchange(repeated("90007f\n", 20));
  EXPECT_EQ(result.sent, repeated("90007f\n", 20));
  EXPECT_EQ(result.log, attempt(40, 0));
}

// Once the MIDI server has gone, nothing takes the queued packets any more, and when the
// source's queue is full every further reply fails.
TEST(SurfaceRelay, EveryFailedHeartbeatReplyIsLogged) {
  constexpr int serverGone = -10839;  // kMIDIServerStartErr
  std::optional<JackServer> server(std::in_place);
  testing::ChildProcess relay({relayPath}, server->environment());
  ASSERT_TRUE(relay.waitForError(readyMessage)) << relay.standardError();
  server.reset();

  constexpr int batch = 10000;
  int sent = 0;
  while (sent < 20 * batch &&
         relay.standardError().find("MIDIReceivedStatus=-") == std::string::npos) {
    relay.write(repeated("90007f\n", batch));
    sent += batch;
    // Every twentieth attempt is logged, failed or not.
    ASSERT_TRUE(relay.waitForError("heartbeatReplyAttempt=" + std::to_string(sent) + " ", 60s));
  }
  relay.closeInput();
  const auto ending = relay.waitForEnd(30s);
  ASSERT_TRUE(ending.has_value());
  EXPECT_EQ(ending->exitCode, 0);

  int firstFailure = 0;
  int previous = 0;
  std::istringstream log(relay.standardError());
  for (std::string line; std::getline(log, line);) {
    int number = 0;
    int status = 0;
    if (std::sscanf(line.c_str(), "heartbeatReplyAttempt=%d MIDIReceivedStatus=%d", &number,
                    &status) != 2) {
      continue;
    }
    SCOPED_TRACE(line);
    if (firstFailure == 0 && status == 0) {
      EXPECT_TRUE(number == 1 || number % 20 == 0) << "a successful attempt logged out of turn";
    } else {
      if (firstFailure == 0) {
        firstFailure = number;
      } else {
        // Once the queue is full it stays full, so every attempt from here on fails.
        EXPECT_EQ(number, previous + 1) << "a failed attempt went unlogged";
      }
      EXPECT_EQ(status, serverGone);
    }
    previous = number;
  }
  EXPECT_GT(firstFailure, 1) << "no reply failed";
  EXPECT_EQ(previous, sent);
}

struct Exit {
  std::string input;
  std::vector<std::string> environment;
  int status;
  std::string error;
};

TEST(SurfaceRelay, EndOfInputOrNoServerEndsTheRun) {
  JackServer server;
  const auto jack = server.environment();
  const std::vector<Exit> runs = {
      {"", jack, 0, startupLines + readyMessage},
      // The count on a last line without a line feed is dropped.
      {"knob:1:+:5", jack, 0, startupLines + readyMessage},
      {"mode\n", JackServer::environmentWithoutServer(), 1, "MIDIClientCreate status=-10839\n"},
  };
  // The input ends before the main thread can have entered its run loop; the stop must not
  // be lost, so the relay ends each time instead of waiting forever.
  for (int round = 0; round < 3; ++round) {
    for (const auto& run : runs) {
      SCOPED_TRACE(run.input);
      const auto result = testing::runToEnd({relayPath}, run.input, run.environment, 15s);
      EXPECT_EQ(result.ending.exitCode, run.status);
      EXPECT_EQ(result.error, run.error);
      EXPECT_EQ(result.output, "");
    }
  }
}

TEST(SurfaceRelay, SecondCopyFindsTheUniqueIdTakenAndLeavesTheFirstServing) {
  RelaySession first;
  const auto second = testing::runToEnd({relayPath}, "", first.server().environment(), 15s);
  EXPECT_EQ(second.ending.exitCode, 1);
  EXPECT_EQ(second.error,
            "MIDIClientCreate status=0\n"
            "MIDISourceCreate status=0\n"
            "MIDIDestinationCreate status=0\n"
            "SetSourceID status=-10843\n");
  EXPECT_EQ(second.output, "");

  // The first serves on; what it sent before its input ended reaches the peer, and the last
  // line without a line feed is no command.
  first.relay().write("mode\nassign");
  EXPECT_EQ(first.finish()->exitCode, 0);
  EXPECT_TRUE(first.peer().waitForOutput(modeSent));
  EXPECT_EQ(first.peer().standardOutput(), modeSent);
  EXPECT_EQ(first.relay().standardError(),
            startupLines + readyMessage + logged("mode\n", 0) + "navigation=assignstatus=-1\n");
}

}  // namespace
}  // namespace quav::surface
