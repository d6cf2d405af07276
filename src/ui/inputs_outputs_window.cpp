#include "ui/inputs_outputs_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "app/document.h"
#include "common/strings.h"
#include "model/desc_branch.h"
#include "model/my_converter.h"
#include "model/parameter.h"
#include "model/parameter_tree.h"
#include "ui/gradient_header.h"
#include "ui/gui_thread.h"
#include "ui/io_chart.h"
#include "ui/qt_user_interface.h"
#include "ui/table_control.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

namespace {

constexpr int kRowHeight = 20;
const QColor kOrange{255, 176, 98};
const QColor kLightGreen{113, 255, 113};
const QColor kHatch{0, 128, 0};
const QColor kStatusColour{0, 0, 160};
const QColor kAlarmColour{200, 0, 0};

// The number a cell holds, or NaN when it holds none (an error text).
double numberIn(const std::string& text) {
  const DecimalReading r = ReadDecimal(text, true, true);
  return r.ok && std::isfinite(r.value) ? r.value : NAN;
}

// A counter's value with its growth per second beside it, while it grows.
QString counterText(const std::string& value, double perSecond) {
  if (!(perSecond > 0)) return qs(value);
  const int decimals = perSecond < 10 ? 1 : 0;
  return uiText("%1  (+%2/с)").arg(qs(value), QString::number(perSecond, 'f', decimals));
}

struct Span {
  const char* text;
  double seconds;
};
constexpr std::array<Span, 5> kSpans = {{{trMark("10 с"), 10}, {trMark("30 с"), 30}, {trMark("1 мин"), 60}, {trMark("5 мин"), 300}, {trMark("10 мин"), 600}}};
constexpr int kDefaultSpan = 1;

}  // namespace

// ------------------------------------------------------------------ indicator

IndicatorLight::IndicatorLight(const QString& label, QWidget* parent) : QWidget(parent), label_(label) {
  setFixedSize(sizeHint());
}

QSize IndicatorLight::sizeHint() const {
  const QFontMetrics m(font());
  return {std::max(26, m.horizontalAdvance("12") + 10), std::max(28, m.height() + 10)};
}

void IndicatorLight::setLook(IndicatorLook look) {
  if (look == look_) return;
  look_ = look;
  update();
}

void IndicatorLight::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect r = rect().adjusted(0, 0, -1, -1);
  painter.fillRect(r, palette().color(QPalette::Window));
  switch (look_) {
    case IndicatorLook::Orange: painter.fillRect(r, kOrange); break;
    case IndicatorLook::LightGreen: painter.fillRect(r, kLightGreen); break;
    case IndicatorLook::Hatched: painter.fillRect(r, QBrush(kHatch, Qt::DiagCrossPattern)); break;
    case IndicatorLook::Default: break;
  }
  // A sunken frame: dark on the top and left, light on the bottom and right.
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawLine(r.topLeft(), r.topRight());
  painter.drawLine(r.topLeft(), r.bottomLeft());
  painter.setPen(palette().color(QPalette::Light));
  painter.drawLine(r.bottomLeft(), r.bottomRight());
  painter.drawLine(r.topRight(), r.bottomRight());
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(r, Qt::AlignCenter, label_);
}

// ------------------------------------------------------------------ listener

// The worker's calls, posted to the window; a call that arrives after the window has gone is
// dropped.
class InputsOutputsWindow::Listener final : public IoListener {
 public:
  explicit Listener(InputsOutputsWindow& window) : window_(window) {}
  void ioStateChanged(const IoSnapshot& snapshot) override {
    postToGuiThread(&window_, [w = &window_, snapshot] { w->ShowSnapshot(snapshot); });
  }
  void ioWorkerEnded() override {
    postToGuiThread(&window_, [w = &window_] { w->WorkerEnded(); });
  }

 private:
  InputsOutputsWindow& window_;
};

// ------------------------------------------------------------------ window

