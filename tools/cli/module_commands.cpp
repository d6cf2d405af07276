// Module commands: the serial ports of the computer, and reading, writing and switching the
// module over the line. Parameters are known by the descriptor; the port settings are the stored
// ones, with any given on the command line in their place for this run.
#include "command.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "app/user_interface.h"
#include "common/format.h"
#include "common/strings.h"
#include "model/descriptor_loader.h"
#include "model/descriptor_storage.h"
#include "model/parameter_tree.h"
#include "protocol/apply_sequence.h"
#include "protocol/device_link.h"
#include "protocol/link_parameter_steps.h"
#include "protocol/network_settings.h"
#include "protocol/port_names.h"
#include "protocol/serial_settings.h"

namespace kvtr::cli {

namespace {

int runPorts(CommandContext& context, std::span<const std::string> args);
int runGet(CommandContext& context, std::span<const std::string> args);
int runSet(CommandContext& context, std::span<const std::string> args);
int runApply(CommandContext& context, std::span<const std::string> args);

constexpr std::string_view kPortUsage =
    "[--port PORT] [--baud N] [--data-bits 7|8] [--parity none|even|odd] [--stop-bits 1|2] [--address A] "
    "[--address-length 8|11] [--converter auto|semi] [--no-attributes] [--descriptor PATH]";

constexpr Command kCommands[] = {
    {"ports", "", "List the serial ports of the computer, one per line, with what the system tells of each.",
     &runPorts},
    {"get", "NAME[:INDEX]... [--log] [--index-in-address] [port options]",
     "Read parameters from the module and print NAME[:INDEX] = VALUE for each.", &runGet},
    {"set", "NAME[:INDEX]=VALUE... [--log] [--index-in-address] [port options]",
     "Check and write parameters into the module; print what the module took.", &runSet},
    {"apply", "[--no-switch] [--broadcast [--once]] [port options]",
     "Switch the module to its new network settings (APLY) and follow it with the program's port settings.",
     &runApply},
};

const Command& commandNamed(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return command;
  }
  return kCommands[0];
}

// Every module command takes the port options.
#define KVTR_PORT_OPTIONS                                                                                 \
  {"port", 0, OptionArgument::Required}, {"baud", 0, OptionArgument::Required},                          \
      {"data-bits", 0, OptionArgument::Required}, {"parity", 0, OptionArgument::Required},               \
      {"stop-bits", 0, OptionArgument::Required}, {"address", 0, OptionArgument::Required},              \
      {"address-length", 0, OptionArgument::Required}, {"converter", 0, OptionArgument::Required},       \
      {"no-attributes", 0, OptionArgument::None}, {"descriptor", 0, OptionArgument::Required}
constexpr OptionSpec kExchangeSpecs[] = {
    KVTR_PORT_OPTIONS, {"log", 0, OptionArgument::None}, {"index-in-address", 0, OptionArgument::None}};
constexpr OptionSpec kApplySpecs[] = {KVTR_PORT_OPTIONS,
                                      {"no-switch", 0, OptionArgument::None},
                                      {"broadcast", 0, OptionArgument::None},
                                      {"once", 0, OptionArgument::None}};
#undef KVTR_PORT_OPTIONS

// The program's messages on the error stream, as "caption: text".
class TerminalUi final : public UserInterface {
 public:
  explicit TerminalUi(std::FILE* err) : err_(err) {}
  void showMessage(const std::string& text, const std::string& caption, MessageIcon) override {
    std::string_view body = text;
    while (!body.empty() && body.back() == '\n') body.remove_suffix(1);
    std::fprintf(err_, "%s: %.*s\n", caption.c_str(), static_cast<int>(body.size()), body.data());
  }
  bool askYesNo(const std::string&, const std::string&) override { return false; }

 private:
  std::FILE* err_;
};

// An option given to the command, else before it.
std::optional<std::string> optionValue(const CommandContext& context, const ParsedOptions& options,
                                       std::string_view name) {
  if (auto v = options.value(name)) return v;
  if (context.global != nullptr) return context.global->value(name);
  return std::nullopt;
}
bool optionGiven(const CommandContext& context, const ParsedOptions& options, std::string_view name) {
  return options.has(name) || (context.global != nullptr && context.global->has(name));
}

std::filesystem::path programDirectory() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && self.has_parent_path()) return self.parent_path();
  return std::filesystem::current_path(ec);
}

