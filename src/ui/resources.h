// The program's compiled-in resources (icons, artwork). They live in the kvtrui library, whose
// resource initialiser a linker leaves out unless it is called: every window that shows an icon
// calls this first. Any number of calls is fine.
#pragma once

namespace kvtr::ui {

void LoadResources();

}  // namespace kvtr::ui