InputsOutputsWindow::InputsOutputsWindow(Document& document, QWidget* parent)
    : QDialog(parent), document_(document) {
  setObjectName("inputsOutputsWindow");
  setWindowTitle(qs(std::string(kInputsOutputsCaption)));
  clock_.start();

  monitor_ = std::make_unique<InputsOutputsMonitor>(document.engine(), *document.tree()->scanners());
  const IoSnapshot initial = monitor_->Snapshot();

  // The lights: six inputs and four outputs a row.
  auto* inputGrid = new QGridLayout;
  inputGrid->setSpacing(6);
  for (int k = 0; k < kInputIndicatorCount; ++k) {
    auto* light = new IndicatorLight(QString::number(k + 1), this);
    light->setObjectName(QString("input%1").arg(k + 1));
    inputGrid->addWidget(light, k / 6, k % 6);
    inputLights_[static_cast<std::size_t>(k)] = light;
  }
  auto* outputGrid = new QGridLayout;
  outputGrid->setHorizontalSpacing(14);
  outputGrid->setVerticalSpacing(6);
  for (int k = 0; k < kOutputIndicatorCount; ++k) {
    auto* light = new IndicatorLight(QString::number(k + 1), this);
    light->setObjectName(QString("output%1").arg(k + 1));
    outputGrid->addWidget(light, k / 4, k % 4);
    outputLights_[static_cast<std::size_t>(k)] = light;
  }

  const int rowHeight = std::max(kRowHeight, fontMetrics().height() + 4);

  counters_ = new TableControl(this);
  counters_->setObjectName("counterList");
  counters_->table().setHeaders({uiText("Значение"), uiText("Счетчики"), uiText("Обнуление")});
  rates_.resize(initial.counters.size());
  for (const IoCell& cell : initial.counters) {
    const int row = counters_->table().addRow({qs(cell.value), qs(cell.label)});
    counters_->setCellFlags(row, 2, cell_flag::kButton, 0);
    counters_->table().setButtonCaption(row, 2, uiText("Сброс"));
  }
  counters_->setRowHeight(rowHeight);
  counters_->setColumnShares({1, 1, 1});
  connect(counters_, &TableControl::buttonClicked, this, &InputsOutputsWindow::ResetCounter);

  outputs_ = new TableControl(this);
  outputs_->setObjectName("outputList");
  outputs_->table().setHeaders({uiText("Значение"), uiText("Выходы")});
  outputs_->table().setEditableColumns({0});
  outputs_->table().setEditHandler([this](int row, int, const QString& text) { return CommitOutput(row, text); });
  {
    // The rows edit the tree's "r.oe" parameters: the editor takes their type and limits.
    std::vector<Parameter*> outputParameters;
    document.tree()->scanners()->ForEachBranch([&](DescBranch& b) {
      for (const auto& p : b.parameters())
        if (equalsNoCase(p->name, "r.oe")) outputParameters.push_back(p.get());
    });
    for (const IoCell& cell : initial.outputs) {
      Parameter* parameter = nullptr;
      for (Parameter* p : outputParameters)
        if (p->index == cell.index) parameter = p;
      outputs_->table().addRow({qs(cell.value), qs(cell.label)}, parameter);
    }
  }
  outputs_->setRowHeight(rowHeight);
  outputs_->setColumnShares({1, 1});
  connect(outputs_, &TableControl::editingStarted, this, [this](int row, int) {
    editedOutputs_.insert(row);
    monitor_->SetOutputEditing(row, true);
  });
  connect(outputs_, &TableControl::editingFinished, this, [this](int row, int) {
    editedOutputs_.erase(row);
    monitor_->SetOutputEditing(row, false);
  });
  const int header = counters_->horizontalHeader()->sizeHint().height();
  const int visibleRows = 12;
  for (TableControl* list : {counters_, outputs_}) list->setMinimumSize(280, header + rowHeight * visibleRows + 4);

  // The inputs on the left, the outputs on the right; each group under its header.
  auto* inputsHeader = new GradientHeader(uiText("Входы"), this);
  inputsHeader->setObjectName("inputsHeader");
  auto* outputsHeader = new GradientHeader(uiText("Выходы"), this);
  outputsHeader->setObjectName("outputsHeader");
  auto* left = new QVBoxLayout;
  left->addWidget(inputsHeader);
  left->addLayout(inputGrid);
  left->addWidget(counters_, 1);
  auto* right = new QVBoxLayout;
  right->addWidget(outputsHeader);
  right->addLayout(outputGrid);
  right->addWidget(outputs_, 1);
  auto* groups = new QHBoxLayout;
  groups->addLayout(left, 1);
  groups->addSpacing(12);
  groups->addLayout(right, 1);

  // The chart and its controls.
  chart_ = new IoChart(this);
  pause_ = new QPushButton(uiText("Пауза"), this);
  pause_->setObjectName("pauseButton");
  pause_->setCheckable(true);
  connect(pause_, &QPushButton::toggled, this, [this](bool on) {
    chart_->setPaused(on);
    pause_->setText(on ? uiText("Продолжить") : uiText("Пауза"));
  });
  span_ = new QComboBox(this);
  span_->setObjectName("spanChoice");
  for (const Span& s : kSpans) span_->addItem(uiText(s.text), s.seconds);
  span_->setCurrentIndex(kDefaultSpan);
  chart_->setSpan(kSpans[kDefaultSpan].seconds);
  connect(span_, &QComboBox::currentIndexChanged, this, [this](int) { chart_->setSpan(span_->currentData().toDouble()); });
  record_ = new QPushButton(uiText("Запись в файл..."), this);
  record_->setObjectName("recordButton");
  connect(record_, &QPushButton::clicked, this, &InputsOutputsWindow::RecordButton);
  recordInfo_ = new QLabel(this);
  recordInfo_->setObjectName("recordInfo");
  recordInfo_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* chartControls = new QHBoxLayout;
  chartControls->addWidget(new QLabel(uiText("Интервал:"), this));
  chartControls->addWidget(span_);
  chartControls->addWidget(pause_);
  chartControls->addSpacing(16);
  chartControls->addWidget(record_);
  chartControls->addWidget(recordInfo_, 1);

  status_ = new QLabel(this);
  status_->setObjectName("statusText");
  status_->setWordWrap(true);
  auto* toggleAll = new QPushButton(uiText("Вкл/Выкл все ВЭ"), this);
  toggleAll->setObjectName("toggleAllButton");
  toggleAll->setEnabled(!initial.outputs.empty());
  connect(toggleAll, &QPushButton::clicked, this, &InputsOutputsWindow::ToggleAllOutputs);
  auto* closeButton = new QPushButton(uiText("Закрыть"), this);
  closeButton->setObjectName("closeButton");
  closeButton->setAutoDefault(false);
  connect(closeButton, &QPushButton::clicked, this, &InputsOutputsWindow::reject);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(toggleAll);
  bottom->addWidget(closeButton);

  // The lights and lists on the left, the chart beside them: the window fits a 1366 x 768 screen.
  auto* chartColumn = new QVBoxLayout;
  chartColumn->addWidget(chart_, 1);
  chartColumn->addLayout(chartControls);
  auto* columns = new QHBoxLayout;
  columns->addLayout(groups, 0);
  columns->addSpacing(8);
  columns->addLayout(chartColumn, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns, 1);
  layout->addLayout(bottom);
  resize(1180, 620);

  // The values known before the first poll ("0" where none is); they are no poll of their own.
  ShowSnapshot(initial);
  chart_->clear();
  polls_ = 0;
  anyRead_ = false;

  listener_ = std::make_unique<Listener>(*this);
  monitor_->setListener(listener_.get());
  if (monitor_->Start()) {
    SetStatus(uiText("Опрос прибора каждые 100 мс"), false);
  } else {
    SetStatus(uiText("Не удалось запустить опрос прибора"), true);
  }
}

