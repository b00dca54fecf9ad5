#import "GNUstepCompat.h"

#include <gio/gio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <string>

#include "Application.h"

// Labels re-arrange their stack when their text changes.
@interface QuavLabel : NSTextField
@end

namespace {

NSTextField* makeLabel(NSString* text, BOOL wrapping) {
  NSTextField* label = [[[QuavLabel alloc] initWithFrame:NSZeroRect] autorelease];
  [label setStringValue:text];
  [label setEditable:NO];
  [label setSelectable:NO];
  [label setBezeled:NO];
  [label setDrawsBackground:NO];
  [[label cell] setWraps:wrapping];
  [[label cell] setLineBreakMode:wrapping ? NSLineBreakByWordWrapping : NSLineBreakByClipping];
  return label;
}

// A wrapping label takes the stack's width and is as high as its text wrapped there; anything
// else keeps its own size, within the stack's width.
NSSize fittingSize(NSView* view, CGFloat width) {
  if ([view isKindOfClass:[NSTextField class]] && [[(NSTextField*)view cell] wraps]) {
    const NSRect text = [[(NSTextField*)view attributedStringValue]
        boundingRectWithSize:NSMakeSize(width, CGFLOAT_MAX)
                     options:NSStringDrawingUsesLineFragmentOrigin];
    return NSMakeSize(width, std::ceil(NSHeight(text)));
  }
  if ([view isKindOfClass:[NSControl class]]) [(NSControl*)view sizeToFit];
  return NSMakeSize(MIN(NSWidth([view frame]), width), NSHeight([view frame]));
}

}  // namespace

@implementation QuavLabel
- (void)setStringValue:(NSString*)text {
  [super setStringValue:text];
  if ([[self superview] isKindOfClass:[NSStackView class]]) {
    [(NSStackView*)[self superview] arrangeViews];
  }
}
@end

@implementation NSTextField (QuavMacOSLabels)
+ (instancetype)labelWithString:(NSString*)text {
  return makeLabel(text, NO);
}
+ (instancetype)wrappingLabelWithString:(NSString*)text {
  return makeLabel(text, YES);
}
@end

@implementation NSButton (QuavMacOSButtons)
+ (instancetype)buttonWithTitle:(NSString*)title target:(id)target action:(SEL)action {
  NSButton* button = [[[NSButton alloc] initWithFrame:NSZeroRect] autorelease];
  [button setTitle:title];
  [button setButtonType:NSMomentaryPushInButton];
  [button setBezelStyle:NSRoundedBezelStyle];
  [button setTarget:target];
  [button setAction:action];
  [button sizeToFit];
  return button;
}
@end

@implementation NSStackView

+ (instancetype)stackViewWithViews:(NSArray*)views {
  NSStackView* stack = [[[self alloc] initWithFrame:NSZeroRect] autorelease];
  for (NSView* view in views) [stack addSubview:view];
  return stack;
}

- (void)setOrientation:(NSUserInterfaceLayoutOrientation)orientation {
  NSAssert(orientation == NSUserInterfaceLayoutOrientationVertical, @"vertical stacks only");
}

- (void)setAlignment:(NSLayoutAttribute)alignment {
  NSAssert(alignment == NSLayoutAttributeLeading, @"leading alignment only");
}

- (void)setSpacing:(CGFloat)spacing {
  spacing_ = spacing;
  [self arrangeViews];
}

- (void)setFrame:(NSRect)frame {
  [super setFrame:frame];
  [self arrangeViews];
}

- (void)arrangeViews {
  const NSRect bounds = [self bounds];
  CGFloat top = NSMaxY(bounds);
  for (NSView* view in [self subviews]) {
    const NSSize size = fittingSize(view, NSWidth(bounds));
    [view setFrame:NSMakeRect(NSMinX(bounds), top - size.height, size.width, size.height)];
    top -= size.height + spacing_;
  }
  [self setNeedsDisplay:YES];
}

@end

@implementation NSApplication (QuavMacOSActivation)
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)policy {
  return policy == NSApplicationActivationPolicyRegular;
}
@end

// GNUstep learns that a task has ended from SIGCHLD, which wakes the run loop only if it reaches
// the main thread; with other threads about (GIO's, for one) the end could go unnoticed until
// some other event. So the run loop also watches a descriptor of the process, readable once it
// has ended, and then has GNUstep collect it, which posts NSTaskDidTerminateNotification.
@interface QuavTaskEndWatch : NSObject {
  NSTask* task_;
  NSFileHandle* process_;
}
+ (void)watch:(NSTask*)task;
@end

@implementation QuavTaskEndWatch

+ (void)watch:(NSTask*)task {
  const int process = static_cast<int>(syscall(SYS_pidfd_open, [task processIdentifier], 0));
  if (process < 0) return;                        // GNUstep's own SIGCHLD handling is all there is
  QuavTaskEndWatch* watch = [[self alloc] init];  // released when the task has ended
  watch->task_ = [task retain];
  watch->process_ = [[NSFileHandle alloc] initWithFileDescriptor:process closeOnDealloc:YES];
  [[NSNotificationCenter defaultCenter] addObserver:watch
                                           selector:@selector(processEnded:)
                                               name:NSFileHandleDataAvailableNotification
                                             object:watch->process_];
  [watch->process_
      waitForDataInBackgroundAndNotifyForModes:quav::toolkit::appkit::mainRunLoopModes()];
}

- (void)processEnded:(NSNotification*)notification {
  [[NSNotificationCenter defaultCenter] removeObserver:self];
  [task_ isRunning];  // collects the task
  [self release];
}

- (void)dealloc {
  [process_ release];
  [task_ release];
  [super dealloc];
}

@end

@implementation NSTask (QuavMacOSLaunch)

- (void)setExecutableURL:(NSURL*)url {
  [self setLaunchPath:[url path]];
}

- (BOOL)launchAndReturnError:(NSError**)error {
  @try {
    [self launch];
  } @catch (NSException* exception) {
    if (error) {
      NSDictionary* info = [NSDictionary dictionaryWithObject:[exception reason]
                                                       forKey:NSLocalizedDescriptionKey];
      *error = [NSError errorWithDomain:NSCocoaErrorDomain code:0 userInfo:info];
    }
    return NO;
  }
  [QuavTaskEndWatch watch:self];
  return YES;
}

@end

// GNUstep hands the files named on the command line to application:openFiles:, all in one call,
// and never calls application:openURLs:.
@implementation QuavApplicationDelegate (QuavGNUstepFiles)
- (void)application:(NSApplication*)application openFiles:(NSArray*)paths {
  NSMutableArray* urls = [NSMutableArray array];
  for (NSString* path in paths) [urls addObject:[NSURL fileURLWithPath:path]];
  [self application:application openURLs:urls];
}
@end

namespace quav::toolkit::appkit {

void registerGNUstepDefaults() {
  NSDictionary* defaults = [NSDictionary
      dictionaryWithObjectsAndKeys:@"NSMacintoshInterfaceStyle", @"NSMenuInterfaceStyle", @"YES",
                                   @"GSSuppressAppIcon", nil];
  [[NSUserDefaults standardUserDefaults] registerDefaults:defaults];
}

// GIO's plain launch: it collects what it starts itself, so GLib installs no SIGCHLD handler of
// its own in place of GNUstep's, and leaves no zombie behind (no GLib main loop runs here).
bool openWithDesktopDefault(const std::string& url) {
  return g_app_info_launch_default_for_uri(url.c_str(), nullptr, nullptr);
}

}  // namespace quav::toolkit::appkit
