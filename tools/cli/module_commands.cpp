// Module commands: the serial ports of the computer, and reading, writing and switching the
// module over the line. Parameters are known by the descriptor; the port settings are the stored
// ones, with any given on the command line in their place for this run.
#include "command.h"
#include "interrupt_scope.h"
#include "module_session.h"
#include "terminal_progress.h"


#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "common/catalogue.h"
#include "common/event.h"
#include "common/format.h"
#include "common/strings.h"
#include "common/user_interface.h"
#include "exchange/connection.h"
#include "exchange/exchange_engine.h"
#include "exchange/group_operations.h"
#include "exchange/network_scan.h"
#include "model/descriptor_loader.h"
#include "model/descriptor_storage.h"
#include "model/parameter_tree.h"
#include "protocol/apply_sequence.h"
#include "protocol/device_link.h"
#include "protocol/frame_decoder.h"
#include "protocol/frame_trace.h"
#include "protocol/link_parameter_steps.h"
#include "protocol/network_settings.h"
#include "protocol/port_names.h"
#include "protocol/serial_settings.h"
#include "protocol/single_parameter.h"
#include "storage/offline_edit.h"

namespace kvtr::cli {

namespace {

int runPorts(CommandContext& context, std::span<const std::string> args);
int runGet(CommandContext& context, std::span<const std::string> args);
int runSet(CommandContext& context, std::span<const std::string> args);
int runApply(CommandContext& context, std::span<const std::string> args);
int runScan(CommandContext& context, std::span<const std::string> args);

constexpr std::string_view kApplyUsage = trMark(
    "[--new-baud N] [--new-data-bits 7|8] [--new-parity none|even|odd] [--new-stop-bits 1|2] [--new-address A] "
    "[--new-address-length 8|11] [--no-switch] [--broadcast [--once]] [параметры порта]");

constexpr const char* kExchangeHelp = trMark(
    "Параметры:\n"
    "  --log               протокол обмена: запрос, ответ и их разбор\n"
    "  --index-in-address  передавать индекс в поле адреса запроса, а не в посылке\n"
    "  --frames            протокол обмена с самими посылками и расшифровкой каждой\n");

constexpr const char* kApplyHelp = trMark(
    "Параметры:\n"
    "  --new-baud N, --new-data-bits 7|8, --new-parity none|even|odd, --new-stop-bits 1|2,\n"
    "  --new-address A, --new-address-length 8|11\n"
    "                 новые сетевые настройки: записываются в прибор перед APLY\n"
    "  --no-switch    не переходить на новые настройки (программа остается на прежних)\n"
    "  --broadcast    послать APLY по широковещательному адресу\n"
    "  --once         с --broadcast: послать один раз, а не три\n");

constexpr Command kCommands[] = {
    {"ports", "", trMark("Перечислить последовательные порты компьютера с тем, что о каждом сообщает система."),
     &runPorts},
    {"get", trMark("ИМЯ[:ИНДЕКС]... [--log | --frames] [--index-in-address] [параметры порта]"),
     trMark("Прочитать параметры из прибора и напечатать «ИМЯ[:ИНДЕКС] = ЗНАЧЕНИЕ» для каждого."), &runGet,
     kExchangeHelp},
    {"set", trMark("ИМЯ[:ИНДЕКС]=ЗНАЧЕНИЕ... [--log | --frames] [--index-in-address] [параметры порта]"),
     trMark("Проверить и записать параметры в прибор; напечатать, что прибор принял."), &runSet, kExchangeHelp},
    {"apply", kApplyUsage,
     trMark("Записать новые сетевые настройки прибора (--new-...), перевести его на них (APLY), перейти на них "
            "в программе и проверить, что прибор отвечает."),
     &runApply, kApplyHelp},
    {"aply", kApplyUsage, trMark("То же, что apply."), &runApply, kApplyHelp},
    {"scan", trMark("[--addresses ОТ-ДО|all] [--quiet] [--no-save] [параметры порта]"),
     trMark("Найти прибор: при сохраненных настройках порта, затем на каждой скорости по очереди; напечатать "
            "найденные скорость, адрес и прибор и сохранить их в настройках порта."),
     &runScan,
     trMark("Параметры:\n"
            "  --addresses ОТ-ДО|all  искать по каждому адресу диапазона (all — по всем, что допускает\n"
            "                         длина адреса): сначала на заданной скорости, затем на остальных;\n"
            "                         без него поиск идет только по адресу из --address или настроек\n"
            "  -q, --quiet            без строк хода поиска, только итог\n"
            "  --no-save              не сохранять найденные скорость и адрес в настройках порта\n")},
};

const Command& commandNamed(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return command;
  }
  return kCommands[0];
}

const std::vector<OptionSpec> kExchangeSpecs =
    withPortOptions({{"log", 0, OptionArgument::None},
                     {"frames", 0, OptionArgument::None},
                     {"index-in-address", 0, OptionArgument::None}});
const std::vector<OptionSpec> kApplySpecs = withPortOptions({{"no-switch", 0, OptionArgument::None},
                                                             {"broadcast", 0, OptionArgument::None},
                                                             {"once", 0, OptionArgument::None},
                                                             {"new-baud", 0, OptionArgument::Required},
                                                             {"new-data-bits", 0, OptionArgument::Required},
                                                             {"new-parity", 0, OptionArgument::Required},
                                                             {"new-stop-bits", 0, OptionArgument::Required},
                                                             {"new-address", 0, OptionArgument::Required},
                                                             {"new-address-length", 0, OptionArgument::Required}});
const std::vector<OptionSpec> kScanSpecs = withPortOptions({{"quiet", 'q', OptionArgument::None},
                                                            {"no-save", 0, OptionArgument::None},
                                                            {"addresses", 0, OptionArgument::Required}});

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
      error = strprintf(trFormat("неверный индекс в «%s» (0..65535)"), std::string(text).c_str());
      return false;
    }
    request.index = static_cast<int>(*index);
  }
  if (request.name.empty()) {
    error = strprintf(trFormat("нет имени параметра в «%s»"), std::string(text).c_str());
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

std::string undescribedText(std::string_view name) { return UndescribedParameterText(name); }

std::unique_ptr<Parameter> parameterFromTemplate(const ParamTemplate& t, const ParameterRequest& request,
                                                 bool indexInAddress, ProtocolLogList* log) {
  const IndexPlacement placement =
      !request.index ? IndexPlacement::None : indexInAddress ? IndexPlacement::Address : IndexPlacement::DataField;
  return ParameterFromTemplate(t, placement, request.index.value_or(0), log);
}

// An index that the tree's parameters of the name do not have, or a missing one where they all
// have one, is refused before anything goes out. A name that no branch holds (a template of the
// descriptor only, such as "CHAr") is taken as given.
std::optional<std::string> indexRefusal(ParameterTree& tree, const ParameterRequest& request) {
  std::string_view name = request.name;
  if (!name.empty() && name.front() == '!') name.remove_prefix(1);
  std::vector<int> indexes;
  bool withoutIndex = false;
  for (DescBranch* top : {tree.root(), tree.scanners()}) {
    if (top == nullptr) continue;
    ParameterTree::ForEachParameter(*top, [&](Parameter& p) {
      if (!equalsNoCase(p.name, name)) return;
      if (p.hasIndex) indexes.push_back(p.index);
      else withoutIndex = true;
    });
  }
  if (indexes.empty() && !withoutIndex) return std::nullopt;
  const std::string shown(name);
  if (!request.index && withoutIndex) return std::nullopt;
  if (request.index && std::find(indexes.begin(), indexes.end(), *request.index) != indexes.end()) return std::nullopt;
  if (indexes.empty()) return strprintf(trFormat("Параметр '%s' задается без индекса"), shown.c_str());
  const auto [lowest, highest] = std::minmax_element(indexes.begin(), indexes.end());
  if (!request.index) {
    return strprintf(trFormat("Параметр '%s' задается с индексом: %s:%i ... %s:%i"), shown.c_str(), shown.c_str(),
                     *lowest, shown.c_str(), *highest);
  }
  return strprintf(trFormat("Параметр '%s:%i' не найден: индексы %s от %i до %i"), shown.c_str(), *request.index,
                   shown.c_str(), *lowest, *highest);
}

// The log; with `frames`, each traced frame line followed by its reading after a tab.
void printLog(CommandContext& context, const ProtocolLogList& log, const FrameContext* frames = nullptr) {
  const std::vector<std::string> meanings = frames != nullptr ? DescribeFrameLog(log, *frames) : std::vector<std::string>{};
  for (std::size_t i = 0; i < log.size(); ++i) {
    printLine(context, i < meanings.size() && !meanings[i].empty() ? log[i] + "\t" + meanings[i] : log[i]);
  }
}

// What the frame reader of a request's log knows.
FrameContext frameContext(ModuleSession& session, const ParameterRequest& request, bool inAddress) {
  FrameContext frames;
  frames.templates = &session.tree.templates();
  frames.addressBits = session.link->serialPort().settings().addressLength;
  frames.baseAddress = session.link->serialPort().settings().baseAddress;
  frames.indexInData = request.index.has_value() && !inAddress;
  return frames;
}

void finishLog(ProtocolLogList& log, bool read, int result, const Parameter& p) {
  FinishSingleParameterLog(log, read, result, p);
}

void reportFailure(CommandContext& context, const ParameterRequest& request, const Parameter& p, int result) {
  const std::string text = !p.comment.empty() ? std::string(trimRight(p.comment))
                                              : strprintf(trFormat("обмен не удался (результат %d)"), result);
  std::fprintf(context.err, "%s: %s\n", request.shownName.c_str(), text.c_str());
}

// ---------------------------------------------------------------- ports

int runPorts(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("ports");
  ParsedOptions options;
  if (auto code = parseCommandOptions(context, command, args, {}, options)) return *code;
  if (!options.operands.empty()) return usageError(context, command, tr("аргументы не нужны"));
  // Another root of the system tree to read the list from serves tests and containers.
  const char* root = std::getenv("KVTR_SYSTEM_ROOT");
  const std::vector<SerialPortInfo> ports =
      root != nullptr && *root != '\0' ? enumerateSerialPorts(root) : SerialPort::availablePorts();
  for (const SerialPortInfo& port : ports) {
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
  if (options.operands.empty()) return usageError(context, command, tr("не названо ни одного параметра"));
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

  const bool withFrames = optionGiven(context, options, "frames");
  const bool withLog = withFrames || optionGiven(context, options, "log");
  const bool inAddress = optionGiven(context, options, "index-in-address");
  int failed = 0;
  for (const auto& request : requests) {
    ProtocolLogList log;
    auto p = parameterFromTemplate(*findTemplate(session.tree, request.name), request, inAddress,
                                   withLog ? &log : nullptr);
    int result = 0;
    {
      std::optional<FrameTrace> trace;
      if (withFrames) trace.emplace(log);
      result = session.link->Transact(true, p.get(), withLog ? &log : nullptr);
    }
    if (withLog) {
      finishLog(log, true, result, *p);
      const FrameContext frames = frameContext(session, request, inAddress);
      printLog(context, log, withFrames ? &frames : nullptr);
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
  if (options.operands.empty()) return usageError(context, command, tr("не задано ни одного ИМЯ=ЗНАЧЕНИЕ"));
  std::vector<ParameterRequest> requests;
  for (const std::string& operand : options.operands) {
    const std::size_t eq = operand.find('=');
    if (eq == std::string::npos) {
      return usageError(context, command, strprintf(trFormat("«%s» не в виде ИМЯ=ЗНАЧЕНИЕ"), operand.c_str()));
    }
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
  // The whole list is checked before anything goes out: every name, index and value.
  std::vector<std::string> stored;
  for (const auto& request : requests) {
    const ParamTemplate* t = findTemplate(session.tree, request.name);
    if (t == nullptr) return failure(context, command, undescribedText(request.name));
    if (const auto refusal = indexRefusal(session.tree, request)) return failure(context, command, *refusal);
    auto p = parameterFromTemplate(*t, request, inAddress, nullptr);
    const ValueCheck check = p->CheckText(request.value);
    if (!check.writable) return failure(context, command, ReadOnlyRefusalMessage(*p));
    if (!check.accepted) {
      session.ui.showMessage(ValueRefusalMessage(*p, request.value), tr(kRefusalCaption.data()), MessageIcon::Stop);
      return kExitFailure;
    }
    stored.push_back(check.stored);
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
  // Every new setting of the list is put in first, and what the checks need of the module's
  // other settings is read; the combination is checked with all of them in place, so that a
  // forbidden one stops the list before its first write, whatever the order of the settings.
  std::vector<std::string_view> networkNames;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    Parameter* known = requests[i].index ? nullptr : network.FindParameter(requests[i].name);
    if (known == nullptr) continue;
    known->value = stored[i];
    networkNames.push_back(known->name);
  }
  for (std::string_view name : networkNames) {
    for (std::string_view partner : checkPartners(name)) {
      Parameter* other = network.FindParameter(partner);
      if (other == nullptr || other->value != kNoDataText) continue;
      const int r = session.link->Transact(true, other);
      if (r != 0) {
        reportFailure(context, ParameterRequest{std::string(partner), std::string(partner)}, *other, r);
        std::fprintf(context.err, "kvtr set: %s\n",
                     tr("ничего не записано: сетевые параметры прибора не удалось прочитать для проверки"));
        return exitCodeAfter(session, 1);
      }
    }
  }
  for (std::string_view name : networkNames) {
    if (!CheckNetworkEdit(network, name, network.GetValueByName(name), &session.ui)) return exitCodeAfter(session, 1);
  }

  const bool withFrames = optionGiven(context, options, "frames");
  const bool withLog = withFrames || optionGiven(context, options, "log");
  int failed = 0;
  for (const auto& request : requests) {
    ProtocolLogList log;
    auto p = parameterFromTemplate(*findTemplate(session.tree, request.name), request, inAddress,
                                   withLog ? &log : nullptr);
    (void)p->SetValueFromText(request.value);
    int result = 0;
    {
      std::optional<FrameTrace> trace;
      if (withFrames) trace.emplace(log);
      result = session.link->Transact(false, p.get(), withLog ? &log : nullptr);
    }
    if (withLog) {
      finishLog(log, false, result, *p);
      const FrameContext frames = frameContext(session, request, inAddress);
      printLog(context, log, withFrames ? &frames : nullptr);
    }
    if (result == 0) {
      printLine(context, request.shownName + " = " + p->value);
      if (IsNetworkSettingName(p->name)) session.link->state().networkSettingsWritten.store(true);
    } else {
      ++failed;
      reportFailure(context, request, *p, result);
    }
  }
  if (session.link->state().networkSettingsWritten.load()) {
    std::fprintf(context.err, "%s", tr("kvtr set: новые сетевые настройки прибор примет только после «kvtr apply»\n"));
  }
  return exitCodeAfter(session, failed);
}

// ---------------------------------------------------------------- apply

// The module's new network settings given as --new-... options, as the texts the settings take.
struct NewSetting {
  std::string name;  // "bPS"
  std::string text;  // "19200"
};

std::optional<int> parseNewSettings(CommandContext& context, const Command& command, const ParsedOptions& options,
                                    std::vector<NewSetting>& out) {
  if (auto v = options.value("new-baud")) out.push_back({"bPS", *v});
  if (auto v = options.value("new-data-bits")) out.push_back({"LEn", *v});
  if (auto v = options.value("new-parity")) {
    const std::string p = toLowerAscii(*v);
    if (p == "none" || p == "no" || p == "n") out.push_back({"PrtY", std::string(kParityNoneText)});
    else if (p == "even" || p == "e") out.push_back({"PrtY", std::string(kParityEvenText)});
    else if (p == "odd" || p == "o") out.push_back({"PrtY", std::string(kParityOddText)});
    else return usageError(context, command, tr("--new-parity принимает none, even или odd"));
  }
  if (auto v = options.value("new-stop-bits")) out.push_back({"Sbit", *v});
  if (auto v = options.value("new-address-length")) out.push_back({"A.Len", *v});
  if (auto v = options.value("new-address")) out.push_back({"Addr", *v});
  return std::nullopt;
}

// A new setting that can only widen what the module accepts (no parity, 7 data bits, 1 stop bit,
// 11-bit addressing) goes out before the others, so that the module never holds a combination
// it refuses on the way to the new one.
bool widens(const NewSetting& s) {
  if (equalsNoCase(s.name, "PrtY")) return s.text == kParityNoneText;
  if (equalsNoCase(s.name, "LEn")) return s.text == "7";
  if (equalsNoCase(s.name, "Sbit")) return s.text == "1";
  if (equalsNoCase(s.name, "A.Len")) return s.text == "11";
  return false;
}

int runApply(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("apply");
  ParsedOptions options;
  if (auto code = parseCommandOptions(context, command, args, kApplySpecs, options)) return *code;
  if (!options.operands.empty()) return usageError(context, command, tr("аргументы не нужны"));
  if (options.has("once") && !options.has("broadcast")) return usageError(context, command, tr("--once — только вместе с --broadcast"));
  ApplyOptions applyOptions;
  applyOptions.changeProgramSettings = !options.has("no-switch");
  applyOptions.broadcast = options.has("broadcast");
  applyOptions.threeTimes = !options.has("once");
  std::vector<NewSetting> newSettings;
  if (auto code = parseNewSettings(context, command, options, newSettings)) return *code;

  ModuleSession session(context.err);
  if (!loadTree(context, command, options, session)) return kExitFailure;
  DescBranch* network = session.tree.networkSettings();
  if ((applyOptions.changeProgramSettings || !newSettings.empty()) && network == nullptr) {
    return failure(context, command, tr("в описателе нет ветви сетевых настроек"));
  }
  // Each new value must be one the setting takes, before anything goes out.
  for (const NewSetting& s : newSettings) {
    const Parameter* p = network->FindParameter(s.name);
    std::string stored;
    if (p == nullptr) return failure(context, command, undescribedText(s.name));
    // A choice outside the lists of speeds, data bits, stop bits and address lengths is a
    // mistake in the option, told below with the choices the program's port takes.
    if (!p->AcceptsText(s.text, stored) && p->kind() != ValueKind::Enumeration) {
      session.ui.showMessage(ValueRefusalMessage(*p, s.text), tr(kRefusalCaption.data()), MessageIcon::Stop);
      return kExitFailure;
    }
  }
  if (auto code = makeLink(context, command, options, session)) return *code;
  DeviceLink& link = *session.link;
  // Speeds, data bits, stop bits and address lengths are the module's own lists, the lists of
  // the program's port settings.
  for (const NewSetting& s : newSettings) {
    if (equalsNoCase(s.name, "Addr")) {
      if (!parseNumber(s.text, 0, 2047)) return usageError(context, command, tr("--new-address принимает значения от 0 до 2047"));
      continue;
    }
    const Parameter* own = link.programPortNode().FindParameter(s.name);
    if (own == nullptr || equalsNoCase(s.name, "PrtY")) continue;
    bool listed = false;
    for (std::string_view choice : splitTokens(own->type, ":")) listed = listed || choice == s.text;
    if (!listed) {
      return usageError(context, command,
                        strprintf(trFormat("%s прибора принимает одно из значений %s, а не «%s»"), s.name.c_str(),
                                  replaceAll(own->type, ':', ' ').c_str(), s.text.c_str()));
    }
  }
  if (auto code = openLink(session)) return *code;

  // The module's settings as it holds them now, read at the old settings before APLY: the
  // program follows the module to them, and the new ones are checked against them.
  if (applyOptions.changeProgramSettings || !newSettings.empty()) {
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
      std::fprintf(context.err, "%s", tr("APLY не послан: не удалось прочитать сетевые настройки прибора\n"));
      return exitCodeAfter(session, failed);
    }
  }

  if (!newSettings.empty()) {
    // The whole new combination is checked with every new value in place, so that the order
    // the options came in does not matter.
    std::vector<std::string> old;
    for (const NewSetting& s : newSettings) {
      Parameter* p = network->FindParameter(s.name);
      old.push_back(p->value);
      (void)p->SetValueFromText(s.text);
    }
    for (const NewSetting& s : newSettings) {
      if (!CheckNetworkEdit(*network, s.name, network->GetValueByName(s.name), &session.ui)) return kExitFailure;
    }
    for (std::size_t i = 0; i < newSettings.size(); ++i) network->FindParameter(newSettings[i].name)->value = old[i];

    std::stable_partition(newSettings.begin(), newSettings.end(), widens);
    LinkParameterSteps writer(link);
    for (const NewSetting& s : newSettings) {
      Parameter* p = network->FindParameter(s.name);
      (void)p->SetValueFromText(s.text);
      const int r = writer.WriteParameter(*p, 1);
      if (r != 0) {
        reportFailure(context, ParameterRequest{s.name, s.name}, *p, r);
        std::fprintf(context.err, "%s", tr("APLY не послан: прибор не принял новые сетевые настройки\n"));
        return exitCodeAfter(session, 1);
      }
      printLine(context, s.name + " = " + p->value);
    }
  }
  if (applyOptions.changeProgramSettings) link.setDeviceNetworkNode(network);

  LinkParameterSteps steps(link);
  const ApplyOutcome out = RunApplySequence(link, steps, applyOptions, nullptr);
  if (out.applyResult == 0) {
    printLine(context, tr("APLY: послан"));
  } else {
    std::fprintf(context.err, "APLY: %s\n", std::string(trimRight(out.applyComment)).c_str());
  }
  if (out.switched) {
    printLine(context, ApplyDialogSettingsText(&link, network));
    // The module listens at the new settings from now on; so does the program next time.
    const StoredPortSettings saved = ProgramPortSettings(link.programPortNode(), loadPortSettings(*session.store));
    if (!savePortSettings(*session.store, saved)) {
      std::fprintf(context.err, "%s", tr("kvtr apply: не удалось сохранить новые настройки порта\n"));
    }
    if (out.deviceResult == 0) {
      printLine(context, "dev = " + out.deviceName);
      // The verdict goes with the other messages, so that what is printed stays the settings.
      std::fprintf(context.err, "%s", tr("Прибор отвечает при новых настройках.\n"));
    } else {
      std::fprintf(context.err, "%s", out.report.c_str());
      std::fprintf(context.err, "%s", tr("Прибор не отвечает при новых настройках.\n"));
    }
  }
  if (out.repeatedSends > 0) printLine(context, strprintf(trFormat("APLY повторен %d раз(а)"), out.repeatedSends));
  return exitCodeAfter(session, out.ok() ? 0 : 1);
}

// ---------------------------------------------------------------- identify and scan

// The progress of a search on the error stream: what is being tried (speed, converter and, in
// an address search, the address). On a terminal one line is redrawn at every identification;
// otherwise a plain line is written whenever the speed or the converter changes. The worker's
// own status lines are left to the dialog: the tool prints its verdict once, at the end.
class TerminalScanProgress final : public ConnectionProgress {
 public:
  TerminalScanProgress(std::FILE* err, bool quiet) : err_(err), quiet_(quiet), redraw_(isTerminal(err)) {}
  ~TerminalScanProgress() override { Clear(); }

  void SetStatus(const std::string&, bool) override {}

  // Called before each identification; `range` is the address range of an address search.
  void Trying(const std::string& speed, bool automaticConverter, std::optional<int> address,
              const std::string& range) {
    if (quiet_) return;
    const char* converter = automaticConverter ? "auto" : "semi";
    std::string step = strprintf(trFormat("Поиск прибора: %s бод, преобразователь %s"), speed.c_str(), converter);
    if (!range.empty()) step += strprintf(trFormat(", адреса %s"), range.c_str());
    if (redraw_) {
      std::string line = step;
      if (address) line += strprintf(trFormat(", адрес %d"), *address);
      std::fprintf(err_, "\r\x1b[2K%s...", line.c_str());
      std::fflush(err_);
      shown_ = true;
    } else if (step != lastStep_) {
      std::fprintf(err_, "%s...\n", step.c_str());
      lastStep_ = step;
    }
  }

  // Erases the redrawn line, so that the verdict starts a clean one.
  void Clear() {
    if (!shown_) return;
    std::fputs("\r\x1b[2K", err_);
    std::fflush(err_);
    shown_ = false;
  }

 private:
  std::FILE* err_;
  const bool quiet_;
  const bool redraw_;
  bool shown_ = false;
  std::string lastStep_;
};

// What the identifications of a search saw.
struct SearchLog {
  DeviceIdentity last;           // the last identification
  DeviceIdentity otherDevice;    // the last one that found another device
  std::string otherDeviceSpeed;  // the speed it answered at
  std::string otherDeviceAddress;  // and the address
};

// The address range of `kvtr scan --addresses`: "FROM-TO", one address, or "all" (every address
// the address length allows).
struct AddressRange {
  int from = 0;
  int to = 0;
};

std::optional<AddressRange> parseAddressRange(std::string_view text, int highest) {
  if (equalsNoCase(trim(text), "all")) return AddressRange{0, highest};
  const std::size_t dash = text.find('-');
  const auto from = parseNumber(text.substr(0, dash), 0, highest);
  const auto to = dash == std::string_view::npos ? from : parseNumber(text.substr(dash + 1), 0, highest);
  if (!from || !to || *from > *to) return std::nullopt;
  return AddressRange{static_cast<int>(*from), static_cast<int>(*to)};
}

int runScan(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("scan");
  ParsedOptions options;
  if (auto code = parseCommandOptions(context, command, args, kScanSpecs, options)) return *code;
  if (!options.operands.empty()) return usageError(context, command, tr("аргументы не нужны"));
  const bool quiet = optionGiven(context, options, "quiet");

  ModuleSession session(context.err);
  if (auto code = makeLink(context, command, options, session)) return *code;
  ExchangeEngine& engine = *session.link;
  NetRS485prg& node = engine.programPortNode();
  LinkState& state = engine.state();

  std::optional<AddressRange> range;
  if (const auto text = options.value("addresses")) {
    const int highest = node.GetValueByName("A.Len") == "11" ? 2047 : 255;
    range = parseAddressRange(*text, highest);
    if (!range) {
      return usageError(context, command,
                        strprintf(trFormat("--addresses принимает ОТ-ДО в пределах 0..%d (с --address-length 11 "
                                           "до 2047) или all"),
                                  highest));
    }
  }

  Event& abort = engine.abortEvent();
  abort.reset();
  // Ctrl+C ends the search after the exchange under way; a second one ends the program.
  InterruptScope interrupt(nullptr, &abort);
  TerminalScanProgress progress(context.err, quiet);

  const std::string rangeText = range ? strprintf("%d..%d", range->from, range->to) : std::string();
  SearchLog seen;
  const DeviceIdentifier identify = [&] {
    const int baseAddress = engine.serialPort().settings().baseAddress;
    progress.Trying(node.GetValueByName("bPS"), engine.serialPort().settings().automaticConverter != 0,
                    range ? std::optional<int>(baseAddress) : std::nullopt, rangeText);
    seen.last = engine.operations().Identify(false);
    if (seen.last.result == kIdentifyOtherDevice) {
      seen.otherDevice = seen.last;
      seen.otherDeviceSpeed = node.GetValueByName("bPS");
      seen.otherDeviceAddress = std::to_string(baseAddress);
    }
    return seen.last.result;
  };
  ConnectionWorker worker(engine, identify, abort, progress);

  bool found = false;
  if (range) {
    // A port that does not open ends the search before the first address.
    if (auto code = openLink(session)) return *code;
    found = worker.SearchAddresses(range->from, range->to).found;
  } else {
    // First the settings as they are, as the program does when it starts.
    found = worker.ConnectNow();
    if (!found && (state.linkStatus.load() & link_status::kPortNotOpened) != 0) {
      progress.Clear();
      return exitCodeOfLinkStatus(state.linkStatus.load());
    }
    if (!found && !abort.isSet()) found = worker.Scan().found;
  }
  progress.Clear();

  if (abort.isSet()) {
    state.linkStatus.store(link_status::kInterrupted);
    std::fprintf(context.err, "%s", tr("kvtr scan: поиск прерван\n"));
    return exitCodeOfLinkStatus(state.linkStatus.load());
  }
  if (!found) {
    if (!seen.otherDevice.device.empty()) {
      // The only answer came from a device that is not the module: that is what the run reports.
      state.linkStatus.store(link_status::kOtherDevice);
      std::fprintf(context.err, trFormat("kvtr scan: прибор не найден; ответил другой прибор (%s бод, адрес %s): %s\n"),
                   seen.otherDeviceSpeed.c_str(), seen.otherDeviceAddress.c_str(), seen.otherDevice.device.c_str());
    } else if (range) {
      std::fprintf(context.err, trFormat("kvtr scan: прибор не найден: ни на одной скорости нет ответа по адресам %d..%d\n"),
                   range->from, range->to);
    } else {
      std::fprintf(context.err, trFormat("kvtr scan: прибор не найден: ни на одной скорости нет ответа по адресу %s\n"),
                   node.GetValueByName("Addr").c_str());
    }
    if (!range) {
      // The search asked one address only; the module may listen at another.
      std::fprintf(context.err, "%s",
                   tr("Если адрес прибора неизвестен, ищите по всем адресам: kvtr scan --addresses all\n"));
    }
    const int code = exitCodeOfLinkStatus(state.linkStatus.load());
    return code != 0 ? code : kExitFailure;
  }

  // A module brought back by a switch command has not told who it is yet.
  if (seen.last.result != kIdentifyKvtr) (void)identify();
  printLine(context, "bPS = " + node.GetValueByName("bPS"));
  printLine(context, "Addr = " + node.GetValueByName("Addr"));
  if (!seen.last.device.empty()) printLine(context, "dev = " + seen.last.device);
  if (!seen.last.version.empty()) printLine(context, "ver = " + seen.last.version);
  printLine(context, std::string("converter = ") +
                         (engine.serialPort().settings().automaticConverter != 0 ? "auto" : "semi"));
  if (!options.has("no-save")) {
    const StoredPortSettings saved = ProgramPortSettings(node, loadPortSettings(*session.store));
    if (!savePortSettings(*session.store, saved)) {
      std::fprintf(context.err, "%s", tr("kvtr scan: не удалось сохранить найденные настройки порта\n"));
    }
  }
  std::fprintf(context.err, "%s\n", std::string(kConnectedMessageText).c_str());
  return kExitOk;
}

}  // namespace

std::span<const Command> moduleCommands() { return kCommands; }

}  // namespace kvtr::cli
