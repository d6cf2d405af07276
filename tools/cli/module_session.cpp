#include "module_session.h"

#include <cstdlib>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "descriptor_option.h"
#include "protocol/network_settings.h"
#include "protocol/port_names.h"
#include "protocol/serial_settings.h"

namespace kvtr::cli {

std::vector<OptionSpec> withPortOptions(std::initializer_list<OptionSpec> own) {
  std::vector<OptionSpec> optionSpecs(std::begin(kPortOptionSpecs), std::end(kPortOptionSpecs));
  optionSpecs.insert(optionSpecs.end(), own.begin(), own.end());
  return optionSpecs;
}

std::optional<std::string> optionValue(const CommandContext& context, const ParsedOptions& options,
                                       std::string_view name) {
  if (auto v = options.value(name)) return v;
  if (context.global != nullptr) return context.global->value(name);
  return std::nullopt;
}

bool optionGiven(const CommandContext& context, const ParsedOptions& options, std::string_view name) {
  return options.has(name) || (context.global != nullptr && context.global->has(name));
}

bool loadTree(CommandContext& context, const Command& command, const ParsedOptions& options, ModuleSession& session) {
  return loadDescriptorTree(context, command, options, session.tree);
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
  session.link = std::make_unique<ExchangeEngine>(linkOptions);
  ExchangeEngine& link = *session.link;
  const StoredPortSettings stored = loadPortSettings(*session.store);
  LoadProgramPortNode(link.programPortNode(), stored);
  link.serialPort().setComPortMap(parseComPortMap(stored.comPortMap));
  NetRS485prg& node = link.programPortNode();

  auto number = [&](std::string_view name, std::int64_t low, std::int64_t high) -> std::optional<std::int64_t> {
    return parseNumber(*optionValue(context, options, name), low, high);
  };
  if (auto port = optionValue(context, options, "port")) {
    if (trim(*port).empty()) return usageError(context, command, tr("пустое значение --port"));
    node.SetValueByName(kPortParameterName, *port);
  }
  if (optionValue(context, options, "baud")) {
    const auto baud = number("baud", 1, 10'000'000);
    if (!baud || !isAcceptedBaudRate(static_cast<int>(*baud))) {
      return usageError(context, command, strprintf(trFormat("неподдерживаемая скорость --baud «%s»"),
                                                    optionValue(context, options, "baud")->c_str()));
    }
    node.SetValueByName("bPS", std::to_string(*baud));
  }
  if (optionValue(context, options, "data-bits")) {
    const auto bits = number("data-bits", 5, 8);
    if (!bits) return usageError(context, command, tr("--data-bits принимает значения от 5 до 8"));
    node.SetValueByName("LEn", std::to_string(*bits));
  }
  if (auto parity = optionValue(context, options, "parity")) {
    const std::string p = toLowerAscii(*parity);
    if (p == "none" || p == "no" || p == "n") node.SetValueByName("PrtY", kParityNoneText);
    else if (p == "even" || p == "e") node.SetValueByName("PrtY", kParityEvenText);
    else if (p == "odd" || p == "o") node.SetValueByName("PrtY", kParityOddText);
    else return usageError(context, command, tr("--parity принимает none, even или odd"));
  }
  if (optionValue(context, options, "stop-bits")) {
    const auto bits = number("stop-bits", 1, 2);
    if (!bits) return usageError(context, command, tr("--stop-bits принимает 1 или 2"));
    node.SetValueByName("Sbit", std::to_string(*bits));
  }
  if (optionValue(context, options, "address-length")) {
    const auto bits = number("address-length", 8, 11);
    if (!bits || (*bits != 8 && *bits != 11)) return usageError(context, command, tr("--address-length принимает 8 или 11"));
    node.SetValueByName("A.Len", std::to_string(*bits));
  }
  if (optionValue(context, options, "address")) {
    const auto address = number("address", 0, 2047);
    if (!address) return usageError(context, command, tr("--address принимает значения от 0 до 2047"));
    node.SetValueByName("Addr", std::to_string(*address));
  }
  // The address must fit the address length, whichever of the two came from the options.
  const int addressBits = std::atoi(node.GetValueByName("A.Len").c_str());
  const int address = std::atoi(node.GetValueByName("Addr").c_str());
  if (address > (addressBits > 8 ? 2047 : 255)) {
    return usageError(context, command,
                      strprintf(trFormat("адрес %d не помещается в %d-битную адресацию (см. --address-length)"), address,
                                addressBits > 8 ? 11 : 8));
  }
  // Most converters sold today turn the line round by themselves; the program tries that kind
  // first as well.
  std::uint32_t automatic = 1;
  if (auto converter = optionValue(context, options, "converter")) {
    if (*converter == "auto") automatic = 1;
    else if (*converter == "semi") automatic = 0;
    else return usageError(context, command, tr("--converter принимает auto или semi"));
  }
  link.serialPort().settings().automaticConverter = automatic;
  link.setAttributesSuppressed(optionGiven(context, options, "no-attributes"));
  return std::nullopt;
}

// Opens the port; the exit code when it cannot be opened (its message is already shown).
std::optional<int> openLink(ModuleSession& session) {
  if (session.link->OpenLink(true) == 0) return std::nullopt;
  // The message with its reason is on the terminal already; the error log gets it too.
  session.link->AppendErrorLog(kPortParameterName, session.link->PortFailureText());
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

}  // namespace kvtr::cli
