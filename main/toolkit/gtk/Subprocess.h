// The Lab server's process on Linux: GIO's GSubprocess, watched from the main loop.
#pragma once

#include <memory>

#include "Toolkit.h"

namespace quav::toolkit::gtk {

// What the main loop's callbacks reach, through weak references, once the child runs.
struct SubprocessWatch;

class Subprocess final : public ChildProcess {
 public:
  Subprocess() = default;
  // Stops watching the child; it keeps running until it is interrupted or the launcher ends
  // (the launcher never waits for the server).
  ~Subprocess() override;
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  void setExecutable(const std::filesystem::path& executable) override;
  void setArguments(const std::vector<std::string>& arguments) override;
  void setStandardOutputHandler(OutputHandler handler) override;
  void setStandardErrorToNullDevice() override;
  void setTerminationHandler(TerminationHandler handler) override;
  std::optional<LaunchError> launch() override;
  bool isRunning() const override;
  void interrupt() override;

 private:
  std::filesystem::path executable_;
  std::vector<std::string> arguments_;
  OutputHandler outputHandler_;
  TerminationHandler terminationHandler_;
  bool silenceStandardError_ = false;
  std::shared_ptr<SubprocessWatch> watch_;
};

}  // namespace quav::toolkit::gtk
