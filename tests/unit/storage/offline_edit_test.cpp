#include "storage/offline_edit.h"

#include <gtest/gtest.h>

#include "storage/configuration_file.h"
#include "unit/storage/configuration_test_support.h"

namespace kvtr {
namespace {

using testing_support::kSmallDescriptor;
using testing_support::RecordingUi;

TEST(OfflineEdit, ParsesNameIndexAndValue) {
  struct Row {
    const char* argument;
    bool ok;
    const char* name;
    int index;  // -1: none
    const char* text;
  };
  const Row rows[] = {
      {"Addr=5", true, "Addr", -1, "5"},
      {"r.oe:1=2.5", true, "r.oe", 1, "2.5"},
      {"CHAr*=A=B", true, "CHAr*", -1, "A=B"},
      {"Addr=", true, "Addr", -1, ""},
      {"t.Lnk:0=00:10", true, "t.Lnk", 0, "00:10"},
      {"Addr", false, "", -1, ""},
      {"=5", false, "", -1, ""},
      {":1=5", false, "", -1, ""},
      {"r.oe:=5", false, "", -1, ""},
      {"r.oe:-1=5", false, "", -1, ""},
      {"r.oe:1x=5", false, "", -1, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.argument);
    const auto edit = ParseValueEdit(row.argument);
    ASSERT_EQ(edit.has_value(), row.ok);
    if (!row.ok) continue;
    EXPECT_EQ(edit->name, row.name);
    EXPECT_EQ(edit->index.value_or(-1), row.index);
    EXPECT_EQ(edit->text, row.text);
  }
}

TEST(OfflineEdit, RefusalMessages) {
  Parameter address("Addr", "int", "Базовый адрес прибора");
  address.maximum = 2047;
  EXPECT_EQ(ValueRefusalMessage(address, "5000"),
            "Параметеру 'Addr' (Базовый адрес прибора)\nне может быть присвоено значение '5000'.\n "
            "(Значение этого параметра должно быть int и\n должно быть больше 0.000000 и меньше 2047.000000)\n");
  Parameter mode("Prot", "ДОРВ:Modbus", "Протокол");
  EXPECT_EQ(ValueRefusalMessage(mode, "x"),
            "Параметеру 'Prot' (Протокол)\nне может быть присвоено значение 'x'.\n "
            "(Значение этого параметра должно быть одним из: ДОРВ, Modbus)");
  Parameter name("CHAr*", "chAR*", "Сетевое имя");
  EXPECT_EQ(ValueRefusalMessage(name, "%s"),
            "Параметеру 'CHAr*' (Сетевое имя)\nне может быть присвоено значение '%s'.\n "
            "(Значение не удовлетворяет требованиям к формату сетевого имени");
}

class OfflineEditTree : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordingUi ui;
    DescriptorFromText(std::string(kSmallDescriptor))(tree_, ui);
    ASSERT_NE(tree_.root(), nullptr);
  }
  Parameter& setpoint(int i) { return *tree_.root()->children.at(static_cast<std::size_t>(i))->parameters()[0]; }
  Parameter& mode() { return *tree_.root()->parameters()[1]; }
  EditResult apply(const char* argument) {
    const auto edit = ParseValueEdit(argument);
    EXPECT_TRUE(edit.has_value()) << argument;
    return ApplyValueEdit(tree_, *edit);
  }

  ParameterTree tree_;
};

TEST_F(OfflineEditTree, AcceptedTextsAreStoredAsTheEditorStoresThem) {
  EXPECT_EQ(apply("r.oe:1=2.5").outcome, EditOutcome::Changed);
  EXPECT_EQ(setpoint(1).value, "2.500");
  EXPECT_EQ(setpoint(1).valueChanged, 1);
  EXPECT_EQ(setpoint(0).value, "Нет данных");
  EXPECT_EQ(setpoint(0).valueChanged, 0);
  EXPECT_EQ(apply("init=Вкл").outcome, EditOutcome::Changed);
  EXPECT_EQ(mode().value, "Вкл");
}

