#include <gtest/gtest.h>
#include <jack/metadata.h>

#include "ChildProcess.h"
#include "JackServer.h"
#include "LayerSession.h"

namespace coremidi::testing {
namespace {

// The server removes the ports of a client that vanished, but not their metadata, and in
// synchronous mode it first waits for the vanished client's cycle. The layer closes what is
// left when the process ends.
TEST(ExitTest, ClientsLeftOpenAreClosedWhenTheProcessEnds) {
  quav::testing::JackServer server;
  quav::testing::ChildProcess program({EXIT_WITHOUT_DISPOSING_PATH}, server.environment());
  ASSERT_TRUE(program.waitForOutput("ready\n"));
  useServer(server.environment());
  PatchBay bay;
  const std::string port = bay.onlyPortWithAlias("Layer Exit", true);
  const jack_uuid_t subject = bay.uuid(port);
  // jackd keeps metadata in one store per user and deletes it when any server exits.
  if (bay.property(port, JACK_METADATA_PRETTY_NAME) != "Layer Exit") {
    GTEST_SKIP() << "another JACK server of this user reset the metadata store";
  }

  program.closeInput();
  const auto ending = program.waitForEnd();
  ASSERT_TRUE(ending);
  EXPECT_EQ(ending->exitCode, 0);
  EXPECT_FALSE(bay.exists(port));
  EXPECT_FALSE(bay.hasProperty(subject, JACK_METADATA_PRETTY_NAME));
}

}  // namespace
}  // namespace coremidi::testing