// ---------------------------------------------------------------- the session

// What a module command works with: the descriptor's tree, the stored settings and the link.
struct ModuleSession {
  explicit ModuleSession(std::FILE* err) : ui(err) {}

  TerminalUi ui;
  ParameterTree tree;
  std::unique_ptr<SettingsStore> store;
  std::unique_ptr<DeviceLink> link;
};

bool loadTree(CommandContext& context, const Command& command, const ParsedOptions& options, ModuleSession& session) {
  std::filesystem::path path;
  if (auto given = optionValue(context, options, "descriptor")) path = *given;
  else path = FindDescriptorFile(programDirectory());
  const DescriptorReadResult read = readDescriptorFile(path);
  if (!read.ok()) {
    failure(context, command,
            std::string(descriptorReadFailureText(read.status)) + " (" + path.string() + ": " + read.message + ")");
    return false;
  }
  const DescriptorLoadResult loaded = LoadDescriptorText(session.tree, read.text, session.ui);
  if (!loaded.complete) {
    failure(context, command, "the descriptor does not give a whole parameter tree");
    return false;
  }
  return true;
}

// Builds the link from the stored port settings and the options given. Returns an exit code when
// an option is malformed.
std::optional<int> makeLink(CommandContext& context, const Command& command, const ParsedOptions& options,
                            ModuleSession& session) {
  session.store = openSettingsStore();
  // Options given here are for this run only: the link does not save the port settings back.
  DeviceLinkOptions linkOptions;
  linkOptions.ui = &session.ui;
  linkOptions.portChoices = " ";
  session.link = std::make_unique<DeviceLink>(linkOptions);
  DeviceLink& link = *session.link;
  const StoredPortSettings stored = loadPortSettings(*session.store);
  LoadProgramPortNode(link.programPortNode(), stored);
  link.serialPort().setComPortMap(parseComPortMap(stored.comPortMap));
  NetRS485prg& node = link.programPortNode();

  auto number = [&](std::string_view name, std::int64_t low, std::int64_t high) -> std::optional<std::int64_t> {
    return parseNumber(*optionValue(context, options, name), low, high);
  };
  if (auto port = optionValue(context, options, "port")) {
    if (trim(*port).empty()) return usageError(context, command, "empty --port");
    node.SetValueByName(kPortParameterName, *port);
  }
  if (optionValue(context, options, "baud")) {
    const auto baud = number("baud", 1, 10'000'000);
    if (!baud || !isAcceptedBaudRate(static_cast<int>(*baud))) {
      return usageError(context, command, "unsupported --baud '" + *optionValue(context, options, "baud") + "'");
    }
    node.SetValueByName("bPS", std::to_string(*baud));
  }
  if (optionValue(context, options, "data-bits")) {
    const auto bits = number("data-bits", 5, 8);
    if (!bits) return usageError(context, command, "--data-bits takes 5 to 8");
    node.SetValueByName("LEn", std::to_string(*bits));
  }
  if (auto parity = optionValue(context, options, "parity")) {
    const std::string p = toLowerAscii(*parity);
    if (p == "none" || p == "no" || p == "n") node.SetValueByName("PrtY", kParityNoneText);
    else if (p == "even" || p == "e") node.SetValueByName("PrtY", kParityEvenText);
    else if (p == "odd" || p == "o") node.SetValueByName("PrtY", kParityOddText);
    else return usageError(context, command, "--parity takes none, even or odd");
  }
  if (optionValue(context, options, "stop-bits")) {
    const auto bits = number("stop-bits", 1, 2);
    if (!bits) return usageError(context, command, "--stop-bits takes 1 or 2");
    node.SetValueByName("Sbit", std::to_string(*bits));
  }
  if (optionValue(context, options, "address-length")) {
    const auto bits = number("address-length", 8, 11);
    if (!bits || (*bits != 8 && *bits != 11)) return usageError(context, command, "--address-length takes 8 or 11");
    node.SetValueByName("A.Len", std::to_string(*bits));
  }
  if (optionValue(context, options, "address")) {
    const auto address = number("address", 0, 2047);
    if (!address) return usageError(context, command, "--address takes 0 to 2047");
    node.SetValueByName("Addr", std::to_string(*address));
  }
  // The address must fit the address length, whichever of the two came from the options.
  const int addressBits = std::atoi(node.GetValueByName("A.Len").c_str());
  const int address = std::atoi(node.GetValueByName("Addr").c_str());
  if (address > (addressBits > 8 ? 2047 : 255)) {
    return usageError(context, command,
                      strprintf("address %d does not fit %d-bit addressing (see --address-length)", address,
                                addressBits > 8 ? 11 : 8));
  }
  // Most converters sold today turn the line round by themselves; the program tries that kind
  // first as well.
  std::uint32_t automatic = 1;
  if (auto converter = optionValue(context, options, "converter")) {
    if (*converter == "auto") automatic = 1;
    else if (*converter == "semi") automatic = 0;
    else return usageError(context, command, "--converter takes auto or semi");
  }
  link.serialPort().settings().automaticConverter = automatic;
  link.setAttributesSuppressed(optionGiven(context, options, "no-attributes"));
  return std::nullopt;
}

