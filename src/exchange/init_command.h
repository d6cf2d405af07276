// The service command INIT: the module restarts as after a power cycle, and the values of the
// parameters that need a restart take effect. The menu command and `kvtr send-init` both send it
// here; the questions asked before it and before setting the defaults are the program's texts.
#pragma once

#include <string>
#include <string_view>

namespace kvtr {

class DeviceLink;
class Clock;

inline constexpr std::string_view kInitQuestionText =
    "Команда INIT эквивалентна выключению и включению питания прибора.\n"
    "Ее рекомендуется подавать в конце работы с конфигуратором. После нее\n"
    "вступают в действие значения ряда параметров и происходит переход на\n"
    "работу по протоколу, установленному в параметре Prot. Если в этом параметре\n"
    "задан протокол, отличный от протокола ДОРВ, то конфигуратор потеряет\n"
    "связь с прибором и его будет необходимо перезапустить.\n\n"
    "Послать команду INIT?";
inline constexpr std::string_view kSetDefaultsQuestionText =
    "Предупреждение:\nДанная операция приведет к потере конфигурации в приборе и в программе.\n\n"
    "Вы уверены, что хотите продолжить?";
inline constexpr std::string_view kInitFailedText = "Комманда INIT вернула ошибку:\n";

// Requests "INIT" (no data) with one read transaction; after success waits 1 s on `clock`, the
// time the module takes before it answers again. Returns the transaction's result; on failure
// `error` receives the whole message: kInitFailedText and the error text.
int SendInit(DeviceLink& link, Clock& clock, std::string* error = nullptr);

}  // namespace kvtr
