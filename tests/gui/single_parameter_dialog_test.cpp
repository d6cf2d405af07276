// The single-parameter access dialog as the operator uses it: opened from the main menu against
// the simulated module over a pseudo-terminal, a name typed or chosen, "Выполнить!" clicked, and
// the protocol log read line by line with each frame's reading beside it.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/document.h"
#include "gui_support.h"
#include "integration/sim_fixture.h"
#include "protocol/frame_trace.h"
#include "protocol/network_settings.h"
#include "screenshot.h"
#include "ui/frame_log.h"
#include "ui/main_frame.h"
#include "ui/single_parameter_dialog.h"

namespace kvtr::test {
namespace {

class SingleParameterDialogTest : public MainWindowFixture<> {
 protected:
  void SetUp() override {
    SimProcess& simulator = StartSim();
    ASSERT_TRUE(simulator.running());
    OpenWindowOver(simulator);
  }

  // Opens the dialog from the menu and runs `act` in it; the dialog is closed afterwards.
  void InDialog(const std::function<void(ui::SingleParameterDialog&)>& act) {
    bool ran = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<ui::SingleParameterDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || ran) return;
      ran = true;
      poll.stop();
      act(*dialog);
      dialog->reject();
    });
    poll.start();
    frame->action(ui::command::kSingleParameter)->trigger();
    EXPECT_TRUE(ran) << "the dialog did not open";
  }

  static void Type(ui::SingleParameterDialog& d, const char* name, const QString& text) {
    QLineEdit* edit = d.findChild<QLineEdit*>(name);
    if (edit == nullptr) edit = d.findChild<QComboBox*>(name)->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }
  // A click on a push button, or on the box of a check box or radio button.
  static void Click(ui::SingleParameterDialog& d, const char* name) {
    QAbstractButton* button = d.findChild<QAbstractButton*>(name);
    const bool box = qobject_cast<QPushButton*>(button) == nullptr;
    QTest::mouseClick(button, Qt::LeftButton, {}, box ? QPoint(6, button->height() / 2) : button->rect().center());
  }
  // The lines `from`..`from + n` of a log, one text.
  static std::string Part(const QStringList& lines, int from, int n = -1) {
    return lines.mid(from < 0 ? lines.size() + from : from, n).join('\n').toStdString();
  }
  static QString MeaningWith(ui::SingleParameterDialog& d, const QString& start) {
    for (const QString& m : Meanings(d))
      if (m.startsWith(start)) return m;
    return {};
  }
  // The transaction's lines (the traced frames left out), and the readings of the frames.
  static QStringList LogLines(ui::SingleParameterDialog& d) {
    QStringList lines;
    for (const QString& line : d.frameLog().model().lines())
      if (!SplitTracedFrameLine(line.toStdString())) lines << line;
    return lines;
  }
  static QStringList Meanings(ui::SingleParameterDialog& d) {
    QStringList meanings;
    for (const QString& m : d.frameLog().model().meanings())
      if (!m.isEmpty()) meanings << m;
    return meanings;
  }

};

