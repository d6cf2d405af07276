// The connection dialog against the simulated module: the speed scan finds a module the settings
// do not match, the factory settings reach a module at its factory settings, "Выход" interrupts a
// scan and puts the old speed back, "Работать offline" ends the dialog for offline work, and a
// network gateway's port name typed into the port row connects through the gateway.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/document.h"
#include "gui_support.h"
#include "integration/sim_fixture.h"
#include "model/net_rs485.h"
#include "protocol/network_settings.h"
#include "screenshot.h"
#include "ui/setup_carrier_dialog.h"
#include "ui/table_control.h"

namespace kvtr::test {
namespace {

using Choice = ApplicationShell::ConnectionChoice;
using ui::SetupCarrierDialog;

class SetupCarrierDialogTest : public SimFixture {
 protected:
  // A document whose program port settings point at `port` at their defaults (9600 8N1, address 16).
  std::unique_ptr<Document> DocumentOn(const std::string& port) { return documentOnPort(ui_, port, &state_); }
  static QPushButton* Button(QWidget& dialog, const QString& text) {
    for (auto* b : dialog.findChildren<QPushButton*>())
      if (b->text() == text) return b;
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
  }
  static void Click(QWidget& dialog, const QString& text) {
    if (QPushButton* b = Button(dialog, text)) QTest::mouseClick(b, Qt::LeftButton);
  }
  // The row of the setting `name` in the settings list, and what its value column shows.
  static int Row(SetupCarrierDialog& dialog, const std::string& name) {
    const ui::TableModel& rows = dialog.settingsList().table();
    for (int r = 0; r < rows.rowCount(); ++r)
      if (rows.parameter(r)->name == name) return r;
    return -1;
  }
  // The edit field standing open over the list; a closed one may still wait to be deleted.
  static QLineEdit* OpenEditor(SetupCarrierDialog& dialog) {
    for (auto* e : dialog.settingsList().findChildren<QLineEdit*>())
      if (e->isVisible()) return e;
    return nullptr;
  }
  static QString Shown(SetupCarrierDialog& dialog, const std::string& name) {
    return dialog.settingsList().table().text(Row(dialog, name), 1);
  }
  RecordingQtUserInterface ui_;
  LinkState state_;
};

TEST_F(SetupCarrierDialogTest, TheSpeedScanFindsTheModuleAt19200) {
  SimProcess& sim = StartSim({"--baud", "19200"});
  ASSERT_TRUE(sim.running());
  auto document = DocumentOn(sim.port());
  NetRS485prg& settings = document->engine().programPortNode();
  ASSERT_EQ(settings.GetValueByName("bPS"), "9600");

  SetupCarrierDialog dialog(*document, ui_, false);
  dialog.open();
  EXPECT_FALSE(Button(dialog, "Работать offline")->isEnabled()) << "opened from the menu";
  EXPECT_EQ(Shown(dialog, "bPS"), "9600");
  Click(dialog, "Сканирование сети");
  ASSERT_TRUE(waitUntil([&] { return dialog.statusText().startsWith("Идет сканирование на скорости 4800"); }, 60000));
  EXPECT_EQ(Shown(dialog, "bPS"), "4800") << "the row shows the speed being tried";
  EXPECT_FALSE(dialog.settingsList().isEnabled()) << "locked while the worker exchanges";
  saveScreenshot(dialog, "connection_dialog.png");

  ASSERT_TRUE(waitUntil([&] { return !dialog.isVisible(); }, 120000)) << dialog.statusText().toStdString();
  EXPECT_EQ(dialog.choice(), Choice::Connected);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(ui_.saw("Связь с прибором установлена!"));
  EXPECT_FALSE(dialog.alarm());
  EXPECT_EQ(settings.GetValueByName("bPS"), "19200");
  EXPECT_EQ(Shown(dialog, "bPS"), "19200");
}

TEST_F(SetupCarrierDialogTest, SettingsAreEditedInPlaceAndFactorySettingsKeepThePortAndConnect) {
  SimProcess& sim = StartSim({});
  ASSERT_TRUE(sim.running());
  auto document = DocumentOn(sim.port());
  NetRS485prg& settings = document->engine().programPortNode();
  settings.SetValueByName("bPS", "57600");

  SetupCarrierDialog dialog(*document, ui_, true);
  dialog.open();
  // The operator types the address into its row: a number is taken, anything else is refused
  // with the reason in the status line and the row keeps its value.
  for (const char* typed : {"40", "x40"}) {
    dialog.settingsList().beginEditing(Row(dialog, "Addr"), 1);
    QLineEdit* edit = OpenEditor(dialog);
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, QString::fromUtf8(typed));
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return OpenEditor(dialog) == nullptr; }));
  }
  EXPECT_EQ(settings.GetValueByName("Addr"), "40");
  EXPECT_EQ(Shown(dialog, "Addr"), "40");
  EXPECT_TRUE(dialog.alarm());
  EXPECT_TRUE(dialog.statusText().startsWith("Значение 'x40' не принято")) << dialog.statusText().toStdString();

  Click(dialog, "Заводские сетевые настройки");
  EXPECT_EQ(Shown(dialog, "bPS"), "9600");
  EXPECT_EQ(Shown(dialog, "Addr"), "16");
  EXPECT_EQ(Shown(dialog, std::string(kPortParameterName)), QString::fromStdString(sim.port()));
  ASSERT_TRUE(waitUntil([&] { return !dialog.isVisible(); }, 60000)) << dialog.statusText().toStdString();
  EXPECT_EQ(dialog.choice(), Choice::Connected);
  EXPECT_TRUE(ui_.saw("Связь с прибором установлена!"));
  EXPECT_EQ(settings.GetValueByName(kPortParameterName), sim.port());
}

