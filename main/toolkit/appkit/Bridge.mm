#import "Bridge.h"

#import <AppKit/AppKit.h>

namespace quav::toolkit::appkit {

NSArray* mainRunLoopModes() {
  return [NSArray arrayWithObjects:NSDefaultRunLoopMode, NSModalPanelRunLoopMode,
                                   NSEventTrackingRunLoopMode, nil];
}

}  // namespace quav::toolkit::appkit

@implementation QuavCallback

- (instancetype)initWithCallable:(std::function<void()>)callable {
  if ((self = [super init])) callable_ = new std::function<void()>(std::move(callable));
  return self;
}

- (void)dealloc {
  delete callable_;
  [super dealloc];
}

- (void)perform:(id)sender {
  if (*callable_) (*callable_)();
}

@end
