// The list of the configuration files opened or saved last (4 entries, newest first), kept in the
// program's per-user settings ("Configurator - KVTR").
#pragma once

#include <QString>
#include <QStringList>

namespace kvtr::ui {

class RecentFiles {
 public:
  static constexpr int kMaxEntries = 4;

  // A file moves to the top; the oldest entry drops off the end.
  void add(const QString& path);
  void remove(const QString& path);
  [[nodiscard]] QStringList files() const;

 private:
  void Store(const QStringList& files);
};

}  // namespace kvtr::ui
