#include "ui/single_parameter_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>

#include "common/user_interface.h"
#include "protocol/device_link.h"
#include "protocol/frame_trace.h"
#include "protocol/single_parameter.h"
#include "ui/frame_log.h"
#include "ui/qt_user_interface.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

namespace {

constexpr const char* kTitle = trMark("Произвольный доступ к отдельным параметрам (Single Point)");
constexpr const char* kDefaultCommand = "!vEr";

}  // namespace

SingleParameterDialog::SingleParameterDialog(DeviceLink& link, const std::vector<ParamTemplate>& templates,
                                             QtUserInterface& ui, QWidget* parent)
    : QDialog(parent),
      link_(link),
      templates_(templates),
      ui_(ui),
      command_(new QComboBox(this)),
      hash_(new QLineEdit(this)),
      valueLabel_(new QLabel(uiText("Что записать:"), this)),
      value_(new QComboBox(this)),
      read_(new QRadioButton(uiText("Чтение"), this)),
      write_(new QRadioButton(uiText("Запись"), this)),
      indexPresent_(new QCheckBox(uiText("Наличие лин-го индекса:"), this)),
      index_(new QLineEdit("0", this)),
      indexInData_(new QRadioButton(uiText("Индекс в поле данных"), this)),
      indexInAddress_(new QRadioButton(uiText("Индекс в адресе (3 бит)"), this)),
      description_(new QLineEdit(uiText("Описание параметра"), this)),
      log_(new FrameLogView(this)) {
  setWindowTitle(uiText(kTitle));
  command_->setObjectName("command");
  hash_->setObjectName("hash");
  value_->setObjectName("value");
  read_->setObjectName("read");
  write_->setObjectName("write");
  indexPresent_->setObjectName("indexPresent");
  index_->setObjectName("index");
  indexInData_->setObjectName("indexInData");
  indexInAddress_->setObjectName("indexInAddress");
  description_->setObjectName("description");
  log_->setObjectName("frameLog");

  command_->setEditable(true);
  command_->setInsertPolicy(QComboBox::NoInsert);
  command_->setMaxVisibleItems(25);
  for (const ParamTemplate& t : templates_) command_->addItem(QString::fromStdString(t.name));
  command_->setEditText(kDefaultCommand);
  hash_->setReadOnly(true);
  description_->setReadOnly(true);
  value_->setEditable(true);
  value_->setInsertPolicy(QComboBox::NoInsert);
  index_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), index_));
  index_->setMaximumWidth(80);
  // Two exclusive pairs: the operation and the place of the index.
  auto* operations = new QButtonGroup(this);
  operations->addButton(read_);
  operations->addButton(write_);
  auto* placements = new QButtonGroup(this);
  placements->addButton(indexInData_);
  placements->addButton(indexInAddress_);
  read_->setChecked(true);
  indexInData_->setChecked(true);

  auto* operation = new QGroupBox(uiText("Операция:"), this);
  auto* operationLayout = new QHBoxLayout(operation);
  operationLayout->addWidget(read_);
  operationLayout->addWidget(write_);
  auto* placement = new QWidget(this);
  auto* placementLayout = new QVBoxLayout(placement);
  placementLayout->setContentsMargins(0, 0, 0, 0);
  placementLayout->addWidget(indexInData_);
  placementLayout->addWidget(indexInAddress_);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(uiText("Определите команду:"), this), 0, 0);
  grid->addWidget(command_, 0, 1);
  grid->addWidget(new QLabel(uiText("Хеш-код:"), this), 0, 2);
  grid->addWidget(hash_, 0, 3);
  grid->addWidget(operation, 1, 0, 1, 2);
  grid->addWidget(valueLabel_, 1, 2);
  grid->addWidget(value_, 1, 3);
  auto* indexRow = new QHBoxLayout;
  indexRow->addWidget(indexPresent_);
  indexRow->addWidget(index_);
  indexRow->addStretch();
  grid->addLayout(indexRow, 2, 0, 1, 2);
  grid->addWidget(placement, 2, 2, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* execute = buttons->addButton(uiText("Выполнить!"), QDialogButtonBox::ActionRole);
  execute->setObjectName("execute");
  execute->setDefault(true);
  QPushButton* close = buttons->addButton(uiText("Выход"), QDialogButtonBox::RejectRole);
  close->setObjectName("close");
  close->setAutoDefault(false);
  connect(execute, &QPushButton::clicked, this, &SingleParameterDialog::Execute);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(description_);
  layout->addWidget(new QLabel(uiText("Протокол обмена данными с прибором:"), this));
  layout->addWidget(log_, 1);
  layout->addWidget(buttons);
  resize(860, 560);

  connect(command_, &QComboBox::activated, this, [this](int row) {
    command_->setEditText(command_->itemText(row));
    UpdateCommand();
  });
  connect(command_, &QComboBox::editTextChanged, this, &SingleParameterDialog::UpdateCommand);
  connect(read_, &QRadioButton::toggled, this, &SingleParameterDialog::UpdateOperation);
  connect(indexPresent_, &QCheckBox::toggled, this, &SingleParameterDialog::UpdateIndexControls);

  UpdateCommand();
  UpdateOperation();
  UpdateIndexControls();
}

void SingleParameterDialog::UpdateCommand() {
  const CommandDescription d = DescribeCommand(templates_, command_->currentText().toStdString());
  value_->clear();
  for (const std::string& choice : d.choices) value_->addItem(QString::fromStdString(choice));
  hash_->setText(QString::fromStdString(d.hashText));
  description_->setText(QString::fromStdString(d.descriptionText));
}

void SingleParameterDialog::UpdateOperation() {
  const bool writing = write_->isChecked();
  valueLabel_->setVisible(writing);
  value_->setVisible(writing);
}

void SingleParameterDialog::UpdateIndexControls() {
  indexInData_->setEnabled(indexPresent_->isChecked());
  indexInAddress_->setEnabled(indexPresent_->isChecked());
}

void SingleParameterDialog::Execute() {
  log_->clear();
  const std::string name = command_->currentText().toStdString();
  const ParamTemplate* t = FindDescribedTemplate(templates_, name);
  if (t == nullptr) {
    ui_.showMessage(UndescribedParameterText(name), windowTitle().toStdString(), MessageIcon::Stop);
    return;
  }
  const bool reading = read_->isChecked();
  IndexPlacement placement = IndexPlacement::None;
  if (indexPresent_->isChecked()) placement = indexInAddress_->isChecked() ? IndexPlacement::Address : IndexPlacement::DataField;

  ProtocolLogList log;
  // Five digits may exceed the two bytes an index travels in.
  const int index = std::min(index_->text().toInt(), 0xFFFF);
  const std::unique_ptr<Parameter> p = ParameterFromTemplate(*t, placement, index, &log);
  if (!reading) p->value = value_->currentText().toStdString();
  int result = 0;
  {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const FrameTrace trace(log);
    result = link_.Transact(reading, p.get(), &log, false);
    QApplication::restoreOverrideCursor();
  }
  FinishSingleParameterLog(log, reading, result, *p);

  FrameContext context;
  context.templates = &templates_;
  context.addressBits = link_.serialPort().settings().addressLength;
  context.baseAddress = link_.serialPort().settings().baseAddress;
  context.indexInData = placement == IndexPlacement::DataField;
  log_->setLog(log, context);
}

}  // namespace kvtr::ui
