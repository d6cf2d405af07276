#include "ui/resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be called from the global namespace.
static void loadKvtrResources() { Q_INIT_RESOURCE(kvtr); }

namespace kvtr::ui {

void LoadResources() {
  static const bool loaded = [] {
    loadKvtrResources();
    return true;
  }();
  (void)loaded;
}

}  // namespace kvtr::ui