// Opens the port; the exit code when it cannot be opened (its message is already shown).
std::optional<int> openLink(ModuleSession& session) {
  if (session.link->OpenLink(true) == 0) return std::nullopt;
  const int code = exitCodeOfLinkStatus(session.link->state().linkStatus.load());
  return code != 0 ? code : kExitFailure;
}

// The exit code of a command of which `failed` exchanges failed: the link's failure flags, or 1
// for a failure that set none. A failure is never reported as success.
int exitCodeAfter(const ModuleSession& session, int failed) {
  if (failed == 0) return kExitOk;
  const int code = exitCodeOfLinkStatus(session.link->state().linkStatus.load());
  return code != 0 ? code : kExitFailure;
}

// ---------------------------------------------------------------- parameters by name

struct ParameterRequest {
  std::string shownName;  // NAME[:INDEX] as given
  std::string name;
  std::optional<int> index;
  std::string value;  // set only
};

// "NAME" or "NAME:INDEX"; false with a reason for a malformed index.
bool parseNameAndIndex(std::string_view text, ParameterRequest& request, std::string& error) {
  request.shownName = std::string(text);
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) {
    request.name = std::string(text);
  } else {
    request.name = std::string(text.substr(0, colon));
    const auto index = parseNumber(text.substr(colon + 1), 0, 0xFFFF);
    if (!index) {
      error = "malformed index in '" + std::string(text) + "' (0..65535)";
      return false;
    }
    request.index = static_cast<int>(*index);
  }
  if (request.name.empty()) {
    error = "no parameter name in '" + std::string(text) + "'";
    return false;
  }
  return true;
}

// The descriptor's template of a name; a name marked "!" in the descriptor (read-only in branch
// writes) is found with or without its mark.
const ParamTemplate* findTemplate(const ParameterTree& tree, std::string_view name) {
  if (const ParamTemplate* t = tree.FindTemplate(name)) return t;
  if (!name.empty() && name.front() == '!') return tree.FindTemplate(name.substr(1));
  std::string marked = "!";
  marked += name;
  return tree.FindTemplate(marked);
}

std::string undescribedText(std::string_view name) { return "Параметер '" + std::string(name) + "' не описан!"; }

