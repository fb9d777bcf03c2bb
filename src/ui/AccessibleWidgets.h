#pragma once

namespace fernpoint {

// Makes the window's own widgets readable and operable through the accessibility bridge
// (AT-SPI on Linux) where the toolkit's defaults fall short: the history popover is listed among
// the window content's children while it is open (the toolkit leaves pop-up windows out of the
// tree), its list is a list of items that a screen reader can select and press, each row says
// whether it is the current one, and the language segments are radio buttons. Called before the
// window is built; more calls do nothing.
void installAccessibleWidgets();

} // namespace fernpoint
