// The Telnet layer of an RFC 2217 gateway: the program's side against the gateway's, byte for
// byte, as they meet over the connection.
#include "protocol/rfc2217.h"

#include <gtest/gtest.h>

#include <vector>

namespace kvtr {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kIac = telnet::kIac;

// Carries what each side says to the other until neither has anything more to say; returns the
// data each received.
void Converse(TelnetSession& client, TelnetSession& server, Bytes toServer, Bytes toClient, Bytes* clientData = nullptr,
              Bytes* serverData = nullptr) {
  Bytes ignored;
  for (int round = 0; round < 10 && (!toServer.empty() || !toClient.empty()); ++round) {
    Bytes fromServer;
    Bytes fromClient;
    server.Feed(toServer, serverData != nullptr ? *serverData : ignored, fromServer);
    client.Feed(toClient, clientData != nullptr ? *clientData : ignored, fromClient);
    toServer = fromClient;
    toClient = fromServer;
  }
  EXPECT_TRUE(toServer.empty() && toClient.empty()) << "the negotiation does not settle";
}

TEST(TelnetSession, TheProgramSetsTheGatewayLineAndDataCrossesWith0xFFEscapedBothWays) {
  TelnetSession client(TelnetSession::Role::Client);
  TelnetSession server(TelnetSession::Role::Server);
  Converse(client, server, client.Greeting(), server.Greeting());
  ASSERT_EQ(client.comPortOption(), TelnetSession::ComPortOption::Agreed);

  const ComPortLine line{19200, 7, rfc2217::kParityEven, 2};
  Converse(client, server, TelnetSession::LineRequest(line), {});
  EXPECT_EQ(server.told(), line);
  EXPECT_EQ(client.told(), line);

  // A Modbus RTU frame may hold 0xFF anywhere, also where a command would begin.
  const Bytes frame = {0x01, 0xFF, 0x0D, 0xFF, 0xFF, 0xF0};
  Bytes wire;
  TelnetSession::Escape(frame, wire);
  Bytes clientData;
  Bytes serverData;
  Converse(client, server, wire, wire, &clientData, &serverData);
  EXPECT_EQ(serverData, frame);
  EXPECT_EQ(clientData, frame);
}

TEST(TelnetSession, TheProgramAnswersAGatewaysOptionsOnce) {
  const struct {
    const char* what;
    Bytes from;
    Bytes reply;
    TelnetSession::ComPortOption comPort;
  } rows[] = {
      {"an option it does not do", {kIac, telnet::kDo, 1}, {kIac, telnet::kWont, 1}, TelnetSession::ComPortOption::Pending},
      {"an option the gateway offers", {kIac, telnet::kWill, 1}, {kIac, telnet::kDont, 1},
       TelnetSession::ComPortOption::Pending},
      {"agreement to what it offered", {kIac, telnet::kDo, telnet::kOptionBinary, kIac, telnet::kDo, 44}, {},
       TelnetSession::ComPortOption::Agreed},
      {"the COM port option refused", {kIac, telnet::kDont, 44}, {}, TelnetSession::ComPortOption::Refused},
      {"a subnegotiation cut by a command", {kIac, telnet::kSb, 44, 101, kIac, telnet::kDo, 1}, {kIac, telnet::kWont, 1},
       TelnetSession::ComPortOption::Pending},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    TelnetSession client(TelnetSession::Role::Client);
    (void)client.Greeting();
    Bytes data;
    Bytes reply;
    client.Feed(r.from, data, reply);
    EXPECT_EQ(reply, r.reply);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(client.comPortOption(), r.comPort);
  }
}

}  // namespace
}  // namespace kvtr
