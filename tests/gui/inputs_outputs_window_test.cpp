// The inputs and outputs window as the operator uses it: opened from the main window's menu
// against the simulated module over a pseudo-terminal, its lights, counters, outputs, chart and
// recording checked against what the module holds.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/document.h"
#include "common/strings.h"
#include "exchange/group_operations.h"
#include "gui_support.h"
#include "integration/sim_fixture.h"
#include "model/desc_branch.h"
#include "model/my_converter.h"
#include "model/parameter.h"
#include "protocol/device_link.h"
#include "protocol/network_settings.h"
#include "screenshot.h"
#include "ui/inputs_outputs_window.h"
#include "ui/io_chart.h"
#include "ui/main_frame.h"
#include "ui/table_control.h"

namespace kvtr::test {
namespace {

using ui::InputsOutputsWindow;
using ui::TableControl;

// The number at the start of a cell ("12  (+3.5/с)" holds 12).
int cellNumber(const TableControl& list, int row) {
  const QString text = list.table().text(row, 0);
  bool ok = false;
  const int n = text.section(' ', 0, 0).toInt(&ok);
  return ok ? n : -1;
}

class InputsOutputsWindowTest : public MainWindowFixture<> {
 protected:
  void Open(const std::vector<std::string>& simOptions) {
    SimProcess& simulator = StartSim(simOptions);
    ASSERT_TRUE(simulator.running());
    OpenWindowOver(simulator);
  }

  // Chooses "Состояние входов и выходов..." and runs `body` while the modal window is open; the
  // window is closed afterwards if `body` left it open.
  void InWindow(const std::function<void(InputsOutputsWindow&)>& body) {
    bool ran = false;
    QTimer::singleShot(0, frame.get(), [&] {
      auto* window = frame->findChild<InputsOutputsWindow*>();
      ASSERT_NE(window, nullptr);
      ASSERT_TRUE(window->isModal());
      ran = true;
      QAbstractItemModelTester counters(&window->counterList().table());
      QAbstractItemModelTester outputs(&window->outputList().table());
      body(*window);
      if (window->isVisible()) {
        window->reject();
        EXPECT_TRUE(waitUntil([&] { return !window->isVisible(); }));
      }
    });
    frame->action(ui::command::kInputsOutputs)->trigger();
    EXPECT_TRUE(ran);
  }

  // Waits for `n` more polls of the window.
  static bool waitPolls(InputsOutputsWindow& w, int n) {
    const int until = w.polls() + n;
    return waitUntil([&] { return w.polls() >= until; });
  }

  // Types `text` into a cell of the outputs list as the operator does: select, F2, type, Enter.
  static void TypeOutput(InputsOutputsWindow& w, int row, const QString& text) {
    TableControl& list = w.outputList();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(list.table().index(row, 1)).center());
    list.setCurrentIndex(list.table().index(row, 0));
    QTest::keyClick(&list, Qt::Key_F2);
    QLineEdit* edit = nullptr;
    for (QLineEdit* e : list.findChildren<QLineEdit*>())
      if (e->isVisible()) edit = e;
    ASSERT_NE(edit, nullptr) << "the value opens an edit field";
    edit->selectAll();
    QTest::keyClicks(edit, text);
    const QPointer<QLineEdit> open = edit;
    QTest::keyClick(edit, Qt::Key_Return);
    // The edit ends once the view has taken the text (a queued call of the view's).
    EXPECT_TRUE(waitUntil([&] { return open.isNull() || !open->isVisible(); }));
  }

