// The window "Состояние входов и выходов": twelve input lights, eight output lights, the counters
// with a "Сброс" button each, the PWM outputs edited in place, a live chart of all of them, and
// the recording of every poll into a CSV file.
//
// The polling is the core's InputsOutputsMonitor: its worker reads the module every 100 ms and
// hands each snapshot to this window as a queued call, so no widget is touched off the GUI thread.
// Counter resets and output writes run here on the GUI thread, as short single exchanges; the
// port lock makes them wait for at most the one read the worker is doing. Closing asks the worker
// to stop and closes once it has ended, so a read in progress is never cut off, and the event loop
// keeps running meanwhile.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <array>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "exchange/inputs_outputs.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace kvtr {
class Document;
}

namespace kvtr::ui {

class IoChart;
class TableControl;

// A small lamp with its number: its background shows the state (orange input on, light green
// output on, green cross-hatch for PWM).
class IndicatorLight : public QWidget {
 public:
  explicit IndicatorLight(const QString& label, QWidget* parent = nullptr);
  void setLook(IndicatorLook look);
  [[nodiscard]] IndicatorLook look() const { return look_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString label_;
  IndicatorLook look_ = IndicatorLook::Default;
};

class InputsOutputsWindow : public QDialog {
  Q_OBJECT

 public:
  // The document's tree must have its scanners branch. Polling starts at once.
  explicit InputsOutputsWindow(Document& document, QWidget* parent = nullptr);
  // Stops the worker (waiting for a read in progress) and the recording.
  ~InputsOutputsWindow() override;

  [[nodiscard]] IndicatorLook inputLook(int k) const { return inputLights_[static_cast<std::size_t>(k)]->look(); }
  [[nodiscard]] IndicatorLook outputLook(int k) const { return outputLights_[static_cast<std::size_t>(k)]->look(); }
  [[nodiscard]] TableControl& counterList() const { return *counters_; }
  [[nodiscard]] TableControl& outputList() const { return *outputs_; }
  [[nodiscard]] IoChart& chart() const { return *chart_; }
  [[nodiscard]] QString statusText() const;
  // Snapshots taken from the worker so far: one per poll.
  [[nodiscard]] int polls() const { return polls_; }

  // Recording of every poll, a row each, into a CSV file (";" between fields, UTF-8). The button
  // asks for the name; false when the file could not be made (the operator has been told).
  bool startRecording(const QString& path);
  void stopRecording();
  [[nodiscard]] bool recording() const { return csv_.isOpen(); }
  [[nodiscard]] int recordedRows() const { return recordedRows_; }

 public slots:
  // "Закрыть", Escape and the close box.
  void reject() override;

 private:
  class Listener;

  void ShowSnapshot(const IoSnapshot& snapshot);
  void WorkerEnded();
  void ResetCounter(int row, int column);
  std::optional<QString> CommitOutput(int row, const QString& text);
  void ToggleAllOutputs();
  void RecordButton();
  void WriteCsvRow(const IoSnapshot& snapshot, bool known);
  void SetStatus(const QString& text, bool alarm);

  Document& document_;
  std::unique_ptr<Listener> listener_;
  std::unique_ptr<InputsOutputsMonitor> monitor_;

  std::array<IndicatorLight*, kInputIndicatorCount> inputLights_{};
  std::array<IndicatorLight*, kOutputIndicatorCount> outputLights_{};
  TableControl* counters_ = nullptr;
  TableControl* outputs_ = nullptr;
  IoChart* chart_ = nullptr;
  QPushButton* pause_ = nullptr;
  QComboBox* span_ = nullptr;
  QPushButton* record_ = nullptr;
  QLabel* recordInfo_ = nullptr;
  QLabel* status_ = nullptr;

  // The growth of each counter between its last two reads, per second.
  struct CounterRate {
    double value = 0;
    double seconds = 0;
    bool known = false;
    double perSecond = 0;
  };
  std::vector<CounterRate> rates_;
  std::set<int> editedOutputs_;
  QElapsedTimer clock_;
  QFile csv_;
  int recordedRows_ = 0;
  int polls_ = 0;
  bool anyRead_ = false;
  bool closing_ = false;
};

}  // namespace kvtr::ui
