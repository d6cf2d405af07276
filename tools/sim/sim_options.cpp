#include "sim/sim_options.h"

#include <charconv>
#include <cmath>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "common/utf8_path.h"
#include "model/text_encoding.h"

namespace kvtr::sim {

namespace {

template <typename T>
bool readNumber(std::string_view text, T& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

bool readProbability(std::string_view text, double& out) {
  // std::from_chars for double is missing from GCC 12's library on some targets; strtod is
  // locale-dependent, so the digits are read by hand: 0, 1, 0.25, .5
  double value = 0.0;
  double scale = 0.0;
  bool digits = false;
  for (const char c : text) {
    if (c == '.' && scale == 0.0) {
      scale = 1.0;
    } else if (c >= '0' && c <= '9') {
      digits = true;
      if (scale == 0.0) {
        value = value * 10 + (c - '0');
      } else {
        scale /= 10;
        value += (c - '0') * scale;
      }
    } else {
      return false;
    }
  }
  if (!digits || value > 1.0) return false;
  out = value;
  return true;
}

std::optional<ProtocolMode> parseProtocol(std::string_view text) {
  if (text == "native") return ProtocolMode::Native;
  if (text == "rtu") return ProtocolMode::ModbusRtu;
  if (text == "ascii") return ProtocolMode::ModbusAscii;
  if (text == "percent") return ProtocolMode::PercentCommand;
  return std::nullopt;
}

// Options that take no value.
bool isFlag(std::string_view name) { return name == "help" || name == "wire-time"; }

}  // namespace

bool SetFaultField(FaultRule& rule, std::string_view field, std::string_view value, std::string& error) {
  if (field == "probability") {
    if (!readProbability(value, rule.probability)) {
      error = "a probability is a number from 0 to 1: " + std::string(value);
      return false;
    }
    return true;
  }
  int number = 0;
  if (!readNumber(value, number) || number < 0) {
    error = "not a count: " + std::string(value);
    return false;
  }
  if (field == "every") {
    rule.every = number;
  } else if (field == "first") {
    rule.first = number;
  } else {
    error = "a fault rule is 'every', 'first' or 'probability', not " + std::string(field);
    return false;
  }
  return true;
}

OptionsResult ParseOptions(const std::vector<std::string>& args) {
  OptionsResult result;
  SimOptions& o = result.options;
  std::string& error = result.error;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg.substr(0, 2) != "--" || arg.size() == 2) {
      error = strprintf(trFormat("лишний аргумент: %s"), std::string(arg).c_str());
      return result;
    }
    arg.remove_prefix(2);
    std::string name(arg.substr(0, arg.find('=')));
    std::string value;
    if (arg.find('=') != std::string_view::npos) {
      value = std::string(arg.substr(arg.find('=') + 1));
    } else if (!isFlag(name)) {
      if (i + 1 >= args.size()) {
        error = strprintf(trFormat("параметру --%s нужно значение"), name.c_str());
        return result;
      }
      value = args[++i];
    }
    int number = 0;
    auto needNumber = [&](int low, int high) {
      if (!readNumber(value, number) || number < low || number > high) {
        error = strprintf(trFormat("--%s принимает число от %d до %d, а не «%s»"), name.c_str(), low, high, value.c_str());
        return false;
      }
      return true;
    };
    if (name == "help") {
      o.help = true;
    } else if (name == "wire-time") {
      o.wireTime = true;
    } else if (name == "descriptor") {
      o.descriptor = pathFromUtf8(value);
    } else if (name == "link") {
      o.link = pathFromUtf8(value);
    } else if (name == "tcp" || name == "rfc2217") {
      if (!needNumber(0, 65535)) return result;
      if (o.networkPort) {
        error = tr("--tcp и --rfc2217 задаются не вместе");
        return result;
      }
      o.networkPort = number;
      o.rfc2217 = name == "rfc2217";
    } else if (name == "baud") {
      if (!readNumber(value, number) || speedPosition(number) < 0) {
        error = tr("--baud принимает одну из скоростей прибора: 2400 4800 9600 14400 19200 28800 38400 57600 115200");
        return result;
      }
      o.line.baud = number;
    } else if (name == "data-bits") {
      if (!needNumber(7, 8)) return result;
      o.line.dataBits = number;
    } else if (name == "parity") {
      o.line.parity = parseParity(value);
      if (!o.line.parity) {
        error = tr("--parity принимает none, even или odd");
        return result;
      }
    } else if (name == "stop-bits") {
      if (!needNumber(1, 2)) return result;
      o.line.stopBits = number;
    } else if (name == "address") {
      if (!needNumber(0, 2047)) return result;
      o.line.address = number;
    } else if (name == "address-length") {
      if (!readNumber(value, number) || (number != 8 && number != 11)) {
        error = tr("--address-length принимает 8 или 11");
        return result;
      }
      o.line.addressBits = number;
    } else if (name == "protocol") {
      o.protocol = parseProtocol(value);
      if (!o.protocol) {
        error = tr("--protocol принимает native, rtu, ascii или percent");
        return result;
      }
    } else if (name == "dev" || name == "ver") {
      bool lossless = true;
      if (utf8ToCp1251(value, &lossless).size() > 8 || !lossless) {
        error = strprintf(trFormat("--%s принимает текст не длиннее 8 символов"), name.c_str());
        return result;
      }
      (name == "dev" ? o.identity.device : o.identity.version) = value;
    } else if (name == "inputs") {
      if (value == "auto") {
        o.inputs.automatic = true;
      } else {
        if (!needNumber(0, 0xFFF)) return result;
        o.inputs.automatic = false;
        o.inputs.mask = static_cast<std::uint16_t>(number);
      }
    } else if (name == "input-period") {
      if (!needNumber(1, 3600000)) return result;
      o.inputs.halfPeriodMs = number;
    } else if (name == "seed") {
      std::uint64_t seed = 0;
      if (!readNumber(value, seed)) {
        error = tr("--seed принимает число");
        return result;
      }
      o.faults.seed = seed;
      o.inputs.seed = seed;
    } else if (name == "state") {
      o.stateFile = pathFromUtf8(value);
    } else if (name == "log") {
      o.logFile = pathFromUtf8(value);
    } else if (name == "control") {
      o.control = value;
    } else if (name == "delay-ms") {
      if (!needNumber(0, 600000)) return result;
      o.faults.delayMs = number;
    } else if (name == "late-ms") {
      if (!needNumber(0, 600000)) return result;
      o.faults.lateMs = number;
    } else if (name == "slow-reply") {
      if (!needNumber(0, 60000)) return result;
      o.faults.slowReplyMs = number;
    } else {
      // --KIND-every, --KIND-first, --KIND-probability
      const std::size_t dash = name.rfind('-');
      const std::optional<FaultKind> kind =
          dash == std::string::npos ? std::nullopt : parseFaultName(std::string_view(name).substr(0, dash));
      if (!kind) {
        error = strprintf(trFormat("неизвестный параметр --%s"), name.c_str());
        return result;
      }
      if (!SetFaultField(o.faults.rule(*kind), std::string_view(name).substr(dash + 1), value, error)) {
        error = "--" + name + ": " + error;
        return result;
      }
    }
  }
  const LineSettings line = o.line.ApplyTo(LineSettings{});
  if (o.networkPort && !o.link.empty()) {
    error = tr("--link делает ссылку на псевдотерминал, а с --tcp и --rfc2217 его нет");
  } else if (o.line.address.value_or(0) > 255 && o.line.addressBits.value_or(8) != 11) {
    error = tr("адресу больше 255 нужен --address-length 11");
  } else if (o.line.parity && o.line.dataBits && o.line.stopBits && !refusedCombination(line, 0).empty()) {
    error = tr("прибор не принимает сочетание ") + refusedCombination(line, 0);
  } else if (o.protocol && *o.protocol != ProtocolMode::Native && o.line.addressBits.value_or(8) != 8) {
    error = tr("чужие протоколы используют 8-битные адреса");
  }
  return result;
}

