#include "exchange/init_command.h"

#include <chrono>

#include "common/clock.h"
#include "model/parameter.h"
#include "protocol/device_link.h"

namespace kvtr {

int SendInit(DeviceLink& link, Clock& clock, std::string* error) {
  Parameter init("INIT");
  init.type = "void";
  const int result = link.Transact(true, &init);
  if (result != 0) {
    if (error != nullptr) *error = std::string(kInitFailedText) + init.comment;
    return result;
  }
  clock.sleepFor(std::chrono::milliseconds(1000));
  return 0;
}

}  // namespace kvtr
