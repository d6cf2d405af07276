// "Произвольный доступ к отдельным параметрам (Single Point)": reads or writes any parameter the
// descriptor describes, by name, outside the tree, and shows the whole protocol log of the
// exchange with every frame read back into words. The index may go into the data field or into
// the address, which ordinary operations decide by themselves.
//
// The exchange runs on the GUI thread while the dialog is modal; the link's port lock keeps it
// apart from the exchange and polling threads.
#pragma once

#include <QDialog>
#include <vector>

#include "model/param_template.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace kvtr {
class DeviceLink;
}

namespace kvtr::ui {

class FrameLogView;
class QtUserInterface;

class SingleParameterDialog final : public QDialog {
  Q_OBJECT

 public:
  SingleParameterDialog(DeviceLink& link, const std::vector<ParamTemplate>& templates, QtUserInterface& ui,
                        QWidget* parent = nullptr);

  // "Выполнить!": builds the parameter from its template and runs one transaction.
  void Execute();

  [[nodiscard]] FrameLogView& frameLog() { return *log_; }

 private:
  // The command name changed: its hash, description, type and the values to offer.
  void UpdateCommand();
  void UpdateOperation();
  void UpdateIndexControls();

  DeviceLink& link_;
  const std::vector<ParamTemplate>& templates_;
  QtUserInterface& ui_;
  QComboBox* command_;
  QLineEdit* hash_;
  QLabel* valueLabel_;
  QComboBox* value_;
  QRadioButton* read_;
  QRadioButton* write_;
  QCheckBox* indexPresent_;
  QLineEdit* index_;
  QRadioButton* indexInData_;
  QRadioButton* indexInAddress_;
  QLineEdit* description_;
  FrameLogView* log_;
};

}  // namespace kvtr::ui