std::string UsageText() {
  return tr(R"(Использование: kvtr-sim [ПАРАМЕТРЫ]
Модуль КВТР, смоделированный на псевдотерминале или за шлюзом по сети (--tcp, --rfc2217).
Первой строкой печатает путь к подчиненной стороне псевдотерминала или имя порта шлюза и
работает до SIGTERM, SIGINT или SIGHUP (с --control - также до конца
стандартного ввода).

  --help                  показать эту справку и выйти
  --descriptor ПУТЬ       файл описателя kvtr.tree.dat (по умолчанию рядом с программой)
  --link ПУТЬ             также сделать ПУТЬ символической ссылкой на псевдотерминал
                          (удаляется при выходе)
  --tcp ПОРТ              вместо псевдотерминала быть шлюзом Ethernet — RS-485 в режиме
                          «TCP-сервер» на 127.0.0.1:ПОРТ (0 — свободный порт); первой строкой
                          печатается имя порта для программы, tcp://127.0.0.1:ПОРТ
  --rfc2217 ПОРТ          то же, но шлюз RFC 2217 (rfc2217://127.0.0.1:ПОРТ): программа задает
                          скорость, четность и стоп-биты по сети, и прибор не отвечает, если
                          они не совпадают с его собственными (об этом пишется в stderr)
Параметры линии прибора (не заданные берутся из файла состояния --state, иначе
подставляются значения по умолчанию):
  --baud N                скорость, бод: 2400 4800 9600 14400 19200 28800 38400 57600 115200
                          (по умолчанию 9600)
  --data-bits 7|8         длина слова данных (по умолчанию 8; псевдотерминал ее не передает,
                          поэтому она не сверяется)
  --parity none|even|odd  четность (по умолчанию none; четность even на псевдотерминале не видна)
  --stop-bits 1|2         число стоп-бит (по умолчанию 1)
  --address N             базовый адрес 0..2047 (по умолчанию 16)
  --address-length 8|11   длина адреса, бит (по умолчанию 8)
  --protocol native|rtu|ascii|percent
                          начать в чужом протоколе: отвечать только на его команду переключения
Прибор:
  --dev ТЕКСТ, --ver ТЕКСТ  ответы на «dev» и «ver» (по умолчанию KVTR и 1.0)
  --inputs auto|МАСКА     входы меняются сами (по умолчанию) или стоят по 12-битной маске
  --input-period МС       вход k меняется каждые (k+1) × МС миллисекунд (по умолчанию 500)
  --state ФАЙЛ            хранить память прибора в ФАЙЛЕ между запусками
  --log ФАЙЛ              по строке на посылку: «RX <посылка>», «TX <посылка>», «-- <заметка>»
  --control ПУТЬ|-        команды управления из FIFO (создается, если его нет) или, с «-», со
                          стандартного ввода; на каждую в стандартный вывод идет «ok» или
                          «error: ...»
Время и сбои:
  --wire-time             каждый символ занимает свое время на заданной скорости, в обе стороны
  --delay-ms МС           добавочная пауза перед каждым ответом
  --slow-reply МС         посылать ответ по символу, через МС после каждого
  --late-ms МС            на сколько опаздывает сбой late (по умолчанию 500)
  --ВИД-every N           сбой на каждом N-м ответе
  --ВИД-first N           сбой на первых N ответах
  --ВИД-probability P     сбой на каждом ответе с вероятностью P (0..1)
                          ВИД: drop garbage lost-start bad-crc other-hash late
  --seed N                делает всякий случайный выбор повторяемым (по умолчанию 1)

Команды управления: fault ВИД every N|first N|probability P|off; faults off; delay МС;
slow МС; late-ms МС; wire-time on|off; inputs auto|МАСКА; attr ИМЯ ИНДЕКС БАЙТ; factory; save;
ping; frames (число принятых посылок); frames N (ответ, когда принято N посылок).
)");
}

std::optional<ControlCommand> ParseControl(std::string_view line, std::string& error) {
  const std::vector<std::string_view> t = splitTokens(line, " \t\r\n");
  ControlCommand c;
  if (t.empty()) {
    error = "empty command";
    return std::nullopt;
  }
  auto count = [&](std::size_t n) {
    if (t.size() != n) error = strprintf("'%s' takes %zu argument(s)", std::string(t[0]).c_str(), n - 1);
    return t.size() == n;
  };
  auto number = [&](std::string_view text, int low, int high, int& out) {
    if (!readNumber(text, out) || out < low || out > high) {
      error = strprintf("expected a number from %d to %d, not '%s'", low, high, std::string(text).c_str());
      return false;
    }
    return true;
  };
  const std::string_view word = t[0];
  if (word == "ping" || word == "factory" || word == "save") {
    if (!count(1)) return std::nullopt;
    c.kind = word == "ping" ? ControlCommand::Kind::Ping
             : word == "factory" ? ControlCommand::Kind::Factory
                                 : ControlCommand::Kind::Save;
  } else if (word == "frames") {
    c.kind = ControlCommand::Kind::Frames;
    if (t.size() == 2) {
      if (!number(t[1], 0, 0x7FFFFFFF, c.number)) return std::nullopt;
      c.flag = true;
    } else if (!count(1)) {
      return std::nullopt;
    }
  } else if (word == "faults") {
    if (!count(2) || t[1] != "off") {
      error = "expected 'faults off'";
      return std::nullopt;
    }
    c.kind = ControlCommand::Kind::FaultsOff;
  } else if (word == "fault") {
    const std::optional<FaultKind> kind = t.size() >= 3 ? parseFaultName(t[1]) : std::nullopt;
    if (!kind) {
      error = "expected 'fault KIND ...' with KIND drop garbage lost-start bad-crc other-hash late";
      return std::nullopt;
    }
    c.kind = ControlCommand::Kind::Fault;
    c.fault = *kind;
    if (t[2] != "off") {
      if (!count(4) || !SetFaultField(c.rule, t[2], t[3], error)) return std::nullopt;
    } else if (!count(3)) {
      return std::nullopt;
    }
  } else if (word == "delay" || word == "slow" || word == "late-ms") {
    if (!count(2) || !number(t[1], 0, 600000, c.number)) return std::nullopt;
    c.kind = word == "delay" ? ControlCommand::Kind::Delay
             : word == "slow" ? ControlCommand::Kind::Slow
                              : ControlCommand::Kind::LateMs;
  } else if (word == "wire-time") {
    if (!count(2) || (t[1] != "on" && t[1] != "off")) {
      error = "expected 'wire-time on' or 'wire-time off'";
      return std::nullopt;
    }
    c.kind = ControlCommand::Kind::WireTime;
    c.flag = t[1] == "on";
  } else if (word == "inputs") {
    if (!count(2)) return std::nullopt;
    if (t[1] == "auto") {
      c.kind = ControlCommand::Kind::InputsAuto;
    } else {
      if (!number(t[1], 0, 0xFFF, c.number)) return std::nullopt;
      c.kind = ControlCommand::Kind::InputsFixed;
    }
  } else if (word == "attr") {
    if (!count(4) || !number(t[2], 0, 65535, c.index) || !number(t[3], 0, 3, c.number)) return std::nullopt;
    c.kind = ControlCommand::Kind::Attributes;
    c.name = std::string(t[1]);
  } else {
    error = "unknown command '" + std::string(word) + "'";
    return std::nullopt;
  }
  return c;
}

}  // namespace kvtr::sim