// A parameter as the single-parameter access builds it: name, type, limits and attributes of
// the template; a numeric type with a precision ("int:2") is reduced to its word.
std::unique_ptr<Parameter> parameterFromTemplate(const ParamTemplate& t, const ParameterRequest& request,
                                                 bool indexInAddress, ProtocolLogList* log) {
  auto p = std::make_unique<Parameter>();
  p->name = !t.name.empty() && t.name.front() == '!' ? t.name.substr(1) : t.name;
  p->type = t.type;
  if (const std::size_t colon = t.type.find(':'); colon != std::string::npos) {
    const std::string word = t.type.substr(0, colon);
    const DecimalReading n = ReadDecimal(std::string_view(t.type).substr(colon + 1), false);
    if ((equalsNoCase(word, "int") || equalsNoCase(word, "CLK_frm") || equalsNoCase(word, "float")) && n.ok &&
        n.value != 0) {
      p->type = word;
    }
  }
  p->description = replaceAll(t.description, '_', ' ');
  p->minimum = t.minimum;
  p->maximum = t.maximum;
  p->attributeMode = t.hasAttributes;
  p->pendingText = t.pendingText;
  if (request.index) {
    if (indexInAddress) {
      p->addressOffset = *request.index;
      if (log != nullptr) {
        log->push_back("Индекс передается в поле адреса запроса");
        if (*request.index > 7) log->push_back("Предупреждение: адрес увеличен более чем на 7!");
      }
    } else {
      p->hasIndex = 1;
      p->index = *request.index;
      if (log != nullptr) log->push_back("Индекс передается в посылке запроса");
    }
  }
  if (log != nullptr) log->push_back(p->name + " (" + p->description + ")");
  return p;
}

// The message of a value the parameter's check refuses, as the editor shows it.
std::string refusalText(const Parameter& p, std::string_view text) {
  std::string message = "Параметеру '" + p.name + "' (" + p.description + ")\nне может быть присвоено значение '" +
                        std::string(text) + "'.\n ";
  message += equalsNoCase(p.type, "CHAr*") ? "(Значение не удовлетворяет требованиям к формату сетевого имени"
                                           : "(Значение этого параметра должно быть ";
  if (p.minimum != 0.0 || p.maximum != 0.0) {
    message += p.type + " и\n";
    message = strprintf("%s должно быть больше %f и меньше %f)\n", message.c_str(), p.minimum, p.maximum);
  }
  return message;
}

void printLog(CommandContext& context, const ProtocolLogList& log) {
  for (const std::string& line : log) printLine(context, line);
}

// The closing lines of the protocol log, as the single-parameter access writes them.
void finishLog(ProtocolLogList& log, bool read, int result, const Parameter& p) {
  if (result != 0) {
    log.push_back(p.comment);
  } else if (!p.comment.empty()) {
    log.push_back("Имеет место ошибка:");
    log.push_back(p.comment);
  } else if (read) {
    log.push_back("Нет ошибок; строковая нотация ответа:");
    log.push_back(p.value);
  } else {
    log.push_back("Нет ошибок; записано. Обратно вернулось='" + p.value + "'");
  }
}

void reportFailure(CommandContext& context, const ParameterRequest& request, const Parameter& p, int result) {
  const std::string text = !p.comment.empty() ? std::string(trimRight(p.comment))
                                              : strprintf("the exchange failed (result %d)", result);
  std::fprintf(context.err, "%s: %s\n", request.shownName.c_str(), text.c_str());
}

// ---------------------------------------------------------------- ports

int runPorts(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("ports");
  ParsedOptions options;
  if (auto code = parseCommandOptions(context, command, args, {}, options)) return *code;
  if (!options.operands.empty()) return usageError(context, command, "no arguments expected");
  // The system tree the list is read from; another root serves tests and containers.
  const char* root = std::getenv("KVTR_SYSTEM_ROOT");
  for (const SerialPortInfo& port : enumerateSerialPorts(root != nullptr && *root != '\0' ? root : "/")) {
    std::string line = port.preferredName();
    std::string description = port.description;
    if (!port.stablePath.empty()) {
      if (!description.empty()) description += ' ';
      description += '(';
      description += port.devicePath;
      description += ')';
    }
    if (!description.empty()) line += "\t" + description;
    printLine(context, line);
  }
  return kExitOk;
}

// ---------------------------------------------------------------- get