  // The module's own value of a scanner parameter (index -1: not indexed), read past the window.
  std::string ModuleValue(const std::string& name, int index) {
    Parameter* found = nullptr;
    document->tree()->scanners()->ForEachBranch([&](DescBranch& b) {
      for (const auto& p : b.parameters())
        if (equalsNoCase(p->name, name) && (index < 0 || p->index == index)) found = p.get();
    });
    if (found == nullptr) return "<none>";
    auto copy = MakeExchangeCopy(*found);
    copy->attributeMode = 0;
    if (document->engine().operations().ReadParameter(*copy, false) != 0) return "<failed: " + copy->comment + ">";
    return copy->value;
  }

};

TEST_F(InputsOutputsWindowTest, LightsShowTheInputsAndCountersCountAndResetToZero) {
  Open({"--inputs", "5"});
  InWindow([&](InputsOutputsWindow& w) {
    const auto lit = [&](unsigned mask) {
      for (int k = 0; k < 12; ++k)
        if ((w.inputLook(k) == IndicatorLook::Orange) != (((mask >> k) & 1u) != 0)) return false;
      return true;
    };
    ASSERT_TRUE(waitUntil([&] { return w.polls() >= 2 && lit(5); })) << "5 lights inputs 1 and 3";
    TableControl& counters = w.counterList();
    ASSERT_EQ(counters.table().rowCount(), 12);
    EXPECT_EQ(counters.table().text(0, 1), "Счетчик 1");
    const int first = cellNumber(counters, 0);
    const int third = cellNumber(counters, 2);
    ASSERT_GE(first, 0);

    // Input 1 falls and rises twice: counter 1 counts two rising edges, counter 3 stays.
    for (const char* mask : {"inputs 4", "inputs 5", "inputs 4", "inputs 5"}) {
      ASSERT_EQ(sim->Control(mask), "ok");
      ASSERT_TRUE(waitPolls(w, 1));
    }
    EXPECT_TRUE(waitUntil([&] { return cellNumber(counters, 0) == first + 2; }))
        << counters.table().text(0, 0).toStdString();
    EXPECT_TRUE(counters.table().text(0, 0).contains("/с)")) << "a growing counter shows its rate";
    EXPECT_EQ(cellNumber(counters, 2), third);

    // "Сброс": the module's counter goes to 0 and stays there when read again.
    QTest::mouseClick(counters.viewport(), Qt::LeftButton, {}, counters.visualRect(counters.table().index(0, 2)).center());
    EXPECT_EQ(counters.table().text(0, 0), "0");
    ASSERT_TRUE(waitPolls(w, 2 * 12 + 2)) << "row 1 read again";
    EXPECT_EQ(counters.table().text(0, 0), "0");
    EXPECT_TRUE(ui.messages.empty());
  });
  EXPECT_EQ(ModuleValue("r.Cou", 0), "0");
  EXPECT_TRUE(document->modified()) << "what the window read belongs to the configuration";
}

TEST_F(InputsOutputsWindowTest, OutputsWrittenFromTheTableAreHeldAndRefusalsSayWhy) {
  Open({"--inputs", "0"});
  InWindow([&](InputsOutputsWindow& w) {
    ASSERT_TRUE(waitPolls(w, 2));
    TableControl& outputs = w.outputList();
    ASSERT_EQ(outputs.table().rowCount(), 8);
    EXPECT_EQ(outputs.table().text(2, 1), "ШИМ выход 3");

    TypeOutput(w, 2, "0.5");
    TypeOutput(w, 0, "1");
    EXPECT_TRUE(ui.messages.empty());
    // Read back from the module at the outputs' turns: half on is hatched, fully on light green.
    EXPECT_TRUE(waitUntil([&] {
      return w.outputLook(2) == IndicatorLook::Hatched && w.outputLook(0) == IndicatorLook::LightGreen;
    }));
    EXPECT_EQ(w.outputLook(1), IndicatorLook::Default);
    EXPECT_EQ(ReadDecimal(ui::us(outputs.table().text(2, 0))).value, 0.5);

    // A value the output cannot take is refused with its reason; the cell keeps its value.
    TypeOutput(w, 1, "2");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, "Ошибка записи \"r.oe\"");
    EXPECT_FALSE(ui.messages[0].text.isEmpty());
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(ReadDecimal(ui::us(outputs.table().text(1, 0))).value, 0.0);

    // A reset the module does not answer says so under the counter's name.
    ASSERT_EQ(sim->Control("fault drop every 1"), "ok");
    TableControl& counters = w.counterList();
    QTest::mouseClick(counters.viewport(), Qt::LeftButton, {}, counters.visualRect(counters.table().index(4, 2)).center());
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[1].caption, "Ошибка записи \"r.Cou\"");
    EXPECT_TRUE(ui.messages[1].text.contains(QString::fromUtf8(kTimeoutText.data(), kTimeoutText.size())))
        << ui.messages[1].text.toStdString();
    // A module that stops answering is said plainly.
    EXPECT_TRUE(waitUntil([&] { return w.statusText().contains("Прибор не отвечает"); })) << w.statusText().toStdString();
    ASSERT_EQ(sim->Control("faults off"), "ok");
    EXPECT_TRUE(waitUntil([&] { return !w.statusText().contains("не отвечает"); }));

    // "Вкл/Выкл все ВЭ": some are off, so all go on.
    auto* toggle = w.findChild<QPushButton*>("toggleAllButton");
    ASSERT_NE(toggle, nullptr);
    EXPECT_TRUE(toggle->isVisible());
    toggle->click();
    EXPECT_TRUE(waitUntil([&] {
      for (int k = 0; k < 8; ++k)
        if (w.outputLook(k) != IndicatorLook::LightGreen) return false;
      return true;
    }));
    TypeOutput(w, 5, "0.25");
    if (std::getenv("KVTR_SCREENSHOTS") != nullptr) {
      // Some inputs on and the chart with something to show.
      ASSERT_EQ(sim->Control("inputs 1365"), "ok");
      EXPECT_TRUE(waitUntil([&] { return w.outputLook(5) == IndicatorLook::Hatched; }));
      ASSERT_TRUE(waitPolls(w, 10));
      saveScreenshot(w, "inputs_outputs.png");
    }
  });
  EXPECT_EQ(ReadDecimal(ModuleValue("r.oe", 2)).value, 1.0);
  EXPECT_EQ(ReadDecimal(ModuleValue("r.oe", 5)).value, 0.25);
}

