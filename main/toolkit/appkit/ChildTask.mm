#import "ChildTask.h"

#import <AppKit/AppKit.h>

// Receives the task's notifications on the main thread and hands them to the handlers. The
// output is read in the modes of an open alert too, so the lab can become ready behind it.
@interface QuavTaskObserver : NSObject {
  quav::toolkit::ChildProcess::OutputHandler* output_;
  quav::toolkit::ChildProcess::TerminationHandler* termination_;
}
- (void)setOutputHandler:(quav::toolkit::ChildProcess::OutputHandler)handler;
- (void)setTerminationHandler:(quav::toolkit::ChildProcess::TerminationHandler)handler;
- (void)observeOutput:(NSFileHandle*)output ofTask:(NSTask*)task;
- (void)readFrom:(NSFileHandle*)output;
@end

@implementation QuavTaskObserver

- (instancetype)init {
  if ((self = [super init])) {
    output_ = new quav::toolkit::ChildProcess::OutputHandler;
    termination_ = new quav::toolkit::ChildProcess::TerminationHandler;
  }
  return self;
}

- (void)dealloc {
  [[NSNotificationCenter defaultCenter] removeObserver:self];
  delete output_;
  delete termination_;
  [super dealloc];
}

- (void)setOutputHandler:(quav::toolkit::ChildProcess::OutputHandler)handler {
  *output_ = std::move(handler);
}

- (void)setTerminationHandler:(quav::toolkit::ChildProcess::TerminationHandler)handler {
  *termination_ = std::move(handler);
}

- (void)observeOutput:(NSFileHandle*)output ofTask:(NSTask*)task {
  NSNotificationCenter* center = [NSNotificationCenter defaultCenter];
  if (output) {
    [center addObserver:self
               selector:@selector(outputRead:)
                   name:NSFileHandleReadCompletionNotification
                 object:output];
  }
  [center addObserver:self
             selector:@selector(taskEnded:)
                 name:NSTaskDidTerminateNotification
               object:task];
}

- (void)readFrom:(NSFileHandle*)output {
  [output readInBackgroundAndNotifyForModes:quav::toolkit::appkit::mainRunLoopModes()];
}

// Empty data is the end of the output; no data at all, a failed read: nothing more comes either.
- (void)outputRead:(NSNotification*)notification {
  NSData* data = [[notification userInfo] objectForKey:NSFileHandleNotificationDataItem];
  if ([data length] == 0) return;
  if (*output_) (*output_)(std::string(static_cast<const char*>([data bytes]), [data length]));
  [self readFrom:[notification object]];
}

- (void)taskEnded:(NSNotification*)notification {
  [[NSNotificationCenter defaultCenter] removeObserver:self
                                                  name:NSTaskDidTerminateNotification
                                                object:[notification object]];
  if (*termination_) (*termination_)();
}

@end

namespace quav::toolkit::appkit {

ChildTask::ChildTask() : task_([[NSTask alloc] init]), observer_([[QuavTaskObserver alloc] init]) {}

ChildTask::~ChildTask() = default;

void ChildTask::setExecutable(const std::filesystem::path& executable) {
  [task_.get() setExecutableURL:[NSURL fileURLWithPath:nsString(executable.string())]];
}

void ChildTask::setArguments(const std::vector<std::string>& arguments) {
  NSMutableArray* list = [NSMutableArray array];
  for (const auto& argument : arguments) [list addObject:nsString(argument)];
  [task_.get() setArguments:list];
}

void ChildTask::setStandardOutputHandler(OutputHandler handler) {
  [task_.get() setStandardOutput:[NSPipe pipe]];
  [observer_.get() setOutputHandler:std::move(handler)];
}

void ChildTask::setStandardErrorToNullDevice() {
  [task_.get() setStandardError:[NSFileHandle fileHandleWithNullDevice]];
}

void ChildTask::setTerminationHandler(TerminationHandler handler) {
  [observer_.get() setTerminationHandler:std::move(handler)];
}

std::optional<LaunchError> ChildTask::launch() {
  if (launched_) return LaunchError{"The process has already been launched."};
  NSFileHandle* output = nil;
  if ([[task_.get() standardOutput] isKindOfClass:[NSPipe class]]) {
    output = [[task_.get() standardOutput] fileHandleForReading];
  }
  [observer_.get() observeOutput:output ofTask:task_.get()];
  NSError* error = nil;
  if (![task_.get() launchAndReturnError:&error]) {
    [[NSNotificationCenter defaultCenter] removeObserver:observer_.get()];
    return LaunchError{stdString([error localizedDescription])};
  }
  launched_ = true;
  if (output) [observer_.get() readFrom:output];
  return std::nullopt;
}

bool ChildTask::isRunning() const {
  return launched_ && [task_.get() isRunning];
}

void ChildTask::interrupt() {
  if (isRunning()) [task_.get() interrupt];
}

}  // namespace quav::toolkit::appkit