int runGet(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("get");
  ParsedOptions options;
  if (auto code = parseCommandOptions(context, command, args, kExchangeSpecs, options)) {
    return *code;
  }
  if (options.operands.empty()) return usageError(context, command, "no parameter named");
  std::vector<ParameterRequest> requests;
  for (const std::string& operand : options.operands) {
    ParameterRequest request;
    std::string error;
    if (!parseNameAndIndex(operand, request, error)) return usageError(context, command, error);
    requests.push_back(std::move(request));
  }

  ModuleSession session(context.err);
  if (!loadTree(context, command, options, session)) return kExitFailure;
  for (const auto& request : requests) {
    if (findTemplate(session.tree, request.name) == nullptr) return failure(context, command, undescribedText(request.name));
  }
  if (auto code = makeLink(context, command, options, session)) return *code;
  if (auto code = openLink(session)) return *code;

  const bool withLog = optionGiven(context, options, "log");
  const bool inAddress = optionGiven(context, options, "index-in-address");
  int failed = 0;
  for (const auto& request : requests) {
    ProtocolLogList log;
    auto p = parameterFromTemplate(*findTemplate(session.tree, request.name), request, inAddress,
                                   withLog ? &log : nullptr);
    const int result = session.link->Transact(true, p.get(), withLog ? &log : nullptr);
    if (withLog) {
      finishLog(log, true, result, *p);
      printLog(context, log);
    }
    if (result == 0) {
      printLine(context, request.shownName + " = " + p->value);
    } else {
      ++failed;
      reportFailure(context, request, *p, result);
    }
  }
  return exitCodeAfter(session, failed);
}

// ---------------------------------------------------------------- set

// The partners a network setting is checked against.
std::vector<std::string_view> checkPartners(std::string_view name) {
  if (equalsNoCase(name, "Addr")) return {"A.Len", "Prot"};
  if (equalsNoCase(name, "A.Len") || equalsNoCase(name, "Prot")) return {"Addr"};
  if (equalsNoCase(name, "PrtY")) return {"LEn", "Sbit"};
  if (equalsNoCase(name, "LEn")) return {"PrtY", "Sbit"};
  if (equalsNoCase(name, "Sbit")) return {"PrtY", "LEn"};
  return {};
}

int runSet(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("set");
  ParsedOptions options;
  if (auto code = parseCommandOptions(context, command, args, kExchangeSpecs, options)) {
    return *code;
  }
  if (options.operands.empty()) return usageError(context, command, "no NAME=VALUE given");
  std::vector<ParameterRequest> requests;
  for (const std::string& operand : options.operands) {
    const std::size_t eq = operand.find('=');
    if (eq == std::string::npos) return usageError(context, command, "'" + operand + "' is not NAME=VALUE");
    ParameterRequest request;
    std::string error;
    if (!parseNameAndIndex(std::string_view(operand).substr(0, eq), request, error)) {
      return usageError(context, command, error);
    }
    request.value = operand.substr(eq + 1);
    requests.push_back(std::move(request));
  }

  ModuleSession session(context.err);
  if (!loadTree(context, command, options, session)) return kExitFailure;
  const bool inAddress = optionGiven(context, options, "index-in-address");
  // Every name and value is checked before anything goes out.
  for (const auto& request : requests) {
    const ParamTemplate* t = findTemplate(session.tree, request.name);
    if (t == nullptr) return failure(context, command, undescribedText(request.name));
    auto p = parameterFromTemplate(*t, request, inAddress, nullptr);
    std::string stored;
    if (!p->AcceptsText(request.value, stored)) {
      session.ui.showMessage(refusalText(*p, request.value), "Неудалось изменить параметер", MessageIcon::Stop);
      return kExitFailure;
    }
  }
  if (auto code = makeLink(context, command, options, session)) return *code;
  if (auto code = openLink(session)) return *code;

  // The module's network settings as far as this run knows them, for the combination checks.
  ObjectWithParameters network;
  for (std::string_view name : {"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr", "Prot"}) {
    if (const ParamTemplate* t = findTemplate(session.tree, name)) {
      network.AddParameter(parameterFromTemplate(*t, ParameterRequest{std::string(name), std::string(name)}, false,
                                                 nullptr));
    }
  }

  const bool withLog = optionGiven(context, options, "log");
  int failed = 0;
  for (const auto& request : requests) {
    ProtocolLogList log;
    auto p = parameterFromTemplate(*findTemplate(session.tree, request.name), request, inAddress,
                                   withLog ? &log : nullptr);
    (void)p->SetValueFromText(request.value);

    Parameter* known = request.index ? nullptr : network.FindParameter(p->name);
    if (known != nullptr) {
      // What the check needs of the module's other settings is read first.
      bool partnersKnown = true;
      for (std::string_view partner : checkPartners(p->name)) {
        Parameter* other = network.FindParameter(partner);
        if (other == nullptr || other->value != kNoDataText) continue;
        const int r = session.link->Transact(true, other);
        if (r != 0) {
          reportFailure(context, ParameterRequest{std::string(partner), std::string(partner)}, *other, r);
          partnersKnown = false;
          break;
        }
      }
      if (!partnersKnown) {
        ++failed;
        std::fprintf(context.err, "%s: not written: the module's network settings could not be checked\n",
                     request.shownName.c_str());
        continue;
      }
      if (!CheckNetworkEdit(network, p->name, p->value, &session.ui)) {
        ++failed;
        continue;
      }
    }

    const int result = session.link->Transact(false, p.get(), withLog ? &log : nullptr);
    if (withLog) {
      finishLog(log, false, result, *p);
      printLog(context, log);
    }
    if (result == 0) {
      printLine(context, request.shownName + " = " + p->value);
      if (known != nullptr) known->value = p->value;
      if (IsNetworkSettingName(p->name)) session.link->state().networkSettingsWritten.store(true);
    } else {
      ++failed;
      reportFailure(context, request, *p, result);
    }
  }
  if (session.link->state().networkSettingsWritten.load()) {
    std::fprintf(context.err, "kvtr set: the module takes new network settings only after 'kvtr apply'\n");
  }
  return exitCodeAfter(session, failed);
}

