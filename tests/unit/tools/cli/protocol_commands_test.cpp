// The protocol utilities of the kvtr tool, run as a user runs them. Expected frames and hashes
// were computed with an independent script and written in by hand.
#include "unit/tools/cli/run_tool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvtr {
namespace {

using testing::runTool;

struct CliCase {
  std::vector<std::string> args;
  int exitCode;
  std::string out;       // the whole standard output
  std::string errPart;   // must occur in the error output ("" when it must be empty)
};

void check(const std::vector<CliCase>& cases) {
  for (const auto& c : cases) {
    std::string shown = "kvtr";
    for (const auto& a : c.args) shown += " '" + a + "'";
    const auto run = runTool("kvtr", c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << shown << "\n" << run.err;
    EXPECT_EQ(run.out, c.out) << shown;
    if (c.errPart.empty()) {
      EXPECT_EQ(run.err, "") << shown;
    } else {
      EXPECT_NE(run.err.find(c.errPart), std::string::npos) << shown << "\n" << run.err;
    }
  }
}

TEST(KvtrTool, ProgramLevel) {
  check({
      {{}, 2, "", "не задана команда"},
      {{"frobnicate"}, 2, "", "неизвестная команда «frobnicate»"},
      {{"--frob", "hash", "x"}, 2, "", "неизвестный параметр «--frob»"},
      {{"--version"}, 0, "kvtr " KVTR_VERSION "\n", ""},
      {{"--", "hash", "APLY"}, 0, "APLY 0x8403\n", ""},
  });
  const auto help = runTool("kvtr", {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* command : {"hash ИМЯ", "frame (ИМЯ", "encode --type", "decode --type", "parse СТРОКА"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
  const auto usage = runTool("kvtr", {"frame", "--help"});
  EXPECT_EQ(usage.exitCode, 0);
  EXPECT_EQ(usage.out.rfind("Использование: kvtr frame (ИМЯ | --hash 0xHHHH)", 0), 0u) << usage.out;
}

TEST(KvtrTool, Hash) {
  check({
      {{"hash", "n.Err", "APLY", "INIT", "M.s.t.r.", "CHAr*", ""}, 0,
       "n.Err 0x0233\nAPLY 0x8403\nINIT 0x00E9\nM.s.t.r. 0x5EA0\nCHAr* 0x3628\n 0x0000\n", ""},
      {{"hash", "r.oe", "abcde"}, 0, "r.oe 0xE894\nabcde 0xDE1B\n", ""},
      // A name that starts with '-' follows "--".
      {{"hash", "--", "-_ 9"}, 0, "-_ 9 0x543A\n", ""},
      {{"hash"}, 2, "", "Использование: kvtr hash ИМЯ..."},
      {{"hash", "-_ 9"}, 2, "", "неизвестный параметр «-_»"},
  });
}

TEST(KvtrTool, Frame) {
  const std::string fifteen = "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E";
  check({
      {{"frame", "r.oe"}, 0, "#HGHGUOPKHPOP\n", ""},
      {{"frame", "--hash", "0xE894"}, 0, "#HGHGUOPKHPOP\n", ""},
      {{"frame", "r.oe", "--address", "1000", "--address-length", "11"}, 0, "#NTHGUOPKIPII\n", ""},
      {{"frame", "r.oe", "--address-length=11", "--address=2047"}, 0, "#VVVGUOPKKLRT\n", ""},
      {{"frame", "r.oe", "--address-offset", "-1"}, 0, "#VVHGUOPKVLLS\n", ""},
      {{"frame", "r.oe", "--address", "255"}, 0, "#VVHGUOPKVLLS\n", ""},
      {{"frame", "bPS", "--address", "4", "--address-offset", "1"}, 0, "#GLHGRNMGJOJN\n", ""},
      {{"frame", "CHAr", "--index", "2"}, 0, "#HGHIJMIOGGGILKUI\n", ""},
      {{"frame", "--hash", "0x3628", "--write", "--data", "14", "--index", "2"}, 0, "#HGGJJMIOHKGGGIOJSJ\n", ""},
      {{"frame", "--write", "--data", "0014", "--hash", "3628", "--"}, 0, "#HGGIJMIOGGHKNQGS\n", ""},
      {{"frame", "Addr", "--write", "--type", "int", "--value", "5"}, 0, "#HGGIPVMIGGGLNKMN\n", ""},
      {{"frame", "r.oe", "--write", "--type", "float", "--value", "1.5", "--index", "3"}, 0,
       "#HGGLUOPKJVSGGGGGGJRVGS\n", ""},
      {{"frame", "--hash", "0x1234", "--write", "--data", fifteen}, 0,
       "#HGGVHIJKGGGHGIGJGKGLGMGNGOGPGQGRGSGTGURULJ\n", ""},
      // Never a malformed frame: 16 data bytes, given or made by the index, are refused.
      {{"frame", "--hash", "0x1234", "--data", fifteen, "0F"}, 1, "", "не больше 15 байт"},
      {{"frame", "--hash", "0x1234", "--data", fifteen, "--index", "1"}, 1, "", "не больше 15 байт"},
      {{"frame", "NAM", "--write", "--type", "name", "--value", ""}, 1, "", "Сетевое имя пусто"},
      {{"frame", "dev", "--write", "--type", "string", "--value", "x"}, 1, "",
       "Метод формирования посылки записи для команды 'dev' не определен."},
      // Usage errors.
      {{"frame"}, 2, "", "не задано ни имя, ни --hash"},
      {{"frame", "r.oe", "bPS"}, 2, "", "больше одного имени"},
      {{"frame", "r.oe", "--hash", "0x1"}, 2, "", "но не оба"},
      {{"frame", "--hash", "0xGGGG"}, 2, "", "неверная хеш-сумма"},
      {{"frame", "--hash", "0x12345"}, 2, "", "неверная хеш-сумма"},
      {{"frame", "r.oe", "--data", "0G"}, 2, "", "неверные байты"},
      {{"frame", "r.oe", "--data", "001"}, 2, "", "неверные байты"},
      {{"frame", "r.oe", "--data", "00", "--type", "int", "--value", "1"}, 2, "", "но не оба"},
      {{"frame", "r.oe", "--type", "int"}, 2, "", "задаются вместе"},
      {{"frame", "r.oe", "--address", "256"}, 2, "", "неверный адрес"},
      {{"frame", "r.oe", "--address", "2048", "--address-length", "11"}, 2, "", "неверный адрес"},
      {{"frame", "r.oe", "--address", "250", "--address-offset", "6"}, 2, "", "не помещается"},
      {{"frame", "r.oe", "--address-length", "16"}, 2, "", "8 или 11"},
      {{"frame", "r.oe", "--index", "65536"}, 2, "", "неверный индекс"},
      {{"frame", "r.oe", "--index"}, 2, "", "нужно значение"},
      {{"frame", "r.oe", "--write=1"}, 2, "", "не принимает значения"},
  });
}

TEST(KvtrTool, EncodeAndDecode) {
  check({
      {{"encode", "--type", "float", "1.5"}, 0, "3F C0 00 00\n", ""},
      {{"encode", "--type", "float", "--name", "r.oe", "1.5"}, 0, "3F C0 00\n", ""},
      {{"encode", "--type", "int", "255"}, 0, "FF\n", ""},
      {{"encode", "--type", "int", "256"}, 0, "01 00\n", ""},
      {{"encode", "--name", "Addr", "--type", "int", "5"}, 0, "00 05\n", ""},
      {{"encode", "--type", "CLK_frm", "12:05"}, 0, "02 D5\n", ""},
      {{"encode", "--type", "CLK_frm", "0:59"}, 0, "3B\n", ""},
      {{"encode", "--type", "name", "AB.C"}, 0, "4E 18 17 14\n", ""},
      {{"encode", "--type", "OFF:ON", "on"}, 0, "01\n", ""},
      {{"encode", "--type", "void", ""}, 0, "\n", ""},
      {{"encode", "--type", "OFF:ON", "maybe"}, 1, "", "Неверное значение (неудается закодировать данные)"},
      {{"encode", "--type", "name", "ABCDEFGHI"}, 1, "", "Сетевое имя слишком длинное"},
      {{"encode", "--type", "CLK_frm", "12h"}, 1, "", "Метод формирования посылки записи для команды '' не определен."},
      {{"encode", "1.5"}, 2, "", "не задан --type"},
      {{"encode", "--type", "int"}, 2, "", "ровно один ТЕКСТ"},
      {{"encode", "--type", "int", "1", "2"}, 2, "", "ровно один ТЕКСТ"},
      {{"encode", "--type", "int", "--", "-5"}, 0, "FF FB\n", ""},

      {{"decode", "--type", "float", "3F", "C0", "00", "00"}, 0, "1.500\n", ""},
      {{"decode", "--type", "float", "--name", "r.oe", "3FC000"}, 0, "1.500\n", ""},
      {{"decode", "--type", "CLK_frm", "02 D5"}, 0, "12:05\n", ""},
      {{"decode", "--type", "OFF:ON", "01"}, 0, "ON\n", ""},
      {{"decode", "--type", "int", "05 00 03"}, 0, "5\n", ""},
      {{"decode", "--type", "name", "4E 18 17 14"}, 0, "AB.C \n", ""},
      {{"decode", "--name", "exit", "--type", "int", "18 00 10"}, 0, "Адрес прибора: 16\n", ""},
      {{"decode", "--name", "exit", "--type", "int", "00 00 07"}, 0, "сброс по питанию\n", ""},
      {{"decode", "--type", "void"}, 0, "\n", ""},
      {{"decode", "--type", "OFF:ON", "02"}, 1, "", "Не могу раскодировать ответ"},
      {{"decode", "--type", "int", "01 02 03 04 05"}, 1, "", "Ошибка; (Непонятная длина ответа:5)"},
      {{"decode", "--type", "int"}, 1, "", "Не могу раскодировать ответ"},
      {{"decode", "--type", "int", "0G"}, 2, "", "неверные байты"},
      {{"decode", "--type", "int", "1"}, 2, "", "неверные байты"},
      {{"decode", "01"}, 2, "", "не задан --type"},
  });
}

TEST(KvtrTool, Parse) {
  check({
      {{"parse", "#HGGJUOPKJVSGGGROQV", "--hash", "0xE894"}, 0, "ok\n3F C0 00\n", ""},
      {{"parse", "--hash=e894", "#HGGJUOPKJVSGGGROQV\r"}, 0, "ok\n3F C0 00\n", ""},
      {{"parse", "#HGHGUOPKHPOP", "--hash", "0xE894"}, 0, "ok\n\n", ""},
      {{"parse", "#HGGHGIJJJPPSRG", "--hash", "0xB760"}, 1,
       "ошибка прибора 57\nЗапрещающий групповой атрибут находится на уровне 1\n", ""},
      {{"parse", "#HGGHGIJJSOMVTR", "--hash", "0xE894"}, 1, "ошибка прибора -56\nНе найдено значение ошибки. (Код -56)\n",
       ""},
      {{"parse", "#HGGGGIJJGRLI", "--hash", "0xE894"}, 1, "ошибка прибора\n\n", ""},
      {{"parse", "#HGGHRNMGGIHTOT", "--hash", "0xE894"}, 1,
       "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\n", ""},
      {{"parse", "#HGGIUOPKJVSGGGQRVH", "--hash", "0xE894"}, 1, "Ошибка в контрольной сумме ответа\n", ""},
      // An odd last tetrad is not part of the frame.
      {{"parse", "#HGHGUOPKHPOPG", "--hash", "0xE894"}, 0, "ok\n\n", ""},
      // Zero bytes carry a zero CRC: a long run of them checks, and its hash 0000 is foreign.
      {{"parse", "#" + std::string(100000, 'G'), "--hash", "0xE894"}, 1,
       "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\n", ""},
      {{"parse", "#" + std::string(100000, 'H'), "--hash", "0xE894"}, 1, "Ошибка в контрольной сумме ответа\n", ""},
      {{"parse", "HGHGUOPKHPOP", "--hash", "0xE894"}, 1, "Потеря начала посылки.\n", ""},
      {{"parse", "", "--hash", "0xE894"}, 1, "Потеря начала посылки.\n", ""},
      {{"parse", "#HGHGUOPKHPOP"}, 2, "", "не задан --hash"},
      {{"parse", "--hash", "0xE894"}, 2, "", "ровно одна СТРОКА"},
      {{"parse", "#A", "#B", "--hash", "0xE894"}, 2, "", "ровно одна СТРОКА"},
      {{"parse", "#HGHGUOPKHPOP", "--hash", "hash"}, 2, "", "неверная хеш-сумма"},
  });
}

}  // namespace
}  // namespace kvtr
