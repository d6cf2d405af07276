// The core's messages and questions reach the operator from any thread, on the GUI thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <thread>

#include "gui_support.h"

namespace kvtr::test {

TEST(QtUserInterface, AQuestionFromAWorkerIsAskedOnTheGuiThread) {
  RecordingQtUserInterface ui;
  ui.answers = {true};
  bool answer = false;
  std::thread worker([&] {
    answer = ui.askYesNo("Послать команду INIT?", "КВТР");
    ui.showMessage("Готово", "КВТР", MessageIcon::Information);
  });
  ASSERT_TRUE(waitUntil([&] { return ui.messages.size() == 1; }));
  worker.join();
  EXPECT_TRUE(answer);
  EXPECT_EQ(ui.questions, QStringList{"Послать команду INIT?"});
  EXPECT_EQ(ui.messages.front().text, "Готово");
}

}  // namespace kvtr::test
