// The Windows build has no gettext: the program's own texts are shown as they are.
#include "common/catalogue.h"

namespace kvtr {

void initCatalogue(const std::filesystem::path&) {}
void initCatalogue(const std::filesystem::path&, std::string_view) {}

std::string_view catalogueLanguage() { return {}; }

const char* tr(const char* text) { return text; }

}  // namespace kvtr