TEST_F(SetupCarrierDialogTest, AGatewaysPortIsTypedIntoThePortRowAndConnects) {
  SimProcess& sim = StartSim({"--tcp", "0"});
  ASSERT_TRUE(sim.running());
  auto document = DocumentOn("COM9");
  NetRS485prg& settings = document->engine().programPortNode();

  SetupCarrierDialog dialog(*document, ui_, true);
  dialog.open();
  dialog.settingsList().beginEditing(Row(dialog, std::string(kPortParameterName)), 1);
  QLineEdit* edit = OpenEditor(dialog);
  ASSERT_NE(edit, nullptr) << "the port's list takes typing";
  edit->selectAll();
  QTest::keyClicks(edit, QString::fromStdString(sim.port()));
  QTest::keyClick(edit, Qt::Key_Return);
  ASSERT_TRUE(waitUntil([&] { return OpenEditor(dialog) == nullptr; }));
  EXPECT_EQ(settings.GetValueByName(kPortParameterName), sim.port()) << dialog.statusText().toStdString();

  Click(dialog, "Установить связь");
  ASSERT_TRUE(waitUntil([&] { return !dialog.isVisible(); }, 60000)) << dialog.statusText().toStdString();
  EXPECT_EQ(dialog.choice(), Choice::Connected);
  EXPECT_TRUE(ui_.saw("Связь с прибором установлена!"));
}

TEST_F(SetupCarrierDialogTest, ExitInterruptsAScanAndPutsTheSpeedBack) {
  // The module listens at 16; nobody answers at 100, at any speed.
  SimProcess& sim = StartSim({});
  ASSERT_TRUE(sim.running());
  auto document = DocumentOn(sim.port());
  NetRS485prg& settings = document->engine().programPortNode();
  settings.SetValueByName("Addr", "100");

  SetupCarrierDialog dialog(*document, ui_, true);
  dialog.open();
  Click(dialog, "Сканирование сети");
  ASSERT_TRUE(waitUntil([&] { return dialog.statusText().startsWith("Идет сканирование на скорости 4800"); }, 60000));
  Click(dialog, "Выход");
  EXPECT_TRUE(dialog.isVisible()) << "the worker ends first";
  EXPECT_EQ(dialog.statusText(), "Прерывание операции...");
  ASSERT_TRUE(waitUntil([&] { return !dialog.isVisible(); }, 60000));
  EXPECT_EQ(dialog.choice(), Choice::Exit);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_FALSE(dialog.alarm()) << "no failure after an interruption";
  EXPECT_EQ(settings.GetValueByName("bPS"), "9600");
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(SetupCarrierDialogTest, WorkOfflineEndsTheDialogForOfflineWork) {
  SimProcess& sim = StartSim({});
  ASSERT_TRUE(sim.running());
  auto document = DocumentOn(sim.port());
  SetupCarrierDialog dialog(*document, ui_, true);
  dialog.open();
  Click(dialog, "Работать offline");
  ASSERT_TRUE(waitUntil([&] { return !dialog.isVisible(); }));
  EXPECT_EQ(dialog.choice(), Choice::Offline);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(ui_.messages.empty());
}

}  // namespace
}  // namespace kvtr::test
