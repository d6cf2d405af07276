// Opens a configuration file made of arbitrary bytes against a small parameter tree. Anything
// may be refused, nothing may crash, hang or read outside the input; whatever opens must save to
// a file that opens again, and bytes after the end of a configuration change nothing of it.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "common/user_interface.h"
#include "storage/configuration_file.h"

namespace {

// Two instances of a branch with indexed parameters under a root with plain ones, as the
// module's tree has them.
constexpr const char* kDescriptor =
    "type ONOFF Выкл Вкл\n"
    "parameter r.oe float Уставка\n"
    "parameter CHAr* name Имя noattr\n"
    "parameter APLY void Применить noattr\n"
    "parameter INIT ONOFF Режим\n"
    "parameter t.Lnk CLK_frm Таймаут\n"
    "rule r.oe 0 10\n"
    "branch Таймер 1 6 7 t.Lnk\n"
    "branch Вход 2 4 5 r.oe APLY Таймер\n"
    "root Прибор 1 2 3 CHAr* INIT INIT Вход\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const kvtr::DescriptorSource source = kvtr::DescriptorFromText(kDescriptor);
  kvtr::SilentUserInterface ui;
  kvtr::OpenOptions options;
  options.loadDescriptor = source;
  options.batchSilent = size > 0 && (data[size - 1] & 1) != 0;
  const kvtr::OpenResult opened = kvtr::OpenConfiguration(std::span(data, size), ui, options);
  if (opened.status != kvtr::OpenStatus::Opened) return 0;

  const std::vector<std::uint8_t> saved = kvtr::SerializeConfiguration(*opened.tree);
  const kvtr::OpenResult again = kvtr::OpenConfiguration(saved, ui, options);
  if (again.status != kvtr::OpenStatus::Opened) std::abort();
  // What the program saves ends where its configuration ends.
  if (again.trailingBytes != 0) std::abort();
  // Bytes after the end are read by nobody: the file without them opens to the same document.
  if (opened.trailingBytes != 0) {
    if (opened.trailingBytes > size) std::abort();
    const kvtr::OpenResult whole = kvtr::OpenConfiguration(std::span(data, size - opened.trailingBytes), ui, options);
    if (whole.status != kvtr::OpenStatus::Opened || whole.trailingBytes != 0) std::abort();
    if (kvtr::SerializeConfiguration(*whole.tree) != saved) std::abort();
  }
  return 0;
}
