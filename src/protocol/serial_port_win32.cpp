// The serial port on Windows: a COM port opened for overlapped I/O. The driver itself watches for
// the end of an answer: the event character (carriage return) for native frames, every received
// character for Modbus RTU, and breaks and line errors.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <string_view>

#include "common/utf8_path.h"
#include "protocol/serial_port.h"

namespace kvtr {

namespace {

enum class Step { Open, ReadState, WriteState, WriteTimeouts, Purge };

// The one place where a system error becomes one of the port's results. The result depends on
// the step alone (the link counts results); what the operator is told depends on the error too.
int resultFor(Step step) {
  switch (step) {
    case Step::Open: return serial::kCannotOpen;
    case Step::ReadState: return serial::kUnsupportedSetting;
    case Step::WriteState: return serial::kCannotSetState;
    case Step::WriteTimeouts: return serial::kCannotSetTimeouts;
    case Step::Purge: return serial::kPurgeFailed;
  }
  return serial::kCannotOpen;
}

serial::PortFailure failureFor(Step step, DWORD error) {
  using serial::PortFailure;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST: return PortFailure::NoSuchPort;
    // A COM port is opened exclusive: another program holding it gives access denied.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return PortFailure::Busy;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_HANDLE: return PortFailure::NotSerial;
    default: break;
  }
  return step == Step::WriteState || step == Step::WriteTimeouts ? PortFailure::Settings : PortFailure::Other;
}

// The characters of one native answer line, up to its carriage return.
std::size_t lineLength(const char* chars, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (chars[i] == '\r') return i + 1;
  }
  return count;
}

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// A manual-reset event of one exchange, closed when the exchange ends.
class ExchangeEvent {
 public:
  ExchangeEvent() : h_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~ExchangeEvent() {
    if (h_ != nullptr) ::CloseHandle(h_);
  }
  ExchangeEvent(const ExchangeEvent&) = delete;
  ExchangeEvent& operator=(const ExchangeEvent&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// An overlapped operation must be finished before its record goes out of scope: cancel it and
// wait for the cancellation to complete.
void finishPending(HANDLE port, OVERLAPPED& record, bool& pending) {
  if (!pending) return;
  ::CancelIoEx(port, &record);
  DWORD ignored = 0;
  ::GetOverlappedResult(port, &record, &ignored, TRUE);
  pending = false;
}

// Starts an overlapped write; true when it completed or is under way.
bool startWrite(HANDLE port, const std::uint8_t* data, DWORD count, OVERLAPPED& record, bool& pending) {
  DWORD written = 0;
  if (::WriteFile(port, data, count, &written, &record)) {
    pending = false;
    return true;
  }
  pending = ::GetLastError() == ERROR_IO_PENDING;
  return pending;
}

// Reads up to `count` characters that the driver has already queued.
DWORD readQueued(HANDLE port, char* into, DWORD count, OVERLAPPED& record) {
  if (count == 0) return 0;
  DWORD got = 0;
  ::ResetEvent(record.hEvent);
  if (!::ReadFile(port, into, count, &got, &record)) {
    if (::GetLastError() != ERROR_IO_PENDING) return 0;
    // The characters are queued already, so this returns within the read time-outs.
    if (!::GetOverlappedResult(port, &record, &got, TRUE)) return 0;
  }
  return got;
}

}  // namespace

void SerialPort::releaseHandle() {
  const std::intptr_t h = handle_.exchange(kNoHandle);
  if (h != kNoHandle) ::CloseHandle(handleOf(h));
}

int SerialPort::openDevice() {
  releaseHandle();
  devicePath_ = settings_.portName;
  const std::string path = "\\\\.\\" + settings_.portName;
  HANDLE h = ::CreateFileW(pathFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return fail(resultFor(Step::Open), failureFor(Step::Open, error), static_cast<int>(error));
  }
  // Whatever goes wrong from here leaves the port closed, not half configured.
  const auto failAt = [this, h](Step step, DWORD error) {
    ::CloseHandle(h);
    return fail(resultFor(step), failureFor(step, error), static_cast<int>(error));
  };

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(h, &dcb)) return failAt(Step::ReadState, ::GetLastError());
  dcb.fBinary = TRUE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.EvtChar = '\r';