InputsOutputsWindow::~InputsOutputsWindow() {
  // The worker goes first (a read in progress ends), then the listener it calls.
  monitor_.reset();
  listener_.reset();
  stopRecording();
}

QString InputsOutputsWindow::statusText() const { return status_->text(); }

void InputsOutputsWindow::SetStatus(const QString& text, bool alarm) {
  status_->setText(text);
  QPalette palette = status_->palette();
  palette.setColor(QPalette::WindowText, alarm ? kAlarmColour : kStatusColour);
  status_->setPalette(palette);
}

void InputsOutputsWindow::ShowSnapshot(const IoSnapshot& s) {
  const double now = clock_.elapsed() / 1000.0;
  ++polls_;
  // No answer: the values shown are the last ones known, and the window says so plainly.
  const bool silent = !s.failure.empty() && s.failureStreak > 0;
  if (s.failure.empty()) anyRead_ = true;
  if (!closing_) {
    if (silent) {
      SetStatus(uiText("Прибор не отвечает (%1 раз подряд): %2. Показаны последние прочитанные значения.")
                    .arg(s.failureStreak)
                    .arg(qs(s.failure)),
                true);
    } else if (!s.failure.empty()) {
      SetStatus(uiText("Ошибка чтения: %1").arg(qs(s.failure)), true);
    } else {
      SetStatus(uiText("Опрос прибора каждые 100 мс"), false);
    }
  }

  for (int k = 0; k < kInputIndicatorCount; ++k)
    inputLights_[static_cast<std::size_t>(k)]->setLook(InputIndicatorLook(s.inputs[static_cast<std::size_t>(k)]));
  for (int k = 0; k < kOutputIndicatorCount; ++k)
    outputLights_[static_cast<std::size_t>(k)]->setLook(OutputIndicatorLook(s.outputStates[static_cast<std::size_t>(k)]));

  TableModel& counterRows = counters_->table();
  for (int row = 0; row < static_cast<int>(s.counters.size()) && row < counterRows.rowCount(); ++row) {
    const IoCell& cell = s.counters[static_cast<std::size_t>(row)];
    CounterRate& rate = rates_[static_cast<std::size_t>(row)];
    if (row == s.counterRead) {
      const double value = numberIn(cell.value);
      if (std::isnan(value)) {
        rate = {};
      } else {
        rate.perSecond = rate.known && value > rate.value && now > rate.seconds
                             ? (value - rate.value) / (now - rate.seconds)
                             : 0;
        rate.value = value;
        rate.seconds = now;
        rate.known = true;
      }
    }
    counterRows.setText(row, 0, counterText(cell.value, std::isnan(numberIn(cell.value)) ? 0 : rate.perSecond));
    for (int column : {0, 1})
      counters_->setCellFlags(row, column, cell.marked ? cell_flag::kGreen : 0, cell.marked ? 0 : cell_flag::kGreen);
  }
  TableModel& outputRows = outputs_->table();
  for (int row = 0; row < static_cast<int>(s.outputs.size()) && row < outputRows.rowCount(); ++row) {
    const IoCell& cell = s.outputs[static_cast<std::size_t>(row)];
    // A row being edited keeps what the operator is typing.
    if (!editedOutputs_.contains(row)) outputRows.setText(row, 0, qs(cell.value));
    for (int column : {0, 1})
      outputs_->setCellFlags(row, column, cell.marked ? cell_flag::kGreen : 0, cell.marked ? 0 : cell_flag::kGreen);
  }

  IoSample sample;
  sample.seconds = now;
  sample.known = !silent;
  for (int k = 0; k < kInputIndicatorCount; ++k)
    sample.inputs[static_cast<std::size_t>(k)] = s.inputs[static_cast<std::size_t>(k)] == "1";
  for (const IoCell& cell : s.counters) sample.counters.push_back(numberIn(cell.value));
  for (int k = 0; k < kOutputIndicatorCount; ++k) {
    sample.outputs[static_cast<std::size_t>(k)] =
        k < static_cast<int>(s.outputs.size()) ? numberIn(s.outputs[static_cast<std::size_t>(k)].value) : NAN;
  }
  chart_->addSample(std::move(sample));
  if (csv_.isOpen()) WriteCsvRow(s, !silent);
}

