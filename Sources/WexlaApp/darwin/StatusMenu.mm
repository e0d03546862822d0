#import "StatusMenu.h"

#include <optional>
#include <string>

namespace {

using wexla::app::Indicator;
using wexla::app::MenuItem;

NSString* text(const std::string& utf8) {
  NSString* string = [NSString stringWithUTF8String:utf8.c_str()];
  return string != nil ? string : @"";
}

// A sun while the helper holds the machine, a moon while it may sleep, a warning sign while
// something holds but the helper does not.
NSImage* symbolFor(Indicator indicator) {
  NSString* name = @"moon.zzz";
  NSString* description = @"Wexla: không giữ máy thức / not holding";
  if (indicator == Indicator::held) {
    name = @"sun.max.fill";
    description = @"Wexla: đang giữ máy thức / holding the machine awake";
  } else if (indicator == Indicator::trouble) {
    name = @"exclamationmark.triangle";
    description = @"Wexla: máy vẫn có thể ngủ / the machine may sleep";
  }
  NSImage* image = [NSImage imageWithSystemSymbolName:name accessibilityDescription:description];
  [image setTemplate:YES];  // drawn in the menu bar's own colour, light or dark
  return image;
}

}  // namespace

@implementation WexlaStatusMenu {
  wexla::app::MenuOwner* _owner;
  NSStatusItem* _statusItem;
  NSMenu* _menu;
  std::vector<MenuItem> _shown;
  std::vector<MenuItem> _choices;  // the entries that can be chosen, by their tag
  std::optional<Indicator> _indicator;
}

- (instancetype)initWithOwner:(wexla::app::MenuOwner*)owner {
  if ((self = [super init])) {
    _owner = owner;
    _menu = [[NSMenu alloc] initWithTitle:@"Wexla"];
    _menu.autoenablesItems = NO;  // each entry says itself whether it can be chosen
    _menu.delegate = self;        // held weakly; this object lives as long as the application
    // The status bar does not keep its items: this object does.
    _statusItem = [[NSStatusBar systemStatusBar] statusItemWithLength:NSVariableStatusItemLength];
    _statusItem.menu = _menu;
  }
  return self;
}

- (void)showItems:(const std::vector<MenuItem>&)items indicator:(Indicator)indicator {
  if (_indicator != indicator) {
    _indicator = indicator;
    NSImage* image = symbolFor(indicator);
    _statusItem.button.image = image;
    _statusItem.button.title = image != nil ? @"" : @"Wexla";
  }
  if (items == _shown) return;
  _shown = items;
  _choices.clear();
  [_menu removeAllItems];
  [self fill:_menu with:items];
}

- (void)fill:(NSMenu*)menu with:(const std::vector<MenuItem>&)items {
  for (const MenuItem& item : items) {
    if (item.kind == MenuItem::Kind::separator) {
      [menu addItem:[NSMenuItem separatorItem]];
      continue;
    }
    NSMenuItem* entry = [[NSMenuItem alloc] initWithTitle:text(item.title)
                                                   action:nil
                                            keyEquivalent:@""];
    if (item.kind == MenuItem::Kind::submenu) {
      NSMenu* submenu = [[NSMenu alloc] initWithTitle:entry.title];
      submenu.autoenablesItems = NO;
      [self fill:submenu with:item.items];
      entry.submenu = submenu;
    } else if (item.kind != MenuItem::Kind::label) {
      entry.target = self;
      entry.action = @selector(choose:);
      entry.tag = static_cast<NSInteger>(_choices.size());
      _choices.push_back(item);
    }
    if (item.kind == MenuItem::Kind::quit) entry.keyEquivalent = @"q";
    entry.enabled = item.enabled;
    entry.state = item.checked ? NSControlStateValueOn : NSControlStateValueOff;
    [menu addItem:entry];
  }
}

- (void)choose:(NSMenuItem*)sender {
  const auto index = static_cast<std::size_t>(sender.tag);
  if (sender.tag < 0 || index >= _choices.size()) return;
  const MenuItem item = _choices[index];  // a copy: carrying it out redraws the menu
  _owner->chosen(item);
}

- (void)menuNeedsUpdate:(NSMenu*)menu {
  if (menu == _menu) _owner->opening();
}

@end
