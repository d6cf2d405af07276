// Pictures of the windows for the user guide: taken only when KVTR_SCREENSHOTS names the folder
// to write them into, so that an ordinary test run leaves nothing behind.
#pragma once

#include <QDir>
#include <QString>
#include <QWidget>
#include <cstdlib>

namespace kvtr::test {

inline void saveScreenshot(QWidget& window, const QString& fileName) {
  const char* folder = std::getenv("KVTR_SCREENSHOTS");
  if (folder == nullptr || *folder == '\0') return;
  QDir().mkpath(QString::fromLocal8Bit(folder));
  (void)window.grab().save(QDir(QString::fromLocal8Bit(folder)).filePath(fileName));
}

}  // namespace kvtr::test
