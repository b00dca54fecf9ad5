// What GNUstep 0.29 lacks of the AppKit and Foundation the shell is written against, filled in
// with what it has, so that the shell's code reads as it does on macOS. Built on GNUstep only.
#pragma once

#import <AppKit/AppKit.h>

#include <string>

@interface NSTextField (QuavMacOSLabels)
+ (instancetype)labelWithString:(NSString*)text;
+ (instancetype)wrappingLabelWithString:(NSString*)text;
@end

@interface NSButton (QuavMacOSButtons)
+ (instancetype)buttonWithTitle:(NSString*)title target:(id)target action:(SEL)action;
@end

// A vertical stack only, its views on the leading edge: the one the launcher makes. Its views
// are laid out from the top, each at the height its content needs (a wrapping label's for the
// stack's width), and again whenever a label's text changes, as auto layout does on macOS.
@interface NSStackView : NSView {
  CGFloat spacing_;
}
+ (instancetype)stackViewWithViews:(NSArray*)views;
- (void)setOrientation:(NSUserInterfaceLayoutOrientation)orientation;
- (void)setAlignment:(NSLayoutAttribute)alignment;
- (void)setSpacing:(CGFloat)spacing;
- (void)arrangeViews;
@end

@interface NSApplication (QuavMacOSActivation)
// Every GNUstep application is a regular one.
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)policy;
@end

@interface NSTask (QuavMacOSLaunch)
- (void)setExecutableURL:(NSURL*)url;
// Launches with -launch, turning what it raises into an error.
- (BOOL)launchAndReturnError:(NSError**)error;
@end

namespace quav::toolkit::appkit {

// Makes the application look and behave like a Mac one on an X11 desktop: its menu in a bar at
// the top of the screen, and no application icon window (a Mac application's is in the Dock).
// Must run before the shared application is made.
void registerGNUstepDefaults();

// Hands an address to the desktop's default handler for its scheme through GIO, as the GTK
// shell does: a bare GNUstep has no service for NSWorkspace to open web addresses with.
bool openWithDesktopDefault(const std::string& url);

}  // namespace quav::toolkit::appkit
