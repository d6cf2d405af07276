// The gateway's TCP connection on Windows: a non-blocking Winsock socket whose network events
// set an event handle (WSAEventSelect), waited on together with the stop event.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "protocol/tcp_socket.h"

namespace kvtr {

namespace {

// Winsock is started once for the life of the program.
void startWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data{};
    (void)::WSAStartup(MAKEWORD(2, 2), &data);
  });
}

DWORD timeoutMs(Clock::Duration d) {
  if (d >= Clock::kInfinite) return INFINITE;
  if (d <= Clock::Duration::zero()) return 0;
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
  return static_cast<DWORD>(std::min<long long>((us + 999) / 1000, 0x7FFFFFFF));
}

SOCKET socketOf(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

TcpSocket::TcpSocket() {
  startWinsock();
  networkEvent_ = reinterpret_cast<std::intptr_t>(::WSACreateEvent());
}

TcpSocket::~TcpSocket() {
  close();
  if (networkEvent_ != 0) ::WSACloseEvent(reinterpret_cast<WSAEVENT>(networkEvent_));
}

void TcpSocket::close() {
  const std::intptr_t h = handle_.exchange(kNoSocket);
  if (h != kNoSocket) ::closesocket(socketOf(h));
}

TcpSocket::Connect TcpSocket::connect(const std::string& host, std::uint16_t port, Clock::Duration timeout,
                                      const Event& stop, int& systemError) {
  close();
  systemError = 0;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    systemError = rc;
    return Connect::NotResolved;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Connect result = Connect::Failed;
  const WSAEVENT event = reinterpret_cast<WSAEVENT>(networkEvent_);
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      systemError = ::WSAGetLastError();
      continue;
    }
    // Requests are a few bytes each and wait for their answers: they must go out at once.
    const BOOL on = TRUE;
    (void)::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    // Selecting events makes the socket non-blocking.
    ::WSAResetEvent(event);
    ::WSAEventSelect(s, event, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
    if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 && ::WSAGetLastError() != WSAEWOULDBLOCK) {
      systemError = ::WSAGetLastError();
      ::closesocket(s);
      continue;
    }
    handle_.store(static_cast<std::intptr_t>(s));
    const Wait w = waitFor(false, deadline - std::chrono::steady_clock::now(), stop);
    int error = 0;
    int length = sizeof error;
    if (w == Wait::Ready &&
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0) {
      result = Connect::Connected;
      break;
    }
    close();
    if (w == Wait::Stopped) {
      result = Connect::Stopped;
      break;
    }
    if (w == Wait::TimedOut) {
      result = Connect::TimedOut;
      break;
    }
    systemError = error != 0 ? error : WSAECONNREFUSED;
  }
  ::freeaddrinfo(found);
  return result;
}

TcpSocket::Wait TcpSocket::waitReadable(Clock::Duration timeout, const Event& stop) {
  return waitFor(true, timeout, stop);
}

TcpSocket::Wait TcpSocket::waitWritable(Clock::Duration timeout, const Event& stop) {
  return waitFor(false, timeout, stop);
}

TcpSocket::Wait TcpSocket::waitFor(bool readable, Clock::Duration timeout, const Event& stop) {
  const std::intptr_t h = handle_.load();
  if (h == kNoSocket) return Wait::Failed;
  const SOCKET s = socketOf(h);
  const WSAEVENT event = reinterpret_cast<WSAEVENT>(networkEvent_);
  const bool forever = timeout >= Clock::kInfinite;
  const auto deadline =
      forever ? std::chrono::steady_clock::time_point::max() : std::chrono::steady_clock::now() + timeout;
  for (;;) {
    // The events are edge-triggered: what is already there is looked at with a zero-time select.
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(s, &ready);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval now{0, 0};
    const int rc = ::select(0, readable ? &ready : nullptr, readable ? nullptr : &ready, &failed, &now);
    if (rc == SOCKET_ERROR) return Wait::Failed;
    if (FD_ISSET(s, &ready)) return Wait::Ready;
    if (FD_ISSET(s, &failed)) return readable ? Wait::Failed : Wait::Ready;  // a failed connect is read by SO_ERROR
    const HANDLE handles[2] = {reinterpret_cast<HANDLE>(stop.nativeHandle()), event};
    const DWORD wait = ::WaitForMultipleObjects(
        2, handles, FALSE, forever ? INFINITE : timeoutMs(deadline - std::chrono::steady_clock::now()));
    if (wait == WAIT_OBJECT_0) return Wait::Stopped;
    if (wait == WAIT_TIMEOUT) return Wait::TimedOut;
    if (wait != WAIT_OBJECT_0 + 1) return Wait::Failed;
    WSANETWORKEVENTS events{};
    if (::WSAEnumNetworkEvents(s, event, &events) != 0) return Wait::Failed;
    // A closed connection reads as ready: the read then finds its end.
    if ((events.lNetworkEvents & FD_CLOSE) != 0) return Wait::Ready;
  }
}

long TcpSocket::read(std::span<std::uint8_t> into) {
  const std::intptr_t h = handle_.load();
  if (h == kNoSocket) return -1;
  const int n = ::recv(socketOf(h), reinterpret_cast<char*>(into.data()),
                       static_cast<int>(std::min<std::size_t>(into.size(), 0x7FFFFFFF)), 0);
  if (n > 0) return n;
  if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  // 0: the gateway closed the connection; an error: it is gone.
  return -1;
}

long TcpSocket::write(std::span<const std::uint8_t> bytes) {
  const std::intptr_t h = handle_.load();
  if (h == kNoSocket) return -1;
  const int n = ::send(socketOf(h), reinterpret_cast<const char*>(bytes.data()),
                       static_cast<int>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF)), 0);
  if (n >= 0) return n;
  if (::WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return -1;
}

}  // namespace kvtr
