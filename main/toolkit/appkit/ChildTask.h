// The Lab server's process on Foundation: an NSTask whose standard output is read in the
// background and handed on from the main thread's run loop, chunk by chunk in order, and whose
// end is told once, by notification.
#pragma once

#import <Foundation/Foundation.h>

#include "Bridge.h"
#include "Toolkit.h"

@class QuavTaskObserver;

namespace quav::toolkit::appkit {

class ChildTask final : public ChildProcess {
 public:
  ChildTask();
  ~ChildTask() override;

  void setExecutable(const std::filesystem::path& executable) override;
  void setArguments(const std::vector<std::string>& arguments) override;
  void setStandardOutputHandler(OutputHandler handler) override;
  void setStandardErrorToNullDevice() override;
  void setTerminationHandler(TerminationHandler handler) override;
  std::optional<LaunchError> launch() override;
  bool isRunning() const override;
  void interrupt() override;

 private:
  Retained<NSTask> task_;
  Retained<QuavTaskObserver> observer_;
  bool launched_ = false;
};

}  // namespace quav::toolkit::appkit
