#include "Address.h"

#include <gtest/gtest.h>

namespace quav::lab {
namespace {

TEST(LabAddress, IsTheLoopbackAddressWithThePortAndARootPath) {
  EXPECT_EQ(labAddress(8080), "http://127.0.0.1:8080/");
  EXPECT_EQ(labAddress(65535), "http://127.0.0.1:65535/");
}

struct HostCase {
  std::string_view host;
  bool announced;
  friend void PrintTo(const HostCase& host, std::ostream* out) { *out << "'" << host.host << "'"; }
};

class AnnouncedHost : public ::testing::TestWithParam<HostCase> {};

TEST_P(AnnouncedHost, OnlyTheExactLoopbackAddressAndPortPass) {
  EXPECT_EQ(isAnnouncedHost(GetParam().host, 8080), GetParam().announced) << GetParam().host;
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, AnnouncedHost,
    ::testing::Values(HostCase{"127.0.0.1:8080", true}, HostCase{"localhost:8080", false},
                      HostCase{"rebound.example:8080", false}, HostCase{"127.0.0.1", false},
                      HostCase{"127.0.0.1:8081", false}, HostCase{"127.0.0.1:80800", false},
                      HostCase{"127.0.0.1:08080", false}, HostCase{"127.0.0.2:8080", false},
                      HostCase{"[::1]:8080", false}, HostCase{"127.0.0.1:8080.", false},
                      HostCase{" 127.0.0.1:8080", false}, HostCase{"", false}));

}  // namespace
}  // namespace quav::lab
