#include "sim/line_settings.h"

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"

namespace kvtr::sim {

double LineSettings::characterMs() const {
  const int bits = 1 + dataBits + (parity == Parity::None ? 0 : 1) + stopBits;
  return bits * 1000.0 / baud;
}

std::string LineSettings::describe() const {
  const char parityLetter = parity == Parity::None ? 'N' : parity == Parity::Even ? 'E' : 'O';
  return strprintf(trFormat("%d %d%c%d, адрес %d/%d"), baud, dataBits, parityLetter, stopBits, address, addressBits);
}

LineSettings LineOverrides::ApplyTo(LineSettings line) const {
  line.baud = baud.value_or(line.baud);
  line.dataBits = dataBits.value_or(line.dataBits);
  line.parity = parity.value_or(line.parity);
  line.stopBits = stopBits.value_or(line.stopBits);
  line.address = address.value_or(line.address);
  line.addressBits = addressBits.value_or(line.addressBits);
  return line;
}

int speedPosition(int baud) {
  for (std::size_t i = 0; i < std::size(kModuleSpeeds); ++i) {
    if (kModuleSpeeds[i] == baud) return static_cast<int>(i);
  }
  return -1;
}

std::optional<Parity> parseParity(std::string_view text) {
  if (equalsNoCase(text, "none") || equalsNoCase(text, "n")) return Parity::None;
  if (equalsNoCase(text, "even") || equalsNoCase(text, "e")) return Parity::Even;
  if (equalsNoCase(text, "odd") || equalsNoCase(text, "o")) return Parity::Odd;
  return std::nullopt;
}

std::string_view parityName(Parity parity) {
  switch (parity) {
    case Parity::Even: return "even";
    case Parity::Odd: return "odd";
    case Parity::None: break;
  }
  return "none";
}

NetworkBytes toNetworkBytes(const LineSettings& line) {
  NetworkBytes b;
  const int speed = speedPosition(line.baud);
  b.bps = static_cast<std::uint8_t>(speed < 0 ? 2 : speed);
  b.dataBits = line.dataBits == 7 ? 0 : 1;
  b.parity = static_cast<std::uint8_t>(line.parity);
  b.stopBits = line.stopBits == 2 ? 1 : 0;
  b.addressLength = line.addressBits == 11 ? 1 : 0;
  b.address = static_cast<std::uint16_t>(line.address);
  return b;
}

std::optional<LineSettings> fromNetworkBytes(const NetworkBytes& b) {
  if (b.bps >= std::size(kModuleSpeeds) || b.dataBits > 1 || b.parity > 2 || b.stopBits > 1 || b.addressLength > 1) {
    return std::nullopt;
  }
  LineSettings line;
  line.baud = kModuleSpeeds[b.bps];
  line.dataBits = b.dataBits == 0 ? 7 : 8;
  line.parity = static_cast<Parity>(b.parity);
  line.stopBits = b.stopBits == 0 ? 1 : 2;
  line.addressBits = b.addressLength == 0 ? 8 : 11;
  line.address = b.address;
  return line;
}

std::string refusedCombination(const LineSettings& line, int protocol) {
  if (line.address > 2047) return tr("адрес больше 2047");
  if (line.address > 255 && line.addressBits != 11) return tr("адрес больше 255 при 8-битной адресации");
  if (line.address > 255 && protocol != 0) return tr("адрес больше 255 в чужом протоколе");
  if (line.parity != Parity::None && line.dataBits == 8 && line.stopBits == 2) {
    return tr("четность при 8 битах данных и 2 стоп-битах");
  }
  return {};
}

bool hears(const LineSettings& line, const LineView& view) {
  return view.baud == line.baud && view.stopBits == line.stopBits && view.oddParity == (line.parity == Parity::Odd);
}

std::string mismatchText(const LineSettings& line, const LineView& view) {
  const char* odd = tr("нечетность");
  const char* notOdd = tr("не нечетность");
  return strprintf(trFormat("линия %d бод, стоп-бит %d, %s; прибор %d бод, стоп-бит %d, %s"), view.baud,
                   view.stopBits, view.oddParity ? odd : notOdd, line.baud, line.stopBits,
                   line.parity == Parity::Odd ? odd : notOdd);
}

}  // namespace kvtr::sim