// ---------------------------------------------------------------- apply

int runApply(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("apply");
  ParsedOptions options;
  if (auto code = parseCommandOptions(context, command, args, kApplySpecs, options)) return *code;
  if (!options.operands.empty()) return usageError(context, command, "no arguments expected");
  if (options.has("once") && !options.has("broadcast")) return usageError(context, command, "--once goes with --broadcast");
  ApplyOptions applyOptions;
  applyOptions.changeProgramSettings = !options.has("no-switch");
  applyOptions.broadcast = options.has("broadcast");
  applyOptions.threeTimes = !options.has("once");

  ModuleSession session(context.err);
  if (!loadTree(context, command, options, session)) return kExitFailure;
  if (auto code = makeLink(context, command, options, session)) return *code;
  if (auto code = openLink(session)) return *code;
  DeviceLink& link = *session.link;

  // The program follows the module to the settings the module holds now; they are read at the
  // old settings, before APLY.
  DescBranch* network = session.tree.networkSettings();
  if (applyOptions.changeProgramSettings) {
    if (network == nullptr) return failure(context, command, "the descriptor has no network settings branch");
    int failed = 0;
    for (std::string_view name : kNetworkSettingNames) {
      Parameter* p = network->FindParameter(name);
      if (p == nullptr) continue;
      const int r = link.Transact(true, p);
      if (r != 0) {
        ++failed;
        reportFailure(context, ParameterRequest{std::string(name), std::string(name)}, *p, r);
      }
    }
    if (failed != 0) {
      std::fprintf(context.err, "APLY not sent: the module's network settings could not be read\n");
      return exitCodeAfter(session, failed);
    }
    link.setDeviceNetworkNode(network);
  }

  LinkParameterSteps steps(link);
  const ApplyOutcome out = RunApplySequence(link, steps, applyOptions, nullptr);
  if (out.applyResult == 0) {
    printLine(context, "APLY: sent");
  } else {
    std::fprintf(context.err, "APLY: %s\n", std::string(trimRight(out.applyComment)).c_str());
  }
  if (out.switched) {
    printLine(context, ApplyDialogSettingsText(&link, network));
    // The module listens at the new settings from now on; so does the program next time.
    const StoredPortSettings saved = ProgramPortSettings(link.programPortNode(), loadPortSettings(*session.store));
    if (!savePortSettings(*session.store, saved)) {
      std::fprintf(context.err, "kvtr apply: the new port settings could not be stored\n");
    }
    if (out.deviceResult == 0) printLine(context, "dev = " + out.deviceName);
    else std::fprintf(context.err, "%s", out.report.c_str());
  }
  if (out.repeatedSends > 0) printLine(context, strprintf("APLY repeated %d times", out.repeatedSends));
  return exitCodeAfter(session, out.ok() ? 0 : 1);
}

}  // namespace

std::span<const Command> moduleCommands() { return kCommands; }

}  // namespace kvtr::cli
