#include "ui/recent_files.h"

#include <QFileInfo>
#include <QSettings>

namespace kvtr::ui {

namespace {

constexpr const char* kOrganisation = "Configurator - KVTR";
constexpr const char* kApplication = "KVTR";
constexpr const char* kKey = "Recent File List/files";

}  // namespace

QStringList RecentFiles::files() const {
  QSettings settings(kOrganisation, kApplication);
  QStringList list = settings.value(kKey).toStringList();
  while (list.size() > kMaxEntries) list.removeLast();
  return list;
}

void RecentFiles::add(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  QStringList list = files();
  list.removeAll(absolute);
  list.prepend(absolute);
  Store(list);
}

void RecentFiles::remove(const QString& path) {
  QStringList list = files();
  list.removeAll(path);
  Store(list);
}

void RecentFiles::Store(const QStringList& files) {
  QStringList list = files;
  while (list.size() > kMaxEntries) list.removeLast();
  QSettings settings(kOrganisation, kApplication);
  settings.setValue(kKey, list);
}

}  // namespace kvtr::ui
