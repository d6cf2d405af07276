// The About box: the program's name and version, its legal notice and the system it runs on.
#pragma once

#include <QDialog>

namespace kvtr::ui {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);

  // "Конфигуратор КВТР, версия 1.0.0"
  [[nodiscard]] static QString VersionLine();
};

}  // namespace kvtr::ui
