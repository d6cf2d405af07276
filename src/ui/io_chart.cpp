#include "ui/io_chart.h"

#include "ui/ui_text.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace kvtr::ui {

namespace {

constexpr int kLeftMargin = 46;   // lane labels and the counters' scale
constexpr int kRightMargin = 8;
constexpr int kTopMargin = 4;
constexpr int kAxisHeight = 18;   // the time labels under the bands
constexpr int kBandGap = 6;

const QColor kInputOn{255, 176, 98};    // the input indicators' orange
const QColor kOutputFill{113, 255, 113};  // the output indicators' light green
const QColor kTrace{40, 40, 40};
const QColor kLaneLine{225, 225, 225};
const QColor kBandFrame{150, 150, 150};

// One colour per counter, told apart on a white ground.
QColor counterColour(int k) {
  static const std::array<QColor, 12> colours = {
      QColor(31, 119, 180), QColor(214, 39, 40),  QColor(44, 160, 44),   QColor(148, 103, 189),
      QColor(140, 86, 75),  QColor(227, 119, 194), QColor(127, 127, 127), QColor(188, 189, 34),
      QColor(23, 190, 207), QColor(255, 127, 14),  QColor(0, 0, 128),     QColor(128, 0, 0)};
  return colours[static_cast<std::size_t>(k) % colours.size()];
}

QString secondsText(double s) {
  if (s >= 60 && std::fmod(s, 60) == 0) return uiText("-%1 мин").arg(s / 60);
  return uiText("-%1 с").arg(s);
}

}  // namespace

IoChart::IoChart(QWidget* parent) : QWidget(parent) {
  setObjectName("ioChart");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize IoChart::sizeHint() const { return {520, 520}; }
QSize IoChart::minimumSizeHint() const { return {360, 360}; }

void IoChart::addSample(IoSample sample) {
  samples_.push_back(std::move(sample));
  const double newest = samples_.back().seconds;
  // Keep one sample older than the longest span, so that the left edge starts with a level.
  while (samples_.size() > 2 && samples_[1].seconds < newest - kLongestSpan) samples_.pop_front();
  // Five pictures a second are enough to follow the line and cost half of ten.
  if (!paused_ && newest - paintedUpTo_ >= kRepaintSeconds) {
    paintedUpTo_ = newest;
    update();
  }
}

void IoChart::clear() {
  samples_.clear();
  paintedUpTo_ = -INFINITY;
  update();
}

void IoChart::setSpan(double seconds) {
  span_ = std::clamp(seconds, 1.0, kLongestSpan);
  update();
}

void IoChart::setPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  pausedAt_ = samples_.empty() ? 0 : samples_.back().seconds;
  update();
}

const IoSample* IoChart::sampleAtRightEdge() const {
  if (samples_.empty()) return nullptr;
  if (!paused_) return &samples_.back();
  // The newest sample that is not newer than the frozen edge.
  for (auto it = samples_.rbegin(); it != samples_.rend(); ++it)
    if (it->seconds <= pausedAt_) return &*it;
  return nullptr;
}

void IoChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const QRect plot = rect().adjusted(kLeftMargin, kTopMargin, -kRightMargin, -kAxisHeight);
  if (plot.width() < 10 || plot.height() < 3 * kBandGap + 30) return;

  // Bands: twelve input lanes, the counters, eight output lanes, in the proportion 12 : 9 : 8.
  const int usable = plot.height() - 2 * kBandGap;
  const double unit = usable / 29.0;
  const QRectF inputs(plot.left(), plot.top(), plot.width(), unit * 12);
  const QRectF counters(plot.left(), inputs.bottom() + kBandGap, plot.width(), unit * 9);
  const QRectF outputs(plot.left(), counters.bottom() + kBandGap, plot.width(), unit * 8);

  const double right = paused_ ? pausedAt_ : (samples_.empty() ? 0 : samples_.back().seconds);
  const double left = right - span_;
  const auto xOf = [&](double t) { return plot.left() + (t - left) / span_ * plot.width(); };

  // The samples in view, one before the left edge included; the points of one pixel column are
  // drawn once, so a long span costs no more than a short one.
  std::vector<const IoSample*> shown;
  double lastX = -1e9;
  for (std::size_t i = 0; i < samples_.size(); ++i) {
    const IoSample& s = samples_[i];
    if (s.seconds > right) break;
    const bool beforeLeft = i + 1 < samples_.size() && samples_[i + 1].seconds < left;
    if (beforeLeft) continue;
    const double x = std::floor(xOf(s.seconds));
    if (!shown.empty() && x == lastX) shown.back() = &s;
    else shown.push_back(&s);
    lastX = x;
  }

  const QFontMetrics metrics(font());
  painter.setFont(font());

  // A stepped trace of lane values (0..1) in a lane: a level holds until the next sample.
  const auto drawLane = [&](const QRectF& lane, auto valueOf, const QColor& fill) {
    painter.setPen(kLaneLine);
    painter.drawLine(QPointF(lane.left(), lane.bottom()), QPointF(lane.right(), lane.bottom()));
    if (shown.empty()) return;
    const double high = lane.top() + 2;
    const double low = lane.bottom() - 1;
    // One piece of trace per run of polls the module answered.
    const auto drawPiece = [&](QPolygonF& line, double endX) {
      if (line.isEmpty()) return;
      line << QPointF(endX, line.back().y());
      QPolygonF filled = line;
      filled << QPointF(line.back().x(), low) << QPointF(line.front().x(), low);
      QPainterPath area;
      area.addPolygon(filled);
      painter.fillPath(area, fill);
      painter.setPen(QPen(kTrace, 1));
      painter.drawPolyline(line);
      line.clear();
    };
    QPolygonF line;
    for (const IoSample* s : shown) {
      const double x = std::clamp(xOf(s->seconds), lane.left(), lane.right());
      const double v = s->known ? valueOf(*s) : NAN;
      if (std::isnan(v)) {
        drawPiece(line, x);
        continue;
      }
      const double y = low - std::clamp(v, 0.0, 1.0) * (low - high);
      // Points only where the level changes: a lane that holds costs nothing per sample.
      if (line.isEmpty()) {
        line << QPointF(x, y);
      } else if (y != line.back().y()) {
        line << QPointF(x, line.back().y()) << QPointF(x, y);
      }
    }
    drawPiece(line, std::min(xOf(right), lane.right()));
  };

  // Inputs.
  const double inputLane = inputs.height() / 12;
  for (int k = 0; k < 12; ++k) {
    const QRectF lane(inputs.left(), inputs.top() + k * inputLane, inputs.width(), inputLane);
    drawLane(lane, [k](const IoSample& s) { return s.inputs[static_cast<std::size_t>(k)] ? 1.0 : 0.0; }, kInputOn);
    if (inputLane >= metrics.height() * 0.7) {
      painter.setPen(Qt::black);
      painter.drawText(QRectF(0, lane.top(), kLeftMargin - 4, lane.height()), Qt::AlignRight | Qt::AlignVCenter,
                       uiText("Вх %1").arg(k + 1));
    }
  }

  // Counters: one common scale from the least to the greatest value in view.
  double least = INFINITY;
  double greatest = -INFINITY;
  std::size_t counterCount = 0;
  for (const IoSample* s : shown) {
    if (!s->known) continue;
    counterCount = std::max(counterCount, s->counters.size());
    for (double v : s->counters)
      if (!std::isnan(v)) {
        least = std::min(least, v);
        greatest = std::max(greatest, v);
      }
  }
  painter.setPen(kLaneLine);
  painter.drawRect(counters);
  if (least <= greatest) {
    if (greatest == least) greatest = least + 1;
    const auto yOf = [&](double v) { return counters.bottom() - 2 - (v - least) / (greatest - least) * (counters.height() - 4); };
    // A counter holds its value until the next read: stepped, with points only where it changes.
    for (std::size_t k = 0; k < counterCount; ++k) {
      QPolygonF line;
      for (const IoSample* s : shown) {
        if (!s->known || k >= s->counters.size() || std::isnan(s->counters[k])) continue;
        const double x = std::max(xOf(s->seconds), counters.left());
        const double y = yOf(s->counters[k]);
        if (line.isEmpty()) line << QPointF(x, y);
        else if (y != line.back().y()) line << QPointF(x, line.back().y()) << QPointF(x, y);
      }
      if (line.isEmpty()) continue;
      line << QPointF(std::min(xOf(right), counters.right()), line.back().y());
      painter.setPen(QPen(counterColour(static_cast<int>(k)), 2));
      painter.drawPolyline(line);
    }
    painter.setPen(Qt::black);
    painter.drawText(QRectF(0, counters.top(), kLeftMargin - 4, metrics.height()), Qt::AlignRight | Qt::AlignTop,
                     QString::number(greatest, 'f', 0));
    painter.drawText(QRectF(0, counters.bottom() - metrics.height(), kLeftMargin - 4, metrics.height()),
                     Qt::AlignRight | Qt::AlignBottom, QString::number(least, 'f', 0));
  }
  painter.setPen(Qt::black);
  painter.drawText(QRectF(0, counters.top(), kLeftMargin - 4, counters.height()), Qt::AlignRight | Qt::AlignVCenter,
                   uiText("Сч."));

  // Outputs.
  const double outputLane = outputs.height() / 8;
  for (int k = 0; k < 8; ++k) {
    const QRectF lane(outputs.left(), outputs.top() + k * outputLane, outputs.width(), outputLane);
    drawLane(lane, [k](const IoSample& s) { return s.outputs[static_cast<std::size_t>(k)]; }, kOutputFill);
    if (outputLane >= metrics.height() * 0.7) {
      painter.setPen(Qt::black);
      painter.drawText(QRectF(0, lane.top(), kLeftMargin - 4, lane.height()), Qt::AlignRight | Qt::AlignVCenter,
                       uiText("Вых %1").arg(k + 1));
    }
  }

  for (const QRectF& band : {inputs, outputs}) {
    painter.setPen(kBandFrame);
    painter.drawRect(band);
  }

  // The time axis: the right edge is now (or the moment of the pause), ticks at quarters.
  painter.setPen(Qt::black);
  for (int q = 0; q <= 4; ++q) {
    const double x = plot.left() + plot.width() * q / 4.0;
    const double ago = span_ * (4 - q) / 4.0;
    const QString label = q == 4 ? (paused_ ? uiText("пауза") : uiText("сейчас")) : secondsText(ago);
    const int w = metrics.horizontalAdvance(label);
    const double textX = std::clamp(x - w / 2.0, 0.0, static_cast<double>(width() - w));
    painter.drawLine(QPointF(x, plot.bottom() + 1), QPointF(x, plot.bottom() + 4));
    painter.drawText(QPointF(textX, plot.bottom() + 4 + metrics.ascent()), label);
  }
}

}  // namespace kvtr::ui
