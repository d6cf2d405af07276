#include "protocol/single_parameter.h"

#include <array>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "model/my_converter.h"
#include "protocol/frame_codec.h"

namespace kvtr {

namespace {

// The types whose value is typed rather than chosen from a list.
constexpr std::array<std::string_view, 7> kPlainTypes = {"string", "ASCI",  "int",           "CLK_frm",
                                                         "float",  "name", kUndefinedTypeText};

bool isPlainType(std::string_view type) {
  for (std::string_view plain : kPlainTypes)
    if (equalsNoCase(type, plain)) return true;
  return false;
}

}  // namespace

std::string UndescribedParameterText(std::string_view name) {
  return strprintf(trFormat("Параметер '%.*s' не описан!"), static_cast<int>(name.size()), name.data());
}

const ParamTemplate* FindDescribedTemplate(const std::vector<ParamTemplate>& templates, std::string_view name) {
  auto unmarked = [](std::string_view n) { return !n.empty() && n.front() == '!' ? n.substr(1) : n; };
  const ParamTemplate* marked = nullptr;
  for (const ParamTemplate& t : templates) {
    if (equalsNoCase(t.name, name)) return &t;
    if (marked == nullptr && equalsNoCase(unmarked(t.name), unmarked(name))) marked = &t;
  }
  return marked;
}

CommandDescription DescribeCommand(const std::vector<ParamTemplate>& templates, std::string_view name) {
  CommandDescription d;
  d.hashText = strprintf("0x%X", static_cast<unsigned>(hashName(name)));
  if (const ParamTemplate* t = FindDescribedTemplate(templates, name)) {
    d.type = t->type;
    d.description = replaceAll(t->description, '_', ' ');
  } else {
    d.type = std::string(kUndefinedTypeText);
    d.description = std::string(kUnknownParameterText);
  }
  d.descriptionText = d.description + " (" + d.type + ")";
  if (!isPlainType(d.type)) {
    for (std::string_view item : splitTokens(d.type, ":")) {
      if (item.find("<hide>") != std::string_view::npos) continue;
      d.choices.push_back(replaceAll(item, '_', ' '));
    }
  }
  return d;
}

std::unique_ptr<Parameter> ParameterFromTemplate(const ParamTemplate& t, IndexPlacement placement, int index,
                                                 ProtocolLogList* log) {
  auto p = std::make_unique<Parameter>();
  p->name = !t.name.empty() && t.name.front() == '!' ? t.name.substr(1) : t.name;
  p->type = t.type;
  if (const std::size_t colon = t.type.find(':'); colon != std::string::npos) {
    const std::string word = t.type.substr(0, colon);
    const DecimalReading n = ReadDecimal(std::string_view(t.type).substr(colon + 1), false);
    if ((equalsNoCase(word, "int") || equalsNoCase(word, "CLK_frm") || equalsNoCase(word, "float")) && n.ok &&
        n.value != 0) {
      p->type = word;
    }
  }
  p->description = replaceAll(t.description, '_', ' ');
  p->minimum = t.minimum;
  p->maximum = t.maximum;
  p->attributeMode = t.hasAttributes;
  p->pendingText = t.pendingText;
  if (placement == IndexPlacement::Address) {
    p->addressOffset = index;
    if (log != nullptr) {
      log->push_back(tr("Индекс передается в поле адреса запроса"));
      if (index > 7) log->push_back(tr("Предупреждение: адрес увеличен более чем на 7!"));
    }
  } else if (placement == IndexPlacement::DataField) {
    p->hasIndex = 1;
    p->index = index;
    if (log != nullptr) log->push_back(tr("Индекс передается в посылке запроса"));
  }
  if (log != nullptr) log->push_back(p->name + " (" + p->description + ")");
  return p;
}

void FinishSingleParameterLog(ProtocolLogList& log, bool read, int result, const Parameter& p) {
  if (result != 0) {
    log.push_back(p.comment);
  } else if (!p.comment.empty()) {
    log.push_back(tr("Имеет место ошибка:"));
    log.push_back(p.comment);
  } else if (read) {
    log.push_back(tr("Нет ошибок; строковая нотация ответа:"));
    log.push_back(p.value);
  } else {
    log.push_back(strprintf(trFormat("Нет ошибок; записано. Обратно вернулось='%s'"), p.value.c_str()));
  }
}

}  // namespace kvtr
