#include "terminal_progress.h"

#include <unistd.h>

namespace kvtr::cli {

bool isTerminal(std::FILE* stream) { return stream != nullptr && ::isatty(::fileno(stream)) == 1; }

}  // namespace kvtr::cli
