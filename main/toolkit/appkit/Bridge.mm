#import "Bridge.h"

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
