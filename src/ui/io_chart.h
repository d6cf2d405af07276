// The live chart of the inputs and outputs window: the twelve inputs as on/off traces, the
// counters as lines on one common scale, and the eight outputs as traces from off (0) to on (1),
// against time, the newest sample at the right edge.
//
// The window hands it one sample per poll. The chart keeps the samples of the longest span it
// offers and paints itself with QPainter (no chart library: a few polylines every 100 ms). While
// paused it keeps taking samples but the picture stays where it was; resumed, it jumps to now.
#pragma once

#include <QWidget>
#include <array>
#include <deque>
#include <vector>

namespace kvtr::ui {

struct IoSample {
  double seconds = 0;  // since the window opened
  bool known = true;   // false: the module did not answer this poll; the traces break here
  std::array<bool, 12> inputs{};
  std::vector<double> counters;  // NaN: not known
  std::array<double, 8> outputs{};  // NaN: not known
};

class IoChart : public QWidget {
  Q_OBJECT

 public:
  // The longest span the chart offers, in seconds: samples older than that are dropped.
  static constexpr double kLongestSpan = 600;

  explicit IoChart(QWidget* parent = nullptr);

  void addSample(IoSample sample);
  void clear();

  // The time shown across the chart, in seconds.
  void setSpan(double seconds);
  [[nodiscard]] double span() const { return span_; }

  void setPaused(bool paused);
  [[nodiscard]] bool paused() const { return paused_; }

  [[nodiscard]] int sampleCount() const { return static_cast<int>(samples_.size()); }
  // The sample drawn at the right edge: the newest one, or while paused the newest one then.
  [[nodiscard]] const IoSample* sampleAtRightEdge() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::deque<IoSample> samples_;
  double span_ = 30;
  bool paused_ = false;
  double pausedAt_ = 0;  // the right edge's time while paused
  static constexpr double kRepaintSeconds = 0.19;
  double paintedUpTo_ = -1e9;  // the newest sample when a repaint was last asked for
};

}  // namespace kvtr::ui
