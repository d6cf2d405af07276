// The progress window during a real read of the simulated module: it opens over the program with
// the task's caption, counts "N из M", stays up against Escape and the close box, "Прервать!"
// stops the read, and the window closes by itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/document.h"
#include "exchange/task_kind.h"
#include "gui_support.h"
#include "integration/sim_fixture.h"
#include "protocol/network_settings.h"
#include "screenshot.h"
#include "ui/progress_dialog.h"
#include "ui/task_runner.h"

namespace kvtr::test {
namespace {

class ProgressDialogTest : public SimFixture {
 protected:
  std::unique_ptr<Document> DocumentOn(const std::string& port) { return documentOnPort(ui_, port, &state_); }
  RecordingQtUserInterface ui_;
  LinkState state_;
};

TEST_F(ProgressDialogTest, CountsARealReadAndPrervatStopsIt) {
  // Each answer a little late, so that the read is still going when the operator interrupts it.
  SimProcess& sim = StartSim({"--delay-ms", "10"});
  ASSERT_TRUE(sim.running());
  auto document = DocumentOn(sim.port());
  ASSERT_TRUE(document->NewDocument());
  ExchangeEngine& engine = document->engine();
  ASSERT_GE(engine.OpenLink(false), 0);
  ui::ProgressDialog window(ui_, engine);
  const QRegularExpression counter("^(\\d+) из (\\d+)$");

  // What the operator sees while the read runs, and what he does: try to get rid of the window,
  // then press "Прервать!".
  QString counterSeen;
  bool modal = false;
  bool ordinaryCursor = false;
  bool stayedUp = false;
  QTimer operatorHand;
  QObject::connect(&operatorHand, &QTimer::timeout, [&] {
    const auto m = counter.match(window.counterText());
    if (!counterSeen.isEmpty() || !window.isVisible() || !m.hasMatch() || m.captured(1).toInt() < 3) return;
    counterSeen = window.counterText();
    modal = QApplication::activeModalWidget() == &window;
    ordinaryCursor = QApplication::overrideCursor() == nullptr || QApplication::overrideCursor()->shape() == Qt::ArrowCursor;
    saveScreenshot(window, "progress_dialog.png");
    QTest::keyClick(&window, Qt::Key_Escape);
    window.close();
    stayedUp = window.isVisible();
    QTest::mouseClick(window.abortButton(), Qt::LeftButton);
  });
  operatorHand.start(5);

  TaskOutcome outcome;
  ASSERT_TRUE(ui::RunTask(engine, TaskKind::ReadAll, document->root(), &outcome));
  operatorHand.stop();

  ASSERT_FALSE(counterSeen.isEmpty()) << "the counter was never shown";
  const auto m = counter.match(counterSeen);
  EXPECT_EQ(m.captured(2).toInt(), engine.counters().totalCount.load());
  EXPECT_LT(m.captured(1).toInt(), m.captured(2).toInt());
  EXPECT_TRUE(modal);
  EXPECT_TRUE(ordinaryCursor) << "the wait cursor is no good for reaching \"Прервать!\"";
  EXPECT_TRUE(stayedUp) << "Escape and the close box leave the window up";
  EXPECT_EQ(window.windowTitle(), "Идет чтение параметров из прибора");
  EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(window.elapsedText()).hasMatch()) << window.elapsedText().toStdString();

  EXPECT_TRUE(outcome.interrupted);
  EXPECT_LT(outcome.counts.visited, engine.counters().totalCount.load()) << "the read stopped before its end";
  EXPECT_EQ(state_.linkStatus.load(), link_status::kInterrupted);
  EXPECT_TRUE(waitUntil([&] { return !window.isVisible(); })) << "the window closes by itself";
  ASSERT_FALSE(window.logLines().isEmpty());
  EXPECT_EQ(window.logLines().back(), ui::qs(std::string(kTaskDoneText)));
}

}  // namespace
}  // namespace kvtr::test
