// Which menu item of which page opens which page. The page frame follows these rows when a
// navigation command runs, the tests walk them, and this is the one place that knows every
// page class: a page opens another by name through here and never includes its header.
#pragma once

#include <span>
#include <string>

namespace tidrex::screens {

class Page;

struct NavigationRow {
  const char* page;    // the page whose menu bar holds the item
  const char* item;    // the menu item's name
  const char* target;  // the page it opens
  int cursor;          // busy cursor while the target opens; 0: the cursor is left alone
  bool stays;          // the page stays loaded and hidden instead of unloading itself
  const char* unloads_first = nullptr;  // a page unloaded before the target opens
};

// Every row, page by page in menu-bar order.
std::span<const NavigationRow> NavigationRows();

// The row of `page`'s menu item `item`, or null.
const NavigationRow* FindNavigationRow(const std::string& page, const std::string& item);

// Opens the named page as a navigation command does (Page::Open).
Page& OpenPage(const std::string& name);
// The named page when it is loaded, else null.
Page* LoadedPage(const std::string& name);

// Gives the shell its ways into the screens; the program does this before it starts.
void ConnectToShell();

}  // namespace tidrex::screens
