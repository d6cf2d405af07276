#include "app/startup_steps.h"

#include <system_error>

#include "app/settings_store.h"
#include "common/format.h"
#include "common/strings.h"
#include "common/user_interface.h"
#include "common/utf8_path.h"
#include "model/object_with_parameters.h"
#include "protocol/network_settings.h"

namespace kvtr {

namespace {

std::string_view stripQuotes(std::string_view text) {
  while (!text.empty() && text.front() == '"') text.remove_prefix(1);
  while (!text.empty() && text.back() == '"') text.remove_suffix(1);
  return text;
}

bool sameProgram(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
#if defined(_WIN32)
  return equalsNoCase(utf8FromPath(a), utf8FromPath(b));
#else
  return false;
#endif
}

}  // namespace

std::string MainConfiguratorQuestion(std::string_view thisProgram, std::string_view registered) {
  std::string text =
      "Вероятно, на вашем компьютере установлено несколько конфигураторов этого прибора,\n"
      "что не рекомендуется, но допускается.\n\n"
      "Установить запущенный конфигуратор (";
  text += "\"" + std::string(thisProgram) + "\"";
  text += ")\nкак основной или оставить ссылку на конфигуратор прибора КВТР как она сейчас есть\n(";
  text += "\"" + std::string(registered) + "\"";
  text += ")?";
  return text;
}

MainConfiguratorCheck CheckMainConfigurator(SettingsStore& store, const std::filesystem::path& thisProgram,
                                            UserInterface& ui) {
  const std::optional<std::string> value = store.readText(SettingsKey::Devices, kValueApplication);
  if (!value) {
    (void)store.write(SettingsKey::Devices, {}, true);
    return MainConfiguratorCheck::NotRegistered;
  }
  const std::filesystem::path registered = pathFromUtf8(stripQuotes(*value));
  std::error_code ec;
  if (registered.empty() || !std::filesystem::is_regular_file(registered, ec)) return MainConfiguratorCheck::Missing;
  if (sameProgram(registered, thisProgram)) return MainConfiguratorCheck::ThisProgram;
  if (!ui.askYesNo(MainConfiguratorQuestion(utf8FromPath(thisProgram), utf8FromPath(registered)),
                   std::string(kMainConfiguratorCaption))) {
    return MainConfiguratorCheck::Kept;
  }
  (void)store.write(SettingsKey::Devices,
                    {{std::string(kValueApplication), "\"" + utf8FromPath(thisProgram) + "\""}}, true);
  return MainConfiguratorCheck::Replaced;
}

std::string_view StartupParityText(std::uint8_t parity) {
  switch (parity) {
    case kStartupParityEven: return kParityEvenText;
    case kStartupParityOdd: return kParityOddText;
    case kStartupParityNone: return kParityNoneText;
    default: return {};
  }
}

int ApplyCommandLinePortSettings(const StartupOptions& options, ObjectWithParameters& programNode,
                                 ObjectWithParameters* moduleNode) {
  const bool toModule = options.has(startup_flag::kApply) && moduleNode != nullptr;
  int written = 0;
  const auto put = [&](std::string_view name, const std::string& text, bool moduleToo) {
    if (text.empty()) return;
    if (toModule && moduleToo) (void)moduleNode->SetValueByName(name, text);
    (void)programNode.SetValueByName(name, text);
    ++written;
  };
  const auto number = [](std::uint32_t value) {
    return value == 0 ? std::string() : strprintf("%i", static_cast<int>(value));
  };
  put("Addr", options.address, true);
  put("A.Len", number(options.addressLength), true);
  put("bPS", number(options.baudRate), true);
  put("LEn", number(options.dataBits), true);
  put("Sbit", options.stopBits, true);
  put("PrtY", std::string(StartupParityText(options.parity)), true);
  std::string port = options.portPath;
  if (port.empty() && options.port != 0) port = strprintf("COM%i", static_cast<int>(options.port));
  put(kPortParameterName, port, false);
  return written;
}

int JobCommandOf(const StartupOptions& options) {
  if (options.has(startup_flag::kWriteJob)) return kCommandWriteAll;
  if (options.has(startup_flag::kCalibrateJob)) return kCommandCurrentInputAdjustment;
  if (options.has(startup_flag::kReadJob)) return kCommandReadAll;
  return 0;
}

FileAction FileActionOf(const StartupOptions& options, const std::filesystem::path& file, bool fileHasData) {
  const int job = JobCommandOf(options);
  // The file of a read job is where the result goes. Only when the read job is the one that
  // runs: with "write" as well, the file is the one to write, and it must not be replaced by the
  // empty configuration a read job starts from.
  if (job == kCommandReadAll) return FileAction::NewDocument;
  if (job == kCommandWriteAll && (file.empty() || !fileHasData)) return FileAction::WriteJobWithoutFile;
  if (!file.empty() && fileHasData) return FileAction::OpenFile;
  return FileAction::NewDocument;
}

WindowPlacement WindowPlacementOf(const StartupOptions& options) {
  WindowPlacement placement;
  const auto given = [&](std::uint8_t bit) { return (options.windowFlags & bit) != 0; };
  if (!given(window_flag::kW) || !given(window_flag::kH)) return placement;
  if (options.w == 0 && options.h == 0) {
    placement.kind = WindowPlacement::Kind::Minimised;
    return placement;
  }
  if (!given(window_flag::kX) || !given(window_flag::kY)) return placement;
  placement.kind = WindowPlacement::Kind::Placed;
  placement.x = options.x;
  placement.y = options.y;
  placement.w = options.w;
  placement.h = options.h;
  placement.locked = true;
  return placement;
}

}  // namespace kvtr
