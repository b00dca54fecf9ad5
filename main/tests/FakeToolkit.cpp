#include "FakeToolkit.h"

namespace quav::testing {

FakeApplication& sharedFakeApplication() {
  static FakeApplication application;
  return application;
}

}  // namespace quav::testing

namespace quav::toolkit {

Application& sharedApplication() {
  return testing::sharedFakeApplication();
}

}  // namespace quav::toolkit
