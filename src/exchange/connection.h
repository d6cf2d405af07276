// Making the module answer: the connection procedure run when the document is created, by the
// connection dialog's worker and by the network scan.
//
// The procedure opens the port with the program's port settings and asks the module who it is,
// first behind an automatic RS-485 converter, then behind a semi-automatic one. When neither
// works the module may be running one of the foreign protocols: the protocol-switch command goes
// out in Modbus RTU, Modbus ASCII and the '%' command protocol, and the first that the module
// takes brings it back to the device protocol.
#pragma once

#include <functional>

namespace kvtr {

class DeviceLink;
class Event;
class ExchangeEngine;

// The answers of the device identification ('dev', then 'ver').
inline constexpr int kIdentifyNoAnswer = 0;     // 'dev' was not answered
inline constexpr int kIdentifyOtherDevice = 2;  // a device answered, but not the КВТР module
inline constexpr int kIdentifyKvtr = 3;         // the КВТР module answered

// Identifies the device at the link's current settings without showing anything; returns one of
// the three answers above. The exchange engine's IdentifyDevice(0).
using DeviceIdentifier = std::function<int()>;

// The connection procedure. True when the КВТР module answered, or a foreign protocol's switch
// command was taken. On return the protocol mode is native; after a failure the converter flag
// is 0 (semi-automatic), after a success it is the kind that worked.
//
// Link status: an identification of the module clears the bits 8 and 64; another device stores
// 64 and the procedure goes on; a taken switch command clears the bits 4 and 64.
//
// `abort`, when given, is looked at before each identification and each switch command: once it
// is set the procedure stops there and returns false, so that an interrupted scan ends within
// the exchange it is in. Without it every attempt is made.
bool Connect(DeviceLink& link, const DeviceIdentifier& identify, const Event* abort = nullptr);

// The engine's IdentifyDevice(0) as an identifier.
[[nodiscard]] DeviceIdentifier EngineIdentifier(ExchangeEngine& engine);

// The connection check of the document: every attempt, with the engine's identification.
bool Connect(ExchangeEngine& engine);

}  // namespace kvtr
