// A header over a group of indicators or a table ("Входы", "Выходы"): white text on one line,
// centred on a horizontal gradient from grey to light grey, in a dark grey frame.
#pragma once

#include <QWidget>

namespace kvtr::ui {

class GradientHeader : public QWidget {
  Q_OBJECT

 public:
  explicit GradientHeader(const QString& text, QWidget* parent = nullptr);

  [[nodiscard]] QString text() const { return text_; }
  void setText(const QString& text);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
};

}  // namespace kvtr::ui