  if (const int check = checkLineSettings(settings_); check != serial::kOpened) {
    ::CloseHandle(h);
    return fail(check, serial::PortFailure::Settings);
  }
  switch (*parityFromCode(settings_.parityCode)) {
    case Parity::None: dcb.Parity = NOPARITY; break;
    case Parity::Even: dcb.Parity = EVENPARITY; break;
    case Parity::Odd: dcb.Parity = ODDPARITY; break;
    case Parity::Mark: dcb.Parity = MARKPARITY; break;
    case Parity::Space: dcb.Parity = SPACEPARITY; break;
  }
  dcb.fParity = dcb.Parity == NOPARITY ? FALSE : TRUE;
  dcb.ByteSize = static_cast<BYTE>(settings_.dataBits);
  dcb.StopBits = settings_.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  // Every accepted speed has its CBR_ constant equal to the number itself.
  dcb.BaudRate = static_cast<DWORD>(settings_.baudRate);

  computeTiming();

  if (!::SetCommState(h, &dcb)) return failAt(Step::WriteState, ::GetLastError());
  // The transmitter of a semi-automatic converter stays off until a request goes out.
  ::EscapeCommFunction(h, CLRRTS);

  COMMTIMEOUTS ct{};
  ct.ReadIntervalTimeout = timeouts_.readInterval;
  ct.ReadTotalTimeoutMultiplier = timeouts_.readTotalMultiplier;
  ct.ReadTotalTimeoutConstant = timeouts_.readTotalConstant;
  ct.WriteTotalTimeoutMultiplier = timeouts_.writeTotalMultiplier;
  ct.WriteTotalTimeoutConstant = timeouts_.writeTotalConstant;
  if (!::SetCommTimeouts(h, &ct)) return failAt(Step::WriteTimeouts, ::GetLastError());

  ::PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR);
  handle_.store(reinterpret_cast<std::intptr_t>(h));
  return fail(serial::kOpened, serial::PortFailure::None);
}

int SerialPort::closeDevice() {
  const std::intptr_t h = handle_.load();
  if (h == kNoHandle) return serial::kNotOpen;
  if (!::PurgeComm(handleOf(h), PURGE_TXCLEAR | PURGE_RXCLEAR)) return resultFor(Step::Purge);
  releaseHandle();
  return serial::kClosed;
}

