// The serial port's result codes, written down once. They are the numbers the device link
// counts and retries on, so they stay plain ints.
#pragma once

namespace kvtr::serial {

// SerialPort::open
inline constexpr int kOpened = 0;
inline constexpr int kCannotOpen = -1;          // missing, busy, locked by another program, no access
inline constexpr int kUnsupportedSetting = -2;  // speed, parity code or stop bits; or unreadable state
inline constexpr int kBadDataBits = -3;         // data bits outside 5..8
inline constexpr int kCannotSetState = -4;      // the driver refused the line settings
inline constexpr int kCannotSetTimeouts = -5;   // the driver refused the time-outs (Windows only)

// SerialPort::close
inline constexpr int kClosed = 0;
inline constexpr int kPurgeFailed = -1;  // the port stays open
inline constexpr int kNotOpen = -2;

// SerialPort::exchange
inline constexpr int kReceived = 0;   // characters (possibly none) are in the buffer
inline constexpr int kAborted = -1;   // not open, stopped by the stop event, or the port vanished
inline constexpr int kTimedOut = 2;   // no complete answer within the reply time-out
inline constexpr int kLineError = 3;  // parity or framing error, overrun, or a break

// Why the port is not open: the reason of the last failed open, or that the port went away
// under an exchange. The results above stay what the link counts; this is what the operator is
// told.
enum class PortFailure {
  None,
  NoSuchPort,    // the system has no such device
  Busy,          // another program (or another instance of this one) holds it
  NotSerial,     // the name is a file or device that is not a serial port
  NoPermission,  // the user may not open it
  Settings,      // the driver refused the line settings
  Other,         // any other system error (its code is kept beside)
  Vanished,      // it was open and went away under an exchange (a USB converter pulled out, a
                 // gateway's connection lost)
  NoConnection,  // a network gateway did not take the connection
};

// The response buffer of one exchange: a native answer is at most this long as received.
inline constexpr int kResponseCapacity = 31;

// Protocol mode 1 (Modbus RTU) ends an answer by silence instead of by carriage return.
inline constexpr int kProtocolModbusRtu = 1;

}  // namespace kvtr::serial
