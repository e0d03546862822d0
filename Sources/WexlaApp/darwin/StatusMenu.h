#pragma once

// The status item in the menu bar and its menu, drawn from the core's menu model.
#import <AppKit/AppKit.h>

#include <vector>

#include "MenuModel.hpp"

namespace wexla::app {

// What the menu asks of the application.
class MenuOwner {
 public:
  virtual ~MenuOwner() = default;
  virtual void chosen(const MenuItem& item) = 0;
  // The menu is about to open: show it as things stand now.
  virtual void opening() = 0;
};

}  // namespace wexla::app

@interface WexlaStatusMenu : NSObject <NSMenuDelegate>
// The owner outlives the menu.
- (instancetype)initWithOwner:(wexla::app::MenuOwner*)owner;
// Redraws only what changed since the last call.
- (void)showItems:(const std::vector<wexla::app::MenuItem>&)items
        indicator:(wexla::app::Indicator)indicator;
@end
