#include "protocol/port_names.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace kvtr {
namespace {

namespace fs = std::filesystem;

TEST(PortNames, ComNumbers) {
  const std::pair<const char*, std::optional<int>> rows[] = {
      {"COM1", 1},   {"com12", 12},       {"Com256", 256},     {"COM257", std::nullopt},
      {"COM0", std::nullopt}, {"COM01", std::nullopt}, {"COM", std::nullopt}, {"COM1a", std::nullopt},
      {"ttyS0", std::nullopt}, {"COM-1", std::nullopt},
  };
  for (const auto& [name, number] : rows) EXPECT_EQ(comPortNumber(name), number) << name;
}

TEST(PortNames, ResolvedPaths) {
  const ComPortMap map = {{3, "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"}};
  const std::pair<const char*, const char*> rows[] = {
      {"COM1", "/dev/ttyS0"},
      {"com2", "/dev/ttyS1"},
      {"COM3", "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"},
      {"COM10", "/dev/ttyS9"},
      {"ttyUSB0", "/dev/ttyUSB0"},
      {"/dev/pts/4", "/dev/pts/4"},
      {"./sim-link", "./sim-link"},
      {"COM0", "/dev/COM0"},
  };
  for (const auto& [name, path] : rows) EXPECT_EQ(resolvePortPath(name, map), path) << name;
  EXPECT_EQ(resolvePortPath("COM3"), "/dev/ttyS2") << "without a map the on-board rule applies";
}

TEST(PortNames, ComPortMapText) {
  const ComPortMap map = parseComPortMap(" COM3 = /dev/ttyUSB0 ;com4=/dev/ttyACM0\nCOMX=/dev/x;COM5=;junk;COM6=/dev/ttyUSB1");
  const ComPortMap expected = {{3, "/dev/ttyUSB0"}, {4, "/dev/ttyACM0"}, {6, "/dev/ttyUSB1"}};
  EXPECT_EQ(map, expected);
}

// A small /sys and /dev as the kernel and udev lay them out.
class FakeSystemTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kvtr-ports-" + std::to_string(std::random_device{}()));
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  }
  // A tty class entry linking to its device folder, which links to its driver.
  void addTty(const std::string& name, const fs::path& deviceDir, const std::string& driver) {
    const fs::path devices = root_ / "sys/devices";
    const fs::path ttyDir = devices / deviceDir / "tty" / name;
    fs::create_directories(ttyDir);
    fs::create_directories(root_ / "sys/class/tty");
    fs::create_directory_symlink(ttyDir, root_ / "sys/class/tty" / name);
    if (!driver.empty()) {
      fs::create_directories(root_ / "sys/bus/drivers" / driver);
      fs::create_directory_symlink(root_ / "sys/bus/drivers" / driver, devices / deviceDir / "driver");
    }
    fs::create_directory_symlink(devices / deviceDir, ttyDir / "device");
  }
  void addVirtualTty(const std::string& name) {
    fs::create_directories(root_ / "sys/devices/virtual/tty" / name);
    fs::create_directories(root_ / "sys/class/tty");
    fs::create_directory_symlink(root_ / "sys/devices/virtual/tty" / name, root_ / "sys/class/tty" / name);
  }
  void addByIdLink(const std::string& link, const std::string& device) {
    fs::create_directories(root_ / "dev/serial/by-id");
    fs::create_symlink("../../" + device, root_ / "dev/serial/by-id" / link);
  }

  fs::path root_;
};

TEST_F(FakeSystemTree, ListsPortsWithDriversAndTheirStableLinks) {
  // On-board UART: present (type 4 = 16550A) and an empty slot (type 0).
  addTty("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", "port");
  write(root_ / "sys/class/tty/ttyS0/type", "4");
  addTty("ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1", "port");
  write(root_ / "sys/class/tty/ttyS1/type", "0");
  // USB converters: maker and product on the USB device two levels up.
  const fs::path ftdi = "pci0000:00/0000:00:14.0/usb1/1-2";
  write(root_ / "sys/devices" / ftdi / "product", "FT232R USB UART");
  write(root_ / "sys/devices" / ftdi / "manufacturer", "FTDI");
  addTty("ttyUSB0", ftdi / "1-2:1.0/ttyUSB0", "ftdi_sio");
  addByIdLink("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  addTty("ttyUSB10", "pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/ttyUSB10", "ch341-uart");
  addTty("ttyUSB2", "pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/ttyUSB2", "pl2303");
  // A CDC device with only an interface text.
  write(root_ / "sys/devices/pci0000:00/usb2/2-1/2-1:1.0/interface", "RS485 Bridge");
  addTty("ttyACM0", "pci0000:00/usb2/2-1/2-1:1.0", "cdc_acm");
  addByIdLink("usb-Maker_Bridge_01:02-if00", "ttyACM0");
  // Consoles and pseudo-terminal masters have no driver.
  addVirtualTty("tty0");
  addVirtualTty("ptmx");
  addTty("ttyX9", "platform/nodriver", "");

  const auto ports = enumerateSerialPorts(root_);
  ASSERT_EQ(ports.size(), 5u);
  EXPECT_EQ(ports[0].devicePath, "/dev/ttyACM0");
  EXPECT_EQ(ports[0].stablePath, "/dev/serial/by-id/usb-Maker_Bridge_01:02-if00");
  EXPECT_EQ(ports[0].description, "RS485 Bridge");
  EXPECT_EQ(ports[1].devicePath, "/dev/ttyS0");
  EXPECT_EQ(ports[1].stablePath, "");
  EXPECT_EQ(ports[1].description, "port");
  EXPECT_EQ(ports[2].devicePath, "/dev/ttyUSB0");
  EXPECT_EQ(ports[2].stablePath, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  EXPECT_EQ(ports[2].description, "FTDI FT232R USB UART");
  EXPECT_EQ(ports[3].devicePath, "/dev/ttyUSB2");
  EXPECT_EQ(ports[3].description, "pl2303");
  EXPECT_EQ(ports[4].devicePath, "/dev/ttyUSB10");

  // The by-id name with ':' could not be told apart in the list: its device path stands in.
  EXPECT_EQ(joinPortNames(ports),
            "/dev/ttyACM0:/dev/ttyS0:/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0:"
            "/dev/ttyUSB2:/dev/ttyUSB10");
}

TEST_F(FakeSystemTree, MissingFoldersGiveAnEmptyList) {
  EXPECT_TRUE(enumerateSerialPorts(root_).empty());
  EXPECT_EQ(joinPortNames({}), "");
}

}  // namespace
}  // namespace kvtr
