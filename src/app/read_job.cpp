#include "app/read_job.h"

#include <system_error>

#include "common/atomic_file.h"
#include "common/catalogue.h"
#include "common/format.h"
#include "common/utf8_path.h"
#include "exchange/exchange_engine.h"
#include "model/parameter_tree.h"
#include "storage/configuration_file.h"

namespace kvtr {

namespace {

// A file that holds a configuration, or at least something: an empty file loses nothing.
bool fileHasData(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  const auto size = std::filesystem::file_size(path, ec);
  return !ec && size > 0;
}

const char* howTheReadEnded(bool stopped) {
  return stopped ? tr("Чтение параметров прибора прервано") : tr("Чтение параметров прибора завершилось с ошибками");
}

}  // namespace

std::string CheckReadJobFile(const std::filesystem::path& file) {
  if (file.empty()) return tr("Не указан файл, в который сохранить прочитанную конфигурацию.");
  return checkSaveTarget(file);
}

bool ReadJobEndedWhole(const TaskOutcome& outcome, std::uint32_t linkStatus) {
  return !outcome.interrupted && outcome.counts.failed == 0 && linkStatus == 0;
}

ReadJobSaveResult SaveReadJobResult(const ParameterTree& tree, const std::filesystem::path& file, bool endedWhole,
                                    bool stopped) {
  ReadJobSaveResult result;
  if (!endedWhole && fileHasData(file)) {
    result.status = ReadJobSave::KeptExisting;
    result.message = strprintf(trFormat("%s: файл '%s' оставлен без изменений, прочитанное не сохранено."),
                               howTheReadEnded(stopped), utf8FromPath(file).c_str());
    return result;
  }
  std::string error;
  if (!SaveConfigurationFile(tree, file, &error)) {
    result.status = ReadJobSave::Failed;
    result.message = error;
    return result;
  }
  if (endedWhole) {
    result.status = ReadJobSave::Saved;
    return result;
  }
  result.status = ReadJobSave::SavedPartly;
  result.message = strprintf(
      trFormat("%s: в файл '%s' сохранено то, что удалось прочитать; у остальных параметров значение "
               "\"Нет данных\", причина ошибки в комментарии."),
      howTheReadEnded(stopped), utf8FromPath(file).c_str());
  return result;
}

}  // namespace kvtr