TEST_F(OfflineEditTree, TheSameTextChangesNothing) {
  mode().value = "Вкл";
  EXPECT_EQ(apply("INIT=Вкл").outcome, EditOutcome::Unchanged);
  EXPECT_EQ(mode().valueChanged, 0);
}

TEST_F(OfflineEditTree, RefusalsLeaveTheParameterAsItWas) {
  setpoint(1).value = "1.000";
  const EditResult refused = apply("r.oe:1=10.5");
  EXPECT_EQ(refused.outcome, EditOutcome::Refused);
  EXPECT_EQ(refused.message,
            "Параметеру 'r.oe' (Уставка)\nне может быть присвоено значение '10.5'.\n "
            "(Значение этого параметра должно быть float и\n должно быть больше 0.000000 и меньше 10.000000)\n");
  EXPECT_EQ(setpoint(1).value, "1.000");
  EXPECT_EQ(setpoint(1).valueChanged, 0);
  EXPECT_EQ(apply("CHAr*=ABCDE").outcome, EditOutcome::Refused);

  mode().ownerFirm = 1;
  const EditResult owned = apply("INIT=Вкл");
  EXPECT_EQ(owned.outcome, EditOutcome::MakerOwned);
  EXPECT_NE(owned.message.find("INIT"), std::string::npos);
  EXPECT_EQ(mode().value, "Нет данных");
}

TEST_F(OfflineEditTree, NamesAndIndexesMustMatch) {
  EXPECT_EQ(apply("r.oe=1").outcome, EditOutcome::NeedsIndex);
  EXPECT_EQ(apply("r.oe:2=1").outcome, EditOutcome::NotFound);
  EXPECT_EQ(apply("INIT:0=Вкл").outcome, EditOutcome::NotFound);
  const EditResult unknown = apply("nope=1");
  EXPECT_EQ(unknown.outcome, EditOutcome::NotFound);
  EXPECT_NE(unknown.message.find("nope"), std::string::npos);
}

// Settings of the module's network branch are checked together, one edit after the other, as
// the editor checks them.
TEST(OfflineEditNetwork, ForbiddenCombinationsAreRefused) {
  const std::string descriptor =
      "type ADDRLEN 8 11\n"
      "parameter Addr int Адрес\n"
      "parameter A.Len ADDRLEN Длина_адреса\n"
      "rule Addr 0 2047\n"
      "branch Сетевые_параметры 1 8 9 Addr A.Len\n"
      "root Прибор 1 2 3 Сетевые_параметры\n";
  ParameterTree tree;
  RecordingUi ui;
  DescriptorFromText(descriptor)(tree, ui);
  ASSERT_NE(tree.networkSettings(), nullptr);
  const Parameter& address = *tree.networkSettings()->parameters()[0];

  const EditResult forbidden = ApplyValueEdit(tree, *ParseValueEdit("Addr=300"));
  EXPECT_EQ(forbidden.outcome, EditOutcome::Forbidden);
  EXPECT_EQ(forbidden.caption, "Неудалось изменить значение");
  EXPECT_EQ(forbidden.message.rfind("Запрещенные комбинации сетевых параметров:\n", 0), 0u);
  EXPECT_EQ(address.value, "Нет данных");

  EXPECT_EQ(ApplyValueEdit(tree, *ParseValueEdit("A.Len=11")).outcome, EditOutcome::Changed);
  EXPECT_EQ(ApplyValueEdit(tree, *ParseValueEdit("Addr=300")).outcome, EditOutcome::Changed);
  EXPECT_EQ(address.value, "300");
  EXPECT_EQ(ApplyValueEdit(tree, *ParseValueEdit("A.Len=8")).outcome, EditOutcome::Forbidden);
  EXPECT_EQ(ApplyValueEdit(tree, *ParseValueEdit("Addr=3000")).outcome, EditOutcome::Refused);
}

}  // namespace
}  // namespace kvtr