void InputsOutputsWindow::ResetCounter(int row, int column) {
  if (column != 2) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool ok = monitor_->ResetCounter(row);
  QApplication::restoreOverrideCursor();
  if (!ok || row < 0 || row >= static_cast<int>(rates_.size())) return;
  // The cell shows the value written at once; the next poll of the row reads it back.
  rates_[static_cast<std::size_t>(row)] = {};
  counters_->table().setText(row, 0, qs(monitor_->Snapshot().counters[static_cast<std::size_t>(row)].value));
}

std::optional<QString> InputsOutputsWindow::CommitOutput(int row, const QString& text) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool ok = monitor_->CommitOutput(row, us(text.trimmed()));
  QApplication::restoreOverrideCursor();
  if (!ok) return std::nullopt;
  const IoSnapshot s = monitor_->Snapshot();
  return qs(s.outputs[static_cast<std::size_t>(row)].value);
}

void InputsOutputsWindow::ToggleAllOutputs() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  monitor_->ToggleAllOutputs();
  QApplication::restoreOverrideCursor();
}

void InputsOutputsWindow::RecordButton() {
  if (recording()) {
    stopRecording();
    return;
  }
  const QString suggested = QDir::home().filePath(
      QString("kvtr-%1.csv").arg(QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss")));
  const QString path = QFileDialog::getSaveFileName(this, uiText("Запись опроса в файл"), suggested, uiText("Таблица CSV (*.csv)"));
  if (!path.isEmpty()) (void)startRecording(path);
}

bool InputsOutputsWindow::startRecording(const QString& path) {
  stopRecording();
  csv_.setFileName(path);
  if (!csv_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
    const QString error = csv_.errorString();
    document_.engine().ReportMessage(us(uiText("Не удалось открыть файл \"%1\" для записи: %2").arg(path, error)),
                                     trMark("Ошибка"), MessageIcon::Exclamation);
    return false;
  }
  // The mark of UTF-8 first, so that a spreadsheet reads the Cyrillic headers right.
  QStringList header{uiText("Время")};
  for (int k = 1; k <= kInputIndicatorCount; ++k) header << uiText("Вход %1").arg(k);
  for (int row = 0; row < counters_->table().rowCount(); ++row) header << counters_->table().text(row, 1);
  for (int row = 0; row < outputs_->table().rowCount(); ++row) header << outputs_->table().text(row, 1);
  csv_.write("\xEF\xBB\xBF");
  csv_.write((header.join(';') + '\n').toUtf8());
  csv_.flush();
  recordedRows_ = 0;
  record_->setText(uiText("Остановить запись"));
  recordInfo_->setText(uiText("Запись: %1").arg(QDir::toNativeSeparators(path)));
  return true;
}

void InputsOutputsWindow::stopRecording() {
  if (!csv_.isOpen()) return;
  csv_.close();
  if (record_ != nullptr) record_->setText(uiText("Запись в файл..."));
  if (recordInfo_ != nullptr) {
    recordInfo_->setText(uiText("Записано строк: %1 в %2").arg(recordedRows_).arg(QDir::toNativeSeparators(csv_.fileName())));
  }
}

void InputsOutputsWindow::WriteCsvRow(const IoSnapshot& s, bool known) {
  // A poll the module did not answer has its time and empty fields: nothing stale is written as
  // if it had been read then.
  QStringList fields{QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz")};
  const auto number = [known](const std::string& text) {
    return known && !std::isnan(numberIn(text)) ? qs(text) : QString();
  };
  for (const std::string& input : s.inputs) fields << (known ? qs(input) : QString());
  for (const IoCell& cell : s.counters) fields << number(cell.value);
  for (const IoCell& cell : s.outputs) fields << number(cell.value);
  // Flushed row by row: a recording cut short by a crash keeps what it had.
  if (csv_.write((fields.join(';') + '\n').toUtf8()) < 0 || !csv_.flush()) {
    SetStatus(uiText("Запись в файл прервана: %1").arg(csv_.errorString()), true);
    stopRecording();
    return;
  }
  ++recordedRows_;
  recordInfo_->setText(uiText("Запись: %1 (строк: %2)").arg(QDir::toNativeSeparators(csv_.fileName())).arg(recordedRows_));
}

void InputsOutputsWindow::reject() {
  if (monitor_->running()) {
    // The worker ends once the read in progress has ended, then tells WorkerEnded.
    if (!closing_) {
      closing_ = true;
      SetStatus(uiText("Ожидание конца обмена с прибором..."), false);
      monitor_->RequestStop();
    }
    return;
  }
  monitor_->Stop();
  stopRecording();
  // What was read goes into the tree's parameters; a successful read marks the configuration
  // modified, as any read does.
  monitor_->ApplyToTree();
  if (anyRead_) document_.setModified(true);
  QDialog::reject();
}

void InputsOutputsWindow::WorkerEnded() {
  monitor_->Stop();
  if (closing_) reject();
}

}  // namespace kvtr::ui
