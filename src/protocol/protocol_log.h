// The protocol log of one exchange: the data part of the request and of the answer, one line
// per byte, as the single-parameter dialog and the command-line tool show it. The lines are
// UTF-8; a byte shown as a character is read as Windows-1251, the module's character set.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kvtr {

// "Размер инф-ой части посылки %i байт." with n, then ">> Посылка: #%2i : %03i = 0x%02X (%c)"
// per data byte (position from 0, decimal, hex, character).
[[nodiscard]] std::vector<std::string> requestLogLines(std::span<const std::uint8_t> data);

// "<< Ответ: #%2i : %03i = 0x%02X (%c)" per data byte, then "Инф-ная часть квитанции ответа
// имеет размер %1i байт." with n.
[[nodiscard]] std::vector<std::string> responseLogLines(std::span<const std::uint8_t> data);

}  // namespace kvtr