TEST_F(SingleParameterDialogTest, ReadsAndWritesAParameterWithTheWholeLogDecoded) {
  InDialog([&](ui::SingleParameterDialog& d) {
    QAbstractItemModelTester tester(&d.frameLog().model());
    EXPECT_EQ(d.findChild<QComboBox*>("command")->currentText(), "!vEr");
    Type(d, "command", "n.Err");
    EXPECT_EQ(d.findChild<QLineEdit*>("hash")->text(), "0x233");
    Type(d, "command", "APLY");
    EXPECT_EQ(d.findChild<QLineEdit*>("hash")->text(), "0x8403");

    // An enumeration chosen twice offers each of its values once, the hidden one not at all.
    auto* command = d.findChild<QComboBox*>("command");
    const int mode = command->findText("C.Mod");
    ASSERT_GE(mode, 0);
    for (int i = 0; i < 2; ++i) command->activated(mode);
    auto* value = d.findChild<QComboBox*>("value");
    EXPECT_EQ(value->count(), 4);
    EXPECT_EQ(value->itemText(3), "Суммирование с автосбросом");

    Type(d, "command", "t.Ans");
    Click(d, "write");
    Type(d, "value", "25");
    Click(d, "execute");
    // 25 travels as one byte, and the module sends it back.
    QStringList lines = LogLines(d);
    EXPECT_EQ(Part(lines, 0),
              "t.Ans (Задержка ответа, мс)\n"
              "Размер инф-ой части посылки 1 байт.\n"
              ">> Посылка: # 0 : 025 = 0x19 (.)\n"
              "<< Ответ: # 0 : 025 = 0x19 (.)\n"
              "Инф-ная часть квитанции ответа имеет размер 1 байт.\n"
              "Нет ошибок; записано. Обратно вернулось='25'");

    Click(d, "read");
    Click(d, "execute");
    lines = LogLines(d);
    EXPECT_EQ(Part(lines, 0, 2), "t.Ans (Задержка ответа, мс)\nРазмер инф-ой части посылки 0 байт.");
    EXPECT_EQ(Part(lines, -2), "Нет ошибок; строковая нотация ответа:\n25");
    // The frame lines say which parameter went out and came back, and with which value.
    const QStringList meanings = Meanings(d);
    ASSERT_FALSE(meanings.isEmpty());
    EXPECT_TRUE(MeaningWith(d, "запрос чтения, адрес 16, M.s.t.r.").contains("атрибуты t.Ans"));
    EXPECT_TRUE(meanings.back().startsWith("ответ чтения, адрес 16, t.Ans (0x05CA)")) << meanings.back().toStdString();
    EXPECT_TRUE(meanings.back().endsWith("= 25")) << meanings.back().toStdString();

    // The log goes to the clipboard with the frames' readings.
    Click(d, "copyLog");
    const QString copied = QApplication::clipboard()->text();
    EXPECT_TRUE(copied.contains("Нет ошибок; строковая нотация ответа:\n25\n")) << copied.toStdString();
    EXPECT_TRUE(copied.contains("\t" + meanings.back())) << copied.toStdString();
    d.resize(900, 600);
    saveScreenshot(d, "single_parameter.png");
  });
}

TEST_F(SingleParameterDialogTest, AnIndexGoesIntoTheDataFieldOrIntoTheAddress) {
  InDialog([&](ui::SingleParameterDialog& d) {
    Type(d, "command", "I.Flt");
    EXPECT_FALSE(d.findChild<QRadioButton*>("indexInAddress")->isEnabled());
    Click(d, "indexPresent");
    ASSERT_TRUE(d.findChild<QRadioButton*>("indexInAddress")->isEnabled());
    Type(d, "index", "2");
    Click(d, "execute");
    QStringList lines = LogLines(d);
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(Part(lines, 0, 3),
              "Индекс передается в посылке запроса\nI.Flt (Время фильтрации дребезга, мс)\n"
              "Размер инф-ой части посылки 2 байт.");
    EXPECT_EQ(Part(lines, -2, 1), "Нет ошибок; строковая нотация ответа:");
    EXPECT_TRUE(Meanings(d).back().contains(", индекс 2,")) << Meanings(d).back().toStdString();

    // Index 9 in the address: the request goes to the base address + 9, past what the module hears.
    Click(d, "indexInAddress");
    Type(d, "index", "9");
    Click(d, "execute");
    lines = LogLines(d);
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(Part(lines, 0, 2), "Индекс передается в поле адреса запроса\nПредупреждение: адрес увеличен более чем на 7!");
    const int base = document->engine().serialPort().settings().baseAddress;
    EXPECT_FALSE(MeaningWith(d, QString("запрос чтения, адрес %1 (база+9), ").arg(base + 9)).isEmpty())
        << d.frameLog().model().text().toStdString();
    EXPECT_EQ(Part(lines, -1), "Таймаут при передаче данных (нет связи)");
  });
}

TEST_F(SingleParameterDialogTest, AnUndescribedNameIsRefusedWithoutSending) {
  InDialog([&](ui::SingleParameterDialog& d) {
    Type(d, "command", "Zz.9");
    EXPECT_EQ(d.findChild<QLineEdit*>("description")->text(), "<неизвестный параметр> (<тип неопределен>)");
    EXPECT_EQ(d.findChild<QComboBox*>("value")->count(), 0);
    const int before = framesSeen(*sim);
    Click(d, "execute");
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back().text, "Параметер 'Zz.9' не описан!");
    EXPECT_EQ(ui.messages.back().icon, MessageIcon::Stop);
    EXPECT_EQ(framesSeen(*sim), before);
  });
}

}  // namespace
}  // namespace kvtr::test
