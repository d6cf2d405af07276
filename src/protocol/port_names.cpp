#include "protocol/port_names.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "common/strings.h"

namespace kvtr {

namespace fs = std::filesystem;

std::optional<int> comPortNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 6 || !startsWithNoCase(name, "COM")) return std::nullopt;
  const std::string_view digits = name.substr(3);
  if (digits.front() == '0') return std::nullopt;
  int n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > 256) return std::nullopt;
  return n;
}

std::string resolvePortPath(std::string_view name, const ComPortMap& map) {
  if (name.find('/') != std::string_view::npos) return std::string(name);
  if (const auto n = comPortNumber(name)) {
    if (const auto it = map.find(*n); it != map.end()) return it->second;
    return "/dev/ttyS" + std::to_string(*n - 1);
  }
  return "/dev/" + std::string(name);
}

ComPortMap parseComPortMap(std::string_view text) {
  ComPortMap map;
  for (const std::string_view entry : splitTokens(text, ";\r\n")) {
    const auto eq = entry.find('=');
    if (eq == std::string_view::npos) continue;
    const auto n = comPortNumber(trim(entry.substr(0, eq)));
    const std::string_view path = trim(entry.substr(eq + 1));
    if (!n || path.empty()) continue;
    map[*n] = std::string(path);
  }
  return map;
}

namespace {

std::string readFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  return std::string(trim(line));
}

// "ttyUSB10" sorts after "ttyUSB9": names compare by their text before the trailing number, then
// by the number.
bool naturalLess(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& s) {
    std::size_t i = s.size();
    while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
    const std::string digits = s.substr(i);
    const long number = digits.empty() || digits.size() > 9 ? -1 : std::stol(digits);
    return std::make_pair(s.substr(0, i), number);
  };
  const auto ka = split(a);
  const auto kb = split(b);
  if (ka != kb) return ka < kb;
  return a < b;
}

// Maker and product of a USB converter live a few levels above the tty, on the USB device; the
// interface text sits on the USB interface in between.
std::string describeDevice(const fs::path& deviceDir) {
  std::error_code ec;
  fs::path dir = fs::canonical(deviceDir, ec);
  if (ec) return {};
  std::string interfaceText;
  for (int level = 0; level < 5 && !dir.empty() && dir != dir.root_path(); ++level) {
    const std::string product = readFirstLine(dir / "product");
    if (!product.empty()) {
      const std::string maker = readFirstLine(dir / "manufacturer");
      return maker.empty() ? product : maker + " " + product;
    }
    if (interfaceText.empty()) interfaceText = readFirstLine(dir / "interface");
    dir = dir.parent_path();
  }
  if (!interfaceText.empty()) return interfaceText;
  const fs::path driver = fs::read_symlink(deviceDir / "driver", ec);
  return ec ? std::string() : driver.filename().string();
}

}  // namespace

std::vector<SerialPortInfo> enumerateSerialPorts(const fs::path& root) {
  std::error_code ec;

  // Stable links first: device name -> first link (in name order) that points at it.
  std::map<std::string, std::string> stableLinks;
  std::vector<fs::path> links;
  for (fs::directory_iterator it(root / "dev/serial/by-id", ec), end; !ec && it != end; it.increment(ec)) {
    links.push_back(it->path());
  }
  std::sort(links.begin(), links.end());
  for (const fs::path& link : links) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(link, linkError);
    if (linkError) continue;
    stableLinks.emplace(target.filename().string(), "/dev/serial/by-id/" + link.filename().string());
  }

  std::vector<SerialPortInfo> ports;
  ec.clear();
  for (fs::directory_iterator it(root / "sys/class/tty", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const fs::path device = it->path() / "device";
    std::error_code probe;
    // Virtual consoles, pseudo-terminals and the like have no device with a driver.
    if (!fs::exists(device / "driver", probe)) continue;
    // The legacy UART driver registers a fixed number of slots; an empty one has type 0.
    if (readFirstLine(it->path() / "type") == "0") continue;
    SerialPortInfo info;
    info.devicePath = "/dev/" + name;
    if (const auto link = stableLinks.find(name); link != stableLinks.end()) info.stablePath = link->second;
    info.description = describeDevice(device);
    ports.push_back(std::move(info));
  }
  std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
    return naturalLess(a.devicePath, b.devicePath);
  });
  return ports;
}

std::string joinPortNames(const std::vector<SerialPortInfo>& ports) {
  std::string text;
  for (const SerialPortInfo& port : ports) {
    const std::string& preferred = port.preferredName();
    const std::string& name = preferred.find(':') == std::string::npos ? preferred : port.devicePath;
    if (!text.empty()) text += ':';
    text += name;
  }
  return text;
}

}  // namespace kvtr