int SerialPort::exchangeDevice(std::span<const std::uint8_t> request, std::span<char> response, int& received,
                               int protocolMode, AnswerFilter* filter) {
  received = 0;
  const std::intptr_t handle = handle_.load();
  if (handle == kNoHandle) return serial::kAborted;
  const HANDLE port = handleOf(handle);
  if (response.size() > static_cast<std::size_t>(serial::kResponseCapacity)) {
    response = response.first(serial::kResponseCapacity);
  }
  std::fill(response.begin(), response.end(), '\0');

  ExchangeEvent writeEvent;
  ExchangeEvent readEvent;
  if (writeEvent.get() == nullptr || readEvent.get() == nullptr) return serial::kAborted;
  OVERLAPPED writeRecord{};
  writeRecord.hEvent = writeEvent.get();
  OVERLAPPED readRecord{};
  readRecord.hEvent = readEvent.get();
  bool writePending = false;
  bool readPending = false;
  const HANDLE stop = reinterpret_cast<HANDLE>(stop_.nativeHandle());
  const bool rtu = protocolMode == serial::kProtocolModbusRtu;

  // The driver events that end a wait: the carriage return of a native answer, or for Modbus RTU
  // every character, whose silence afterwards ends the answer.
  ::SetCommMask(port, (rtu ? EV_RXCHAR : EV_RXFLAG) | EV_BREAK | EV_ERR);
  ::PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  if (::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return serial::kAborted;

  // Waits without time limit for the write in progress; false when the stop event came first.
  const auto awaitWrite = [&]() {
    if (!writePending) return true;
    const HANDLE handles[2] = {stop, writeEvent.get()};
    const DWORD rc = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (rc != WAIT_OBJECT_0 + 1) return false;
    DWORD written = 0;
    ::GetOverlappedResult(port, &writeRecord, &written, FALSE);
    writePending = false;
    ::ResetEvent(writeEvent.get());
    return true;
  };
  const auto abort = [&]() {
    finishPending(port, writeRecord, writePending);
    finishPending(port, readRecord, readPending);
    return serial::kAborted;
  };

  if (request.empty()) {
    // Nothing to send: the exchange only listens.
  } else if (settings_.automaticConverter != 0) {
    startWrite(port, request.data(), static_cast<DWORD>(request.size()), writeRecord, writePending);
    if (!awaitWrite()) return abort();
  } else {
    ::EscapeCommFunction(port, SETRTS);
    for (const std::uint8_t byte : request) {
      if (::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
        ::EscapeCommFunction(port, CLRRTS);
        return abort();
      }
      startWrite(port, &byte, 1, writeRecord, writePending);
      if (!awaitWrite()) {
        finishPending(port, writeRecord, writePending);
        // Dropped after a stop too, so the line is never left held against the module.
        ::EscapeCommFunction(port, CLRRTS);
        return abort();
      }
      // RTS must stay up until the byte has left the shift register.
      busyWait(characterTimeMs_);
    }
    ::EscapeCommFunction(port, CLRRTS);
  }

  DWORD firedMask = 0;
  const auto startEventWait = [&]() {
    firedMask = 0;
    ::ResetEvent(readEvent.get());
    if (::WaitCommEvent(port, &firedMask, &readRecord)) {
      readPending = false;
      ::SetEvent(readEvent.get());
    } else {
      readPending = ::GetLastError() == ERROR_IO_PENDING;
    }
  };
  startEventWait();

  bool vanished = false;
  DWORD waitMs = replyTimeoutMs_;
  const ULONGLONG replyDeadline = ::GetTickCount64() + replyTimeoutMs_;
  std::size_t count = 0;
  int result = serial::kReceived;
  for (;;) {
    const HANDLE handles[2] = {stop, readEvent.get()};
    const DWORD rc = ::WaitForMultipleObjects(2, handles, FALSE, waitMs);
    if (rc == WAIT_OBJECT_0) {
      result = serial::kAborted;
      break;
    }
    if (rc == WAIT_TIMEOUT) {
      // 3.5 character times of silence end an RTU answer; anything else has had its time.
      result = rtu && count > 0 ? serial::kReceived : serial::kTimedOut;
      break;
    }
    if (rc != WAIT_OBJECT_0 + 1) {
      result = serial::kAborted;
      break;
    }
    ::ResetEvent(readEvent.get());
    if (readPending) {
      DWORD ignored = 0;
      ::GetOverlappedResult(port, &readRecord, &ignored, FALSE);
      readPending = false;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(port, &errors, &status)) {
      // The driver no longer knows the port: the converter was pulled out.
      vanished = true;
      result = serial::kAborted;
      break;
    }
    // A damaged answer is a line error even when its carriage return came with it: the link
    // retries it as one.
    if ((firedMask & (EV_BREAK | EV_ERR)) != 0 ||
        (errors & (CE_BREAK | CE_FRAME | CE_OVERRUN | CE_RXOVER | CE_RXPARITY)) != 0) {
      result = serial::kLineError;
      break;
    }
    // A driver that knows no event character and ends the wait naming no event (Wine's COM port
    // over a pseudo-terminal does both) has the queue gathered as it comes; the answer is there
    // once its carriage return is.
    bool lineQueued = (firedMask & EV_RXFLAG) != 0;
    if (firedMask == 0 && !rtu) {
      const DWORD room = static_cast<DWORD>(response.size() - count);
      count += readQueued(port, response.data() + count, std::min<DWORD>(status.cbInQue, room), readRecord);
      lineQueued = std::find(response.begin(), response.begin() + static_cast<std::ptrdiff_t>(count), '\r') !=
                   response.begin() + static_cast<std::ptrdiff_t>(count);
      if (!lineQueued) {
        const ULONGLONG now = ::GetTickCount64();
        if (count >= response.size() || now >= replyDeadline) {
          result = count >= response.size() ? serial::kReceived : serial::kTimedOut;
          break;
        }
        // Such a wait ends at once: a short sleep keeps the loop from spinning.
        ::Sleep(1);
        waitMs = static_cast<DWORD>(replyDeadline - now);
        startEventWait();
        continue;
      }
    } else if (lineQueued) {
      const DWORD want = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(response.size()));
      count = readQueued(port, response.data(), want, readRecord);
    }
    if (lineQueued) {
      // Lines the filter turns down are dropped; the first it accepts is the answer.
      std::size_t start = 0;
      bool accepted = filter == nullptr;
      while (!accepted && start < count) {
        const std::size_t length = lineLength(response.data() + start, count - start);
        if (filter->accept(std::string_view(response.data() + start, length))) {
          std::copy_n(response.data() + start, length, response.data());
          count = length;
          accepted = true;
        } else {
          start += length;
        }
      }
      if (accepted) {
        result = serial::kReceived;
        break;
      }
      // Not the answer awaited: forgotten, and the reply time-out runs on.
      std::fill(response.begin(), response.end(), '\0');
      count = 0;
      const ULONGLONG now = ::GetTickCount64();
      if (now >= replyDeadline) {
        result = serial::kTimedOut;
        break;
      }
      waitMs = static_cast<DWORD>(replyDeadline - now);
      startEventWait();
      continue;
    }
    if ((firedMask & EV_RXCHAR) != 0) {
      const DWORD room = static_cast<DWORD>(response.size() - count);
      count += readQueued(port, response.data() + count, std::min<DWORD>(status.cbInQue, room), readRecord);
      // A full buffer cannot take more of the answer, and a line that never falls silent must not
      // hold the exchange for ever.
      if (count >= response.size()) {
        result = serial::kReceived;
        break;
      }
      startEventWait();
      waitMs = static_cast<DWORD>(rtuSilenceMs(characterTimeMs_));
      continue;
    }
    result = serial::kReceived;
    break;
  }
  // A pending event wait ends when the mask changes; it must be over before its record goes.
  if (readPending) ::SetCommMask(port, 0);
  finishPending(port, readRecord, readPending);
  finishPending(port, writeRecord, writePending);
  received = static_cast<int>(count);
  // A port that has gone away stays closed: the link reports it as not open.
  if (vanished) {
    releaseHandle();
    (void)fail(serial::kAborted, serial::PortFailure::Vanished);
  }
  return result;
}

std::vector<SerialPortInfo> SerialPort::availablePorts() {
  std::vector<SerialPortInfo> ports;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return ports;  // no serial port has ever been installed
  }
  for (DWORD index = 0;; ++index) {
    char name[260];
    DWORD nameSize = sizeof name;
    BYTE data[260];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    const LONG rc = ::RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    // The stored text may or may not carry its terminating zero.
    std::size_t length = dataSize;
    while (length > 0 && data[length - 1] == '\0') --length;
    SerialPortInfo info;
    info.devicePath.assign(reinterpret_cast<const char*>(data), length);
    info.description.assign(name, nameSize);  // the driver's device, such as \Device\Serial0
    ports.push_back(std::move(info));
  }
  ::RegCloseKey(key);
  return ports;
}

std::string SerialPort::listPorts() {
  // In the order the system lists them: COM1 and COM3 give "COM1:COM3".
  std::string text;
  for (const SerialPortInfo& port : availablePorts()) {
    text += port.devicePath;
    text += ':';
  }
  while (!text.empty() && text.back() == ':') text.pop_back();
  return text;
}

}  // namespace kvtr
