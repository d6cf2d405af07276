// The Windows build has no gettext: the program's own texts are shown as they are.
#include "common/catalogue.h"

namespace kvtr {

void initCatalogue(const std::filesystem::path&) {}

const char* tr(const char* text) { return text; }

}  // namespace kvtr
