#include "exchange/connection.h"

#include "common/event.h"
#include "exchange/exchange_engine.h"
#include "exchange/group_operations.h"
#include "protocol/device_link.h"

namespace kvtr {

namespace {

// The foreign framings in the order the switch command is tried.
constexpr ProtocolMode kSwitchModes[] = {ProtocolMode::ModbusRtu, ProtocolMode::ModbusAscii,
                                         ProtocolMode::PercentCommand};

bool stopped(const Event* abort) { return abort != nullptr && abort->isSet(); }

void clearStatusBits(LinkState& state, std::uint32_t bits) { state.linkStatus.fetch_and(~bits); }

}  // namespace

bool Connect(DeviceLink& link, const DeviceIdentifier& identify, const Event* abort) {
  LinkState& state = link.state();
  SerialSettings& settings = link.serialPort().settings();
  auto give_up = [&] {
    settings.automaticConverter = 0;
    state.protocolMode.store(static_cast<std::uint8_t>(ProtocolMode::Native));
    return false;
  };

  settings.automaticConverter = 0;
  // A port that cannot be opened has been reported; the attempts still run (and fail at once)
  // so that the link status tells what happened. Only "no communication" ends it here.
  if (link.OpenLink(true) != 0 && link.communicationOff()) return false;

  // Automatic converter first, then semi-automatic: the flag is toggled from 0.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (stopped(abort)) return give_up();
    settings.automaticConverter ^= 1u;
    state.protocolMode.store(static_cast<std::uint8_t>(ProtocolMode::Native));
    const int found = identify ? identify() : kIdentifyNoAnswer;
    if (found == kIdentifyKvtr) {
      clearStatusBits(state, link_status::kLineErrors | link_status::kOtherDevice);
      return true;
    }
    if (found == kIdentifyOtherDevice) state.linkStatus.store(link_status::kOtherDevice);
  }

  settings.automaticConverter = 1;
  for (const ProtocolMode mode : kSwitchModes) {
    if (stopped(abort)) return give_up();
    state.protocolMode.store(static_cast<std::uint8_t>(mode));
    if (link.Transact(false, nullptr) == kTransactOk) {
      clearStatusBits(state, link_status::kNoAnswer | link_status::kOtherDevice);
      state.protocolMode.store(static_cast<std::uint8_t>(ProtocolMode::Native));
      return true;
    }
  }
  return give_up();
}

DeviceIdentifier EngineIdentifier(ExchangeEngine& engine) {
  return [&engine] { return engine.operations().IdentifyDevice(false); };
}

bool Connect(ExchangeEngine& engine) { return Connect(engine, EngineIdentifier(engine)); }

}  // namespace kvtr
