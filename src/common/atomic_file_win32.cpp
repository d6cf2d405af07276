#include <windows.h>

#include <algorithm>
#include <random>

#include "common/atomic_file.h"
#include "common/catalogue.h"
#include "common/format.h"
#include "common/utf8_path.h"

namespace kvtr {
namespace {

bool fail(std::string* error, const std::filesystem::path& target, const char* step, DWORD code) {
  if (error != nullptr) {
    // The step is marked where it is named.
    *error = strprintf(trFormat("Не удалось сохранить файл '%s': %s (код %lu)"), utf8FromPath(target).c_str(), tr(step),
                       code);
  }
  return false;
}

}  // namespace

bool folderTakesNewFiles(const std::filesystem::path& folder, std::string& cause) {
  // The folder's attributes say little about the right to write on Windows; a file made and gone
  // at once says it all.
  std::random_device seed;
  std::mt19937_64 random(seed());
  const std::filesystem::path probe =
      folder / strprintf(".kvtr-probe.%016llx.tmp", static_cast<unsigned long long>(random()));
  const HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    cause = code == ERROR_ACCESS_DENIED ? std::string(tr("нет прав на запись")) : strprintf(trFormat("код %lu"), code);
    return false;
  }
  ::CloseHandle(file);
  return true;
}

bool writeFileAtomically(const std::filesystem::path& requested, std::span<const std::uint8_t> bytes,
                         std::string* error) {
  const SaveTarget resolved = resolveSaveTarget(requested);
  if (!resolved.refusal.empty()) {
    if (error != nullptr) *error = resolved.refusal;
    return false;
  }
  const std::filesystem::path& target = resolved.file;
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  // What killed saves of this file left behind goes first. A running save opened its temporary
  // file without sharing, so the system refuses to delete that one.
  for (const auto& leftover : temporariesOf(target)) ::DeleteFileW(leftover.c_str());

  std::random_device seed;
  std::mt19937_64 random(seed());
  std::filesystem::path tempPath;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    tempPath = folder / pathFromUtf8(strprintf(".%s.%016llx.tmp", utf8FromPath(target.filename()).c_str(),
                                               static_cast<unsigned long long>(random())));
    file = ::CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) return fail(error, requested, trMark("создание временного файла"), ::GetLastError());

  const char* step = nullptr;
  DWORD code = 0;
  std::size_t done = 0;
  while (step == nullptr && done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      step = trMark("запись");
      code = ::GetLastError();
    }
    done += written;
  }
  if (step == nullptr && !::FlushFileBuffers(file)) {
    step = trMark("сброс на диск");
    code = ::GetLastError();
  }
  ::CloseHandle(file);
  if (step == nullptr &&
      !::MoveFileExW(tempPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    step = trMark("переименование");
    code = ::GetLastError();
  }
  if (step != nullptr) {
    ::DeleteFileW(tempPath.c_str());
    return fail(error, requested, step, code);
  }
  return true;
}

}  // namespace kvtr