TEST_F(InputsOutputsWindowTest, ChartFollowsTheInputsUntilPaused) {
  Open({"--inputs", "5"});
  InWindow([&](InputsOutputsWindow& w) {
    ui::IoChart& chart = w.chart();
    const auto edgeShows = [&](unsigned mask) {
      const ui::IoSample* s = chart.sampleAtRightEdge();
      if (s == nullptr || !s->known) return false;
      for (int k = 0; k < 12; ++k)
        if (s->inputs[static_cast<std::size_t>(k)] != (((mask >> k) & 1u) != 0)) return false;
      return true;
    };
    EXPECT_TRUE(waitUntil([&] { return edgeShows(5); }));
    ASSERT_EQ(sim->Control("inputs 2"), "ok");
    EXPECT_TRUE(waitUntil([&] { return edgeShows(2); }));

    auto* pause = w.findChild<QPushButton*>("pauseButton");
    ASSERT_NE(pause, nullptr);
    pause->click();
    const int before = chart.sampleCount();
    ASSERT_EQ(sim->Control("inputs 8"), "ok");
    ASSERT_TRUE(waitUntil([&] { return w.inputLook(3) == IndicatorLook::Orange; })) << "the lights go on";
    ASSERT_TRUE(waitPolls(w, 3));
    EXPECT_TRUE(edgeShows(2)) << "a paused chart stays where it was";
    EXPECT_GT(chart.sampleCount(), before) << "and keeps what comes meanwhile";
    pause->click();
    EXPECT_TRUE(edgeShows(8));

    auto* span = w.findChild<QComboBox*>("spanChoice");
    ASSERT_NE(span, nullptr);
    span->setCurrentIndex(span->findText("5 мин"));
    EXPECT_EQ(chart.span(), 300.0);
  });
}

TEST_F(InputsOutputsWindowTest, RecordingHoldsOneRowPerPollWithTheModulesValues) {
  Open({"--inputs", "5"});
  const QString path = QString::fromStdString(ScratchPath("poll.csv"));
  int rows = 0;
  int frames = 0;
  InWindow([&](InputsOutputsWindow& w) {
    ASSERT_TRUE(waitPolls(w, 2));
    const int framesBefore = framesSeen(*sim);
    ASSERT_TRUE(w.startRecording(path));
    const int pollsBefore = w.polls();
    ASSERT_TRUE(waitUntil([&] { return w.recordedRows() >= 15; }));
    w.stopRecording();
    rows = w.recordedRows();
    frames = framesSeen(*sim) - framesBefore;
    EXPECT_EQ(rows, w.polls() - pollsBefore);
  });
  // Two exchanges a poll: the input word and one counter or output. The module may have heard a
  // few polls more whose snapshots were still on their way to the window when it was asked.
  EXPECT_GE(frames, 2 * rows - 3);
  EXPECT_LE(frames, 2 * rows + 10);

  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
  const QStringList lines = QString::fromUtf8(file.readAll()).remove(QChar(0xFEFF)).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), rows + 1);
  const QStringList header = lines[0].split(';');
  ASSERT_EQ(header.size(), 1 + 12 + 12 + 8);
  EXPECT_EQ(header[1], "Вход 1");
  EXPECT_EQ(header[13], "Счетчик 1");
  EXPECT_EQ(header[25], "ШИМ выход 1");
  for (int i = 1; i < lines.size(); ++i) {
    const QStringList f = lines[i].split(';');
    ASSERT_EQ(f.size(), header.size()) << lines[i].toStdString();
    EXPECT_TRUE(QDateTime::fromString(f[0], "yyyy-MM-dd hh:mm:ss.zzz").isValid()) << f[0].toStdString();
    EXPECT_EQ(f.mid(1, 12).join(""), "101000000000") << "the module's inputs, 5";
    for (int k = 13; k < f.size(); ++k) EXPECT_TRUE(ReadDecimal(ui::us(f[k])).ok) << lines[i].toStdString();
  }
}

TEST_F(InputsOutputsWindowTest, ClosingDuringAReadWaitsForIt) {
  // Each answer comes 60 ms late: the worker is in a read nearly all the time.
  Open({"--inputs", "5", "--delay-ms", "60"});
  InWindow([&](InputsOutputsWindow& w) {
    ASSERT_TRUE(waitPolls(w, 2));
    const int frames = framesSeen(*sim);
    ASSERT_TRUE(waitUntil([&] { return framesSeen(*sim) > frames; })) << "a request is out";
    auto* close = w.findChild<QPushButton*>("closeButton");
    ASSERT_NE(close, nullptr);
    close->click();
    EXPECT_TRUE(w.isVisible()) << "the window stays until the read has ended";
    EXPECT_TRUE(waitUntil([&] { return !w.isVisible(); }, 3000));
  });
  // Nothing of the window's read is left on the line: the next exchange gets its own answer.
  EXPECT_EQ(ModuleValue("r.Cn", -1), "5");
}

}  // namespace
}  // namespace kvtr::test
