// The APLY dialog as the operator uses it from the main menu, against the simulated module over
// a pseudo-terminal: the module and the program move to new settings together and the program
// says that the module answers there; when the module is not found at the new settings, the
// program offers to go back to its settings from before, and the module answers there again.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/document.h"
#include "exchange/group_operations.h"
#include "gui_support.h"
#include "integration/sim_fixture.h"
#include "model/parameter_tree.h"
#include "protocol/network_settings.h"
#include "screenshot.h"
#include "ui/apply_dialog.h"
#include "ui/main_frame.h"

namespace kvtr::test {
namespace {

class ApplyDialogTest : public MainWindowFixture<> {
 protected:
  void SetUp() override {
    SimProcess& simulator = StartSim();
    ASSERT_TRUE(simulator.running());
    OpenWindowOver(simulator);
  }

  // Chooses "Послать команду APLY" and, in the dialog, runs `act` and clicks OK.
  void ApplyFromMenu(const std::function<void(ui::ApplyDialog&)>& act = {}) {
    bool ran = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<ui::ApplyDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || ran) return;
      ran = true;
      poll.stop();
      if (act) act(*dialog);
      QTest::mouseClick(dialog->findChild<QPushButton*>("ok"), Qt::LeftButton);
    });
    poll.start();
    frame->action(ui::command::kApply)->trigger();
    ASSERT_TRUE(ran) << "the dialog did not open";
  }

  // The module answers "dev" at the program's settings now.
  bool ModuleAnswers() {
    Parameter dev("dev");
    return document->engine().operations().ReadParameter(dev) == 0 && !dev.value.empty();
  }

};

TEST_F(ApplyDialogTest, TheModuleAndTheProgramMoveToTheNewSpeedTogether) {
  // The module takes a new speed as a value; only APLY puts it into effect.
  ASSERT_EQ(document->tree()->networkSettings()->SetValueByName("bPS", "19200"), SetValueResult::Stored);
  frame->action(ui::command::kWriteChanged)->trigger();

  ApplyFromMenu([&](ui::ApplyDialog& d) {
    EXPECT_TRUE(d.findChild<QPlainTextEdit*>("newSettings")->toPlainText().contains("Скорость: 19200"));
    auto* broadcast = d.findChild<QCheckBox*>("broadcast");
    auto* threeTimes = d.findChild<QCheckBox*>("threeTimes");
    EXPECT_TRUE(d.findChild<QCheckBox*>("changeProgram")->isChecked());
    EXPECT_FALSE(threeTimes->isEnabled());
    QTest::mouseClick(broadcast, Qt::LeftButton);
    EXPECT_TRUE(threeTimes->isEnabled());
    QTest::mouseClick(broadcast, Qt::LeftButton);
    saveScreenshot(d, "apply.png");
  });
  EXPECT_EQ(document->engine().programPortNode().GetValueByName("bPS"), "19200");
  EXPECT_EQ(document->engine().serialPort().settings().baudRate, 19200);
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_TRUE(ui.messages.back().text.startsWith("Прибор отвечает при новых настройках: 19200 бод"))
      << ui.messages.back().text.toStdString();
  EXPECT_TRUE(ui.questions.isEmpty());
  EXPECT_TRUE(ModuleAnswers());
}

TEST_F(ApplyDialogTest, AModuleLostAtTheNewSettingsLeadsTheProgramBack) {
  // A new speed that never reached the module: after APLY the module stays where it was.
  ASSERT_EQ(document->tree()->networkSettings()->SetValueByName("bPS", "19200"), SetValueResult::Stored);
  ui.answers = {true};
  ApplyFromMenu();
  ASSERT_EQ(ui.questions.size(), 1);
  EXPECT_TRUE(ui.questions[0].startsWith("Прибор не отвечает при новых настройках: 19200 бод"))
      << ui.questions[0].toStdString();
  EXPECT_TRUE(ui.questions[0].contains("Вернуть программу к прежним настройкам (9600 бод")) << ui.questions[0].toStdString();
  EXPECT_EQ(document->engine().programPortNode().GetValueByName("bPS"), "9600");
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_TRUE(ui.messages.back().text.contains("Прибор отвечает при них.")) << ui.messages.back().text.toStdString();
  EXPECT_TRUE(ModuleAnswers());
}

}  // namespace
}  // namespace kvtr::test
