#include "model/common_params.h"

#include <gtest/gtest.h>

#include "model/os_description.h"

namespace kvtr {
namespace {

TEST(CommonParams, HoldsVersionNoticeAndSystem) {
  CommonParams node;
  EXPECT_EQ(node.title, "Сервисные параметры программы");
  ASSERT_EQ(node.ParameterCount(), 3u);
  const auto& params = node.parameters();
  EXPECT_EQ(params[0]->name, " ");
  EXPECT_EQ(params[1]->name, "  ");
  EXPECT_EQ(params[2]->name, "   ");
  EXPECT_EQ(params[0]->description, "Версия");
  EXPECT_EQ(params[1]->description, "Копирайт");
  EXPECT_EQ(params[2]->description, "Операционная система");
  EXPECT_EQ(params[0]->value, std::string("Конфигуратор КВТР ") + KVTR_VERSION);
  EXPECT_EQ(params[1]->value, CommonParams::LegalNotice());
  EXPECT_EQ(params[2]->value, DescribeOperatingSystem());
  // Names of blanks only: each is found by its own length.
  EXPECT_EQ(node.FindParameter("  "), params[1].get());
  for (const auto& p : params) EXPECT_EQ(p->exchangeable, 0) << p->description;
}

TEST(CommonParams, RebuildRestoresTheTexts) {
  CommonParams node;
  node.SetValueByName(" ", "edited");
  node.AddParameter("extra", "int", "");
  node.RebuildParameters();
  ASSERT_EQ(node.ParameterCount(), 3u);
  EXPECT_EQ(node.GetValueByName(" "), CommonParams::VersionText());
  EXPECT_FALSE(node.parameters()[0]->isChanged());
}

}  // namespace
}  // namespace kvtr
