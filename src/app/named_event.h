// A named event that another process can set: the exit event of an unattended run
// ("/exitevent:NAME"). The program opens or creates it (manual reset, not set); a controlling
// program, or `kvtr signal-exit NAME`, sets it, and the program ends its job.
//
// On Windows it is the named Win32 event of that name.
//
// On POSIX it is a FIFO, NAME (escaped, see namedEventPath) in the folder of the user's events:
// $XDG_RUNTIME_DIR/kvtr-events, or /tmp/kvtr-events-UID when XDG_RUNTIME_DIR is not set. The
// folder is created with mode 0700 and must be a real folder of the user's own that nobody else
// may enter; the FIFO must be a FIFO of the user's own. Every process that has the event open
// holds both ends of the FIFO, so the event is "set" exactly while the FIFO holds data: setting
// it writes one byte, nobody reads it, and every holder sees it readable at once, whenever it
// looks. That makes it race-free and manual-reset like the Win32 event: a set made just before
// the watcher starts waiting is not lost, and several programs waiting on one name all end.
// Holding the writing end also keeps a setter that opens and closes without writing from
// waking anybody. When the last holder closes, the pipe's contents go with it; the FIFO file
// stays behind (empty, harmless) for the next run of the same name. Setting an event that no
// process has open fails: nobody is waiting for it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "common/event.h"

namespace kvtr {

class NamedEvent {
 public:
  // Opens the event of that name, creating it when it does not exist. Nothing, with the reason
  // in `error`, when it cannot be.
  [[nodiscard]] static std::unique_ptr<NamedEvent> Open(std::string_view name, std::string* error = nullptr);

  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  [[nodiscard]] const std::string& name() const { return name_; }

  // Becomes set (and stays set) when the named event is set from any process, this one
  // included; a wait can watch it beside the program's own events.
  [[nodiscard]] Event& signalled() { return signalled_; }

  // Sets the named event.
  bool Set(std::string* error = nullptr);

 private:
  struct Native;
  NamedEvent(std::string name, std::unique_ptr<Native> native);
  void Relay();

  std::string name_;
  std::unique_ptr<Native> native_;
  Event signalled_{EventReset::Manual};
  Event stop_{EventReset::Manual};
  std::thread relay_;
};

// Sets the named event held open by other processes. False, with the reason, when the name is
// not valid or no process has the event open.
bool SetNamedEvent(std::string_view name, std::string* error = nullptr);

// POSIX: the folder of the user's events, and the file of one event in it. A name is kept as it
// is when it holds only letters, digits and "._-" and does not begin with "."; any other byte is
// written "%XX" (so "Global\Stop" is "Global%5CStop"). Empty when the name is empty or its file
// name would be longer than 255 bytes.
[[nodiscard]] std::filesystem::path namedEventFolder();
[[nodiscard]] std::string namedEventFileName(std::string_view name);

}  // namespace kvtr
