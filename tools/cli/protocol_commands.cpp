// Protocol utilities: name hashes, request frames, value encodings and response checks, all
// offline, without a module on the line.
#include "command.h"

#include "common/catalogue.h"
#include "common/format.h"
#include "model/my_converter.h"
#include "protocol/device_errors.h"
#include "protocol/frame_codec.h"

#include <string>
#include <vector>

namespace kvtr::cli {

namespace {

// The defaults of a module as it leaves the factory: address 16, 8-bit addressing.
constexpr int kDefaultAddress = 16;
constexpr int kDefaultAddressBits = 8;

// The messages a transaction gives for a value that cannot be written.
constexpr const char* kNotEncodableText = trMark("Неверное значение (неудается закодировать данные)");
constexpr const char* kNotDecodableText = trMark("Не могу раскодировать ответ");

std::string noWriteMethodText(std::string_view name) {
  return strprintf(trFormat("Метод формирования посылки записи для команды '%.*s' не определен."),
                   static_cast<int>(name.size()), name.data());
}

int runHash(CommandContext& context, std::span<const std::string> args);
int runFrame(CommandContext& context, std::span<const std::string> args);
int runEncode(CommandContext& context, std::span<const std::string> args);
int runDecode(CommandContext& context, std::span<const std::string> args);
int runParse(CommandContext& context, std::span<const std::string> args);

constexpr Command kCommands[] = {
    {"hash", trMark("ИМЯ..."), trMark("Напечатать 16-битную хеш-сумму имени каждого параметра."), &runHash},
    {"frame",
     trMark("(ИМЯ | --hash 0xHHHH) [--write] [--type ТИП --value ТЕКСТ | --data БАЙТЫ...] [--index N] "
            "[--address A] [--address-length 8|11] [--address-offset K]"),
     trMark("Напечатать строку запроса параметра, от «#» до последнего символа тетрад."), &runFrame,
     trMark("Параметры:\n"
            "  --hash 0xHHHH         хеш-сумма вместо имени\n"
            "  --write               запрос записи (без него — чтения)\n"
            "  --type ТИП --value ТЕКСТ  значение, закодированное по типу параметра\n"
            "  --data БАЙТЫ...       поле данных как есть, парами шестнадцатеричных цифр\n"
            "  --index N             индекс параметра (после данных, старший байт первым)\n"
            "  --address A           адрес прибора (по умолчанию 16)\n"
            "  --address-length 8|11 длина адреса, бит (по умолчанию 8)\n"
            "  --address-offset K    смещение адреса (индекс в поле адреса)\n")},
    {"encode", trMark("--type ТИП [--name ИМЯ] ТЕКСТ"),
     trMark("Напечатать байты данных значения, как их несет запрос записи."), &runEncode},
    {"decode", trMark("--type ТИП [--name ИМЯ] БАЙТЫ..."),
     trMark("Напечатать текст байтов данных, как их несет ответ прибора."), &runDecode},
    {"parse", trMark("СТРОКА --hash 0xHHHH"),
     trMark("Проверить принятую строку ответа по хеш-сумме ее запроса; первая строка вывода — ok или причина."),
     &runParse},
};

const Command& commandNamed(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return command;
  }
  return kCommands[0];
}

// Reads the hex arguments into bytes; false after a usage error has been reported.
bool readHexArguments(CommandContext& context, const Command& command, const std::vector<std::string>& texts,
                      std::vector<std::uint8_t>& bytes, int& code) {
  for (const std::string& text : texts) {
    if (!parseHexBytes(text, bytes)) {
      code = usageError(context, command,
                        strprintf(trFormat("неверные байты «%s» (нужны пары шестнадцатеричных цифр, например 00 1F)"),
                                  text.c_str()));
      return false;
    }
  }
  return true;
}

// Runs ConvertToData on `text` and reports a refusal in the transaction's words on the error
// stream. Returns true with the bytes in `field`.
bool encodeValue(CommandContext& context, const MyConverter& converter, const std::string& text, DataField& field) {
  std::string scratch = text;
  const int result = converter.ConvertToData(scratch, field);
  if (result == 1) return true;
  std::string message;
  if (result == 0) {
    message = tr(kNotEncodableText);
  } else if (result == -1 && scratch != LimitScratchText(text)) {
    message = scratch;  // the conversion wrote its reason back (network names)
  } else if (result == -1) {
    message = noWriteMethodText(converter.name);
  } else {
    message = tr("Предупреждение: странный ответ от ConvertToData(...)");
  }
  std::fprintf(context.err, "%s\n", message.c_str());
  return false;
}

int runHash(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("hash");
  ParsedOptions options;
  if (const auto code = parseCommandOptions(context, command, args, {}, options)) return *code;
  if (options.operands.empty()) return usageError(context, command, tr("не задано имя"));
  for (const std::string& name : options.operands) {
    printLine(context, strprintf("%s 0x%04X", name.c_str(), hashName(name)));
  }
  return kExitOk;
}

int runFrame(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("frame");
  static constexpr OptionSpec kSpecs[] = {
      {"hash", 0, OptionArgument::Required},           {"write", 0, OptionArgument::None},
      {"type", 0, OptionArgument::Required},           {"value", 0, OptionArgument::Required},
      {"data", 0, OptionArgument::List},               {"index", 0, OptionArgument::Required},
      {"address", 0, OptionArgument::Required},        {"address-length", 0, OptionArgument::Required},
      {"address-offset", 0, OptionArgument::Required},
  };
  ParsedOptions options;
  if (const auto code = parseCommandOptions(context, command, args, kSpecs, options)) return *code;

  // The parameter: a name, or a bare hash.
  std::string name;
  std::uint16_t hash = 0;
  if (options.operands.size() > 1) return usageError(context, command, tr("задано больше одного имени"));
  const auto hashText = options.value("hash");
  if (options.operands.size() == 1 && hashText) return usageError(context, command, tr("нужно имя или --hash, но не оба"));
  if (options.operands.size() == 1) {
    name = options.operands[0];
    hash = hashName(name);
  } else if (hashText) {
    const auto parsed = parseHashText(*hashText);
    if (!parsed) return usageError(context, command, strprintf(trFormat("неверная хеш-сумма «%s» (нужно 0xHHHH)"), hashText->c_str()));
    hash = *parsed;
  } else {
    return usageError(context, command, tr("не задано ни имя, ни --hash"));
  }

  // The addressing.
  int addressBits = kDefaultAddressBits;
  if (const auto text = options.value("address-length")) {
    if (*text != "8" && *text != "11") return usageError(context, command, tr("--address-length принимает 8 или 11"));
    addressBits = *text == "8" ? 8 : 11;
  }
  const std::int64_t maxAddress = addressBits == 8 ? 255 : 2047;
  std::int64_t base = kDefaultAddress;
  if (const auto text = options.value("address")) {
    const auto parsed = parseNumber(*text, 0, maxAddress);
    if (!parsed) {
      return usageError(context, command,
                        strprintf(trFormat("неверный адрес «%s» (0..%i при %i-битной адресации)"), text->c_str(),
                                  static_cast<int>(maxAddress), addressBits));
    }
    base = *parsed;
  }
  std::int64_t offset = 0;
  if (const auto text = options.value("address-offset")) {
    const auto parsed = parseNumber(*text, -maxAddress, maxAddress);
    if (!parsed) return usageError(context, command, strprintf(trFormat("неверное смещение адреса «%s»"), text->c_str()));
    offset = *parsed;
  }
  const int address = frameAddress(static_cast<int>(base), static_cast<int>(offset));
  if (address < 0 || address > maxAddress) {
    return usageError(context, command,
                      strprintf(trFormat("адрес %d + смещение %d = %d не помещается в %i-битную адресацию"), static_cast<int>(base),
                                static_cast<int>(offset), address, addressBits));
  }

  // The data field: a value converted by its type, or bytes as they are, then the index.
  const auto type = options.value("type");
  const auto value = options.value("value");
  const bool hasData = options.has("data");
  if (type.has_value() != value.has_value()) return usageError(context, command, tr("--type и --value задаются вместе"));
  if (type && hasData) return usageError(context, command, tr("нужно --type/--value или --data, но не оба"));
  std::vector<std::uint8_t> data;
  if (type) {
    MyConverter converter(name);
    converter.type = *type;
    converter.value = *value;
    DataField field;
    if (!encodeValue(context, converter, *value, field)) return kExitFailure;
    data.assign(field.view().begin(), field.view().end());
  } else if (hasData) {
    int code = kExitOk;
    if (!readHexArguments(context, command, options.values("data"), data, code)) return code;
  }
  if (const auto text = options.value("index")) {
    const auto index = parseNumber(*text, 0, 0xFFFF);
    if (!index) return usageError(context, command, strprintf(trFormat("неверный индекс «%s» (0..65535)"), text->c_str()));
    // An index travels after the value, high byte first.
    data.push_back(static_cast<std::uint8_t>(*index >> 8));
    data.push_back(static_cast<std::uint8_t>(*index & 0xFF));
  }
  if (data.size() > kMaxFrameData) {
    return failure(context, command,
                   strprintf(trFormat("поле данных вмещает не больше %zu байт; этому запросу нужно %zu"), kMaxFrameData,
                             data.size()));
  }

  const RequestLine line = buildRequest(!options.has("write"), hash, data, address, addressBits);
  // The line as it goes out, without its carriage return.
  printLine(context, line.text().substr(0, line.length - 1));
  return kExitOk;
}

// The converter the encode and decode commands work with.
std::optional<int> converterFromOptions(CommandContext& context, const Command& command, const ParsedOptions& options,
                                        MyConverter& converter) {
  const auto type = options.value("type");
  if (!type) return usageError(context, command, tr("не задан --type"));
  converter.type = *type;
  if (const auto name = options.value("name")) converter.name = *name;
  return std::nullopt;
}

constexpr OptionSpec kConversionSpecs[] = {
    {"type", 0, OptionArgument::Required},
    {"name", 0, OptionArgument::Required},
};

int runEncode(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("encode");
  ParsedOptions options;
  if (const auto code = parseCommandOptions(context, command, args, kConversionSpecs, options)) return *code;
  MyConverter converter;
  if (const auto code = converterFromOptions(context, command, options, converter)) return *code;
  if (options.operands.size() != 1) return usageError(context, command, tr("нужен ровно один ТЕКСТ"));
  converter.value = options.operands[0];
  DataField field;
  if (!encodeValue(context, converter, options.operands[0], field)) return kExitFailure;
  printLine(context, formatHexBytes(field.view()));
  return kExitOk;
}

int runDecode(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("decode");
  ParsedOptions options;
  if (const auto code = parseCommandOptions(context, command, args, kConversionSpecs, options)) return *code;
  MyConverter converter;
  if (const auto code = converterFromOptions(context, command, options, converter)) return *code;
  std::vector<std::uint8_t> data;
  int code = kExitOk;
  if (!readHexArguments(context, command, options.operands, data, code)) return code;

  std::string text;
  const int result = converter.ConvertFromData(data, text);
  if (result == 1) {
    printLine(context, text);
    return kExitOk;
  }
  std::fprintf(context.err, "%s\n", result == -1 ? text.c_str() : tr(kNotDecodableText));
  return kExitFailure;
}

int runParse(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("parse");
  static constexpr OptionSpec kSpecs[] = {{"hash", 0, OptionArgument::Required}};
  ParsedOptions options;
  if (const auto code = parseCommandOptions(context, command, args, kSpecs, options)) return *code;
  if (options.operands.size() != 1) return usageError(context, command, tr("нужна ровно одна СТРОКА"));
  const auto hashText = options.value("hash");
  if (!hashText) return usageError(context, command, tr("не задан --hash"));
  const auto hash = parseHashText(*hashText);
  if (!hash) return usageError(context, command, strprintf(trFormat("неверная хеш-сумма «%s» (нужно 0xHHHH)"), hashText->c_str()));

  // A received frame ends with its carriage return; a line typed without one gets it here.
  std::string line = options.operands[0];
  if (line.empty() || line.back() != kFrameEnd) line += kFrameEnd;

  const ParsedResponse response = parseResponse(line, *hash);
  switch (response.status) {
    case ResponseStatus::Ok:
      printLine(context, "ok");
      printLine(context, formatHexBytes(response.data()));
      return kExitOk;
    case ResponseStatus::DeviceError:
      if (response.hasDeviceErrorCode()) {
        printLine(context, strprintf(trFormat("ошибка прибора %d"), response.deviceErrorCode()));
        printLine(context, deviceErrorText(response.deviceErrorCode()));
      } else {
        // An error reply without its code byte says nothing more.
        printLine(context, tr("ошибка прибора"));
        printLine(context, "");
      }
      return kExitFailure;
    case ResponseStatus::LostFrameStart:
    case ResponseStatus::CrcError:
    case ResponseStatus::OtherHash: {
      std::string_view message = responseMessage(response.status);
      // One of the texts ends with its own line end.
      if (!message.empty() && message.back() == '\n') message.remove_suffix(1);
      printLine(context, message);
      return kExitFailure;
    }
  }
  return kExitFailure;
}

}  // namespace

std::span<const Command> protocolCommands() { return kCommands; }

}  // namespace kvtr::cli
