// The link's cost per transaction against libmodbus, in one run on one machine, with no wire time
// on either side: each stack talks over its own pseudo-terminal pair to a server in another
// process, one value a transaction.
//
//   libmodbus: an RTU master (modbus_read_registers, one holding register) against a libmodbus
//              RTU server that owns the pair's master side (modbus_set_socket) in a child process.
//   kvtr:      DeviceLink reading one parameter (t.Ans) from kvtr-sim, which answers at once.
//
// Printed per side: transactions per second, the master's CPU per transaction (its own thread's
// processor time), the server's CPU per transaction (from /proc), and the ratios kvtr / libmodbus.
// Each side runs --rounds rounds of --count transactions, alternately, and the median round counts.
//
//   peer_bench [--count N] [--rounds R] [--side both|kvtr|libmodbus]
// "--side" runs one stack alone, for counting its system calls: strace -c peer_bench --side kvtr.
#include <modbus.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "model/parameter.h"
#include "protocol/device_link.h"
#include "sim_bench_support.h"

namespace kvtr {
namespace {

struct Round {
  double txPerSecond = 0;
  double masterCpuUs = 0;  // per transaction
  double serverCpuUs = 0;  // per transaction
  int failures = 0;
};

double threadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// User and system time of a process, in seconds (clock-tick resolution).
double processCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::vector<std::string> fields;
  std::size_t at = close + 2;
  while (at < text.size()) {
    const auto end = text.find(' ', at);
    fields.push_back(text.substr(at, end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  // After the name: state is field 3, utime 14 and stime 15 (1-based over the whole line).
  if (fields.size() < 13) return 0;
  const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
  return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / ticks;
}

template <typename Transaction>
Round measure(int count, pid_t server, Transaction&& transaction) {
  Round r;
  const double serverBefore = processCpuSeconds(server);
  const double cpuBefore = threadCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    if (!transaction()) ++r.failures;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.masterCpuUs = (threadCpuSeconds() - cpuBefore) * 1e6 / count;
  r.serverCpuUs = (processCpuSeconds(server) - serverBefore) * 1e6 / count;
  r.txPerSecond = count / seconds;
  return r;
}

// ------------------------------------------------------------------ libmodbus

class ModbusPair {
 public:
  ModbusPair() {
    int masterFd = -1;
    int slaveFd = -1;
    char name[256] = {};
    if (::openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) return;
    termios raw{};
    ::tcgetattr(masterFd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(masterFd, TCSANOW, &raw);
    server_ = ::fork();
    if (server_ == 0) {
      ::close(slaveFd);
      serve(masterFd);
      ::_exit(0);
    }
    ::close(masterFd);
    ctx_ = modbus_new_rtu(name, 115200, 'N', 8, 1);
    modbus_set_slave(ctx_, 1);
    modbus_set_response_timeout(ctx_, 0, 500000);
    if (modbus_connect(ctx_) != 0) {
      modbus_free(ctx_);
      ctx_ = nullptr;
    }
    // The slave side stays open here until the master has its own descriptor.
    ::close(slaveFd);
  }
  ~ModbusPair() {
    if (ctx_ != nullptr) {
      modbus_close(ctx_);
      modbus_free(ctx_);
    }
    if (server_ > 0) {
      ::kill(server_, SIGTERM);
      int status = 0;
      ::waitpid(server_, &status, 0);
    }
  }
  ModbusPair(const ModbusPair&) = delete;
  ModbusPair& operator=(const ModbusPair&) = delete;

  [[nodiscard]] bool ready() const { return ctx_ != nullptr && server_ > 0; }
  [[nodiscard]] pid_t server() const { return server_; }
  bool readOne() {
    std::uint16_t value = 0;
    return modbus_read_registers(ctx_, 0, 1, &value) == 1 && value == 1234;
  }

 private:
  static void serve(int fd) {
    modbus_t* ctx = modbus_new_rtu("/dev/null", 115200, 'N', 8, 1);
    modbus_set_slave(ctx, 1);
    modbus_set_socket(ctx, fd);
    modbus_mapping_t* map = modbus_mapping_new(0, 0, 16, 0);
    map->tab_registers[0] = 1234;
    std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    for (;;) {
      const int n = modbus_receive(ctx, query);
      if (n > 0) {
        modbus_reply(ctx, query, n, map);
      } else if (n < 0 && errno != EMBBADCRC && errno != EMBBADDATA) {
        break;
      }
    }
    modbus_mapping_free(map);
    modbus_free(ctx);
  }

  pid_t server_ = -1;
  modbus_t* ctx_ = nullptr;
};

// ------------------------------------------------------------------ kvtr

class KvtrPair {
 public:
  KvtrPair() : sim_({"--baud", "115200", "--inputs", "0"}), parameter_("t.Ans", "int", "Задержка ответа, мс") {
    if (sim_.port().empty()) return;
    DeviceLinkOptions options;
    options.state = &state_;
    options.portChoices = sim_.port();
    link_ = std::make_unique<DeviceLink>(options);
    link_->programPortNode().SetValueByName("Port", sim_.port());
    link_->programPortNode().SetValueByName("bPS", "115200");
    link_->serialPort().settings().automaticConverter = 1;
    if (link_->OpenLink(false) != 0) {
      link_.reset();
      return;
    }
    // The module answers at once.
    parameter_.value = "0";
    if (link_->Transact(false, &parameter_) != 0) link_.reset();
  }
  [[nodiscard]] bool ready() const { return link_ != nullptr; }
  [[nodiscard]] pid_t server() const { return sim_.pid(); }
  bool readOne() { return link_->Transact(true, &parameter_) == 0 && parameter_.value == "0"; }

 private:
  SimRunner sim_;
  LinkState state_;
  Parameter parameter_;
  std::unique_ptr<DeviceLink> link_;
};

Round median(std::vector<Round> rounds) {
  std::sort(rounds.begin(), rounds.end(), [](const Round& a, const Round& b) { return a.txPerSecond < b.txPerSecond; });
  return rounds[rounds.size() / 2];
}

void print(const char* side, const char* frames, const Round& r) {
  std::printf("%-10s %10.0f %10.1f %12.2f %12.2f %9d   %s\n", side, r.txPerSecond, 1e6 / r.txPerSecond,
              r.masterCpuUs, r.serverCpuUs, r.failures, frames);
}

int run(int count, int rounds, const std::string& side) {
  const bool withModbus = side != "kvtr";
  const bool withKvtr = side != "libmodbus";
  std::unique_ptr<ModbusPair> modbus;
  std::unique_ptr<KvtrPair> kvtr;
  if (withModbus) {
    modbus = std::make_unique<ModbusPair>();
    if (!modbus->ready()) {
      std::fprintf(stderr, "peer_bench: the libmodbus pair could not be set up\n");
      return 1;
    }
  }
  if (withKvtr) {
    kvtr = std::make_unique<KvtrPair>();
    if (!kvtr->ready()) {
      std::fprintf(stderr, "peer_bench: the simulated module could not be started or reached\n");
      return 1;
    }
  }
  // Warm-up: caches, page faults, the servers' first turns.
  for (int i = 0; i < 500; ++i) {
    if (modbus) modbus->readOne();
    if (kvtr) kvtr->readOne();
  }
  std::vector<Round> modbusRounds;
  std::vector<Round> kvtrRounds;
  for (int round = 0; round < rounds; ++round) {
    if (modbus) modbusRounds.push_back(measure(count, modbus->server(), [&] { return modbus->readOne(); }));
    if (kvtr) kvtrRounds.push_back(measure(count, kvtr->server(), [&] { return kvtr->readOne(); }));
  }
  std::printf("%d rounds of %d transactions each, no wire time, median round:\n", rounds, count);
  std::printf("%-10s %10s %10s %12s %12s %9s   %s\n", "stack", "tx/s", "us/tx", "master CPU", "server CPU",
              "failures", "bytes on the line per transaction");
  const char* modbusFrames = "8 request + 7 answer (RTU: read 1 holding register, binary)";
  const char* kvtrFrames = "14 request + 16 answer (native: read t.Ans, ASCII hex, CR-ended)";
  Round m;
  Round k;
  if (modbus) print("libmodbus", modbusFrames, m = median(modbusRounds));
  if (kvtr) print("kvtr", kvtrFrames, k = median(kvtrRounds));
  if (modbus && kvtr) {
    std::printf("ratio kvtr/libmodbus: rate %.2f (>= 1 is as fast or faster), master CPU %.2f (<= 1 is as lean or leaner), "
                "server CPU %.2f\n",
                k.txPerSecond / m.txPerSecond, k.masterCpuUs / m.masterCpuUs,
                m.serverCpuUs > 0 ? k.serverCpuUs / m.serverCpuUs : 0.0);
  }
  const bool failed = std::any_of(modbusRounds.begin(), modbusRounds.end(), [](const Round& r) { return r.failures > 0; }) ||
                      std::any_of(kvtrRounds.begin(), kvtrRounds.end(), [](const Round& r) { return r.failures > 0; });
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace kvtr

int main(int argc, char** argv) {
  int count = 20000;
  int rounds = 5;
  std::string side = "both";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--count") count = std::max(1, std::atoi(argv[i + 1]));
    else if (option == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    else if (option == "--side") side = argv[i + 1];
  }
  return kvtr::run(count, rounds, side);
}
