// One parameter of the module: the converter's value and limits plus everything the tree, the
// exchanges, the polling and the configuration files keep about it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "model/my_converter.h"

namespace kvtr {

inline constexpr std::string_view kUnknownParameterText = "<неизвестный параметр>";
// A comment that starts so holds the module's value found by a compare.
inline constexpr std::string_view kDeviceValuePrefix = "Знач-е в приборе:";

// Whatever the polling attaches to a parameter of the scanners branch (its timer and the store of
// its results). A parameter is polled exactly when it has one.
class ScanTimerHook {
 public:
  virtual ~ScanTimerHook() = default;
};

// Colours of a tree row, by what its comment and flags say.
enum class RowColour {
  Black,  // nothing to tell
  Blue,   // the module holds another value (compare)
  Red,    // the last exchange failed
  Green,  // changed here and not yet written
};

// Row images of parameters.
inline constexpr int kImageTypedValue = 27;
inline constexpr int kImageEnumeration = 28;
inline constexpr int kImageNotExchanged = 30;

// The texts of a parameter's row in the tree, column by column, as plain data.
struct ParameterRow {
  std::string description;  // tree column
  std::string name;         // "Параметр": the short name, with ":index" when asked for
  std::string value;        // "Значение"
  std::string access;       // "Атрибут редактирования"; empty without attributes
  std::string owner;        // "Владелец"; empty without attributes
  std::string comment;      // "Ошибки обмена и несоответствия"
  RowColour colour = RowColour::Black;
  int image = kImageTypedValue;
};

class Parameter : public MyConverter {
 public:
  static constexpr int kSchema = 1;

  Parameter() = default;
  // A parameter known only by its name (type "неизвестен"), as service exchanges build them.
  explicit Parameter(std::string parameterName);
  Parameter(std::string parameterName, std::string typeText, std::string descriptionText);
  // Clears the output table entry that points here.
  ~Parameter() override;

  // The view, the polling and the output table keep pointers to parameters: no copies.
  Parameter(const Parameter&) = delete;
  Parameter& operator=(const Parameter&) = delete;

  // A new parameter with the same data fields; not polled, in no view and no output table.
  [[nodiscard]] std::unique_ptr<Parameter> Clone() const;

  [[nodiscard]] const char* GetRuntimeClassName() const override { return "Parameter"; }

  // Checks text typed by the operator by the value rules (CheckText). On success stores it
  // (floats reformatted "%.3f", a choice as its list writes it), sets valueChanged and returns
  // true; otherwise changes nothing.
  virtual bool SetValueFromText(std::string_view text);
  // The check alone: true with the text that would be stored.
  [[nodiscard]] bool AcceptsText(std::string_view text, std::string& stored) const;

  // Decodes the data field of an answer into `value` (also an error text of the conversion);
  // returns the conversion's result, and leaves `value` as it was on 0.
  int TakeAnswer(std::span<const std::uint8_t> data);
  // Encodes `value` for a write request; returns the conversion's result. A reason for a
  // refused network name goes to `message` when given.
  [[nodiscard]] int BuildRequest(DataField& out, std::string* message = nullptr) const;

  // Back to "no value known": value, comment, attributes and change flags.
  void ResetParameter();

  [[nodiscard]] bool isChanged() const { return valueChanged || accessChanged || ownerChanged; }
  [[nodiscard]] bool isPolled() const { return scanTimer != nullptr; }
  [[nodiscard]] bool hasAttributes() const { return attributeMode != 0; }
  // The comment holds the module's value after a compare, not an error.
  [[nodiscard]] bool HasDeviceValueComment() const;

  // The attribute byte of the module: bit 0 editable, bit 1 owned by the user.
  [[nodiscard]] std::uint8_t AttributeByte() const;
  // Takes the attributes the module answered; the attribute edits are then settled.
  void TakeAttributeByte(std::uint8_t byte);

  [[nodiscard]] std::string AccessText() const;        // "Редактируемый" / "Не редактируемый"
  [[nodiscard]] std::string OwnerText() const;         // "Фирма" / "Пользователь"
  [[nodiscard]] std::string AttributeModeText() const;  // "нет атрибутов", ...
  [[nodiscard]] RowColour GetRowColour() const;
  [[nodiscard]] int GetRowImage() const;
  [[nodiscard]] ParameterRow GetViewRow(bool showIndex) const;

  std::string description{kUnknownParameterText};
  std::uint8_t hasIndex = 0;       // the index travels in the data field
  std::uint8_t valueChanged = 0;   // edited or loaded, not yet written
  std::uint8_t accessChanged = 0;  // access attribute edited
  std::uint8_t ownerChanged = 0;   // owner attribute edited
  std::string comment;             // an error text, or the module's value after a compare
  std::uint8_t exchangeable = 1;   // takes part in reading and writing
  std::uint8_t editable = 1;       // attribute: editable by the user
  std::uint8_t ownerFirm = 0;      // attribute: owned by the maker
  std::uint8_t attributeMode = 0;  // 0 none, 1 ordinary, above 1 cut tree of that multiplicity
  std::uint32_t scanId = 0;        // carried with every polling result
  int index = 0;                   // sent with the parameter when hasIndex is set
  // The entry of the document's output table that points back here; cleared on destruction.
  Parameter** outputSlot = nullptr;
  int attributeMark = 0;
  int scanPeriodMs = 1000;
  // Written by the user-interface thread, read by the polling thread.
  std::atomic<bool> scanArmed{false};
  std::unique_ptr<ScanTimerHook> scanTimer;
  void* viewItem = nullptr;  // the tree view's row of this parameter
  std::string pendingText;   // initial value of the descriptor
  int addressOffset = 0;     // added to the base address: an index carried in the address
};

}  // namespace kvtr
