// An exchange engine over a module kept in memory, for tests of the engine's logic: the link,
// the transaction and the frame checks run as in the program, and only the port below them is
// replaced by a module that answers each request at once (or stays silent, or hangs until the
// stop event). The line itself is tested over a pseudo-terminal in the integration tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "exchange/exchange_engine.h"
#include "model/parameter.h"
#include "protocol/frame_codec.h"
#include "protocol/serial_results.h"
#include "unit/exchange/progress_recorder.h"

namespace kvtr::test {

struct SeenRequest {
  bool read = false;
  std::uint16_t hash = 0;
  std::vector<std::uint8_t> data;
};

class FakeModuleEngine final : public ExchangeEngine {
 public:
  FakeModuleEngine(UserInterface& ui, LinkState& state, Clock& clock)
      : ExchangeEngine(makeOptions(ui, state), clock) {}
  ~FakeModuleEngine() override { (void)Shutdown(); }

  // The module knows the parameter, with this value (encoded by the parameter's own type).
  void Define(const Parameter& p, const std::string& text, std::uint8_t attributeByte = 3) {
    MyConverter c = p;
    c.value = text;
    std::string scratch = text;
    DataField field;
    (void)c.ConvertToData(scratch, field);
    std::lock_guard lock(mutex);
    const Key key{hashName(p.name), p.hasIndex ? p.index : -1};
    values[key].assign(field.view().begin(), field.view().end());
    attributes[key] = attributeByte;
    if (p.hasIndex) indexed.insert(key.first);
  }
  // The module's value of a parameter, as its type reads it back.
  std::string ValueOf(const Parameter& p) {
    std::lock_guard lock(mutex);
    const auto it = values.find({hashName(p.name), p.hasIndex ? p.index : -1});
    if (it == values.end()) return "<unknown>";
    MyConverter c = p;
    std::string text;
    return c.ConvertFromData(it->second, text) != 0 ? text : "<undecodable>";
  }
  std::vector<SeenRequest> Requests() {
    std::lock_guard lock(mutex);
    return requests;
  }
  int WritesOf(std::string_view name) {
    int n = 0;
    for (const auto& r : Requests()) n += !r.read && r.hash == hashName(name) ? 1 : 0;
    return n;
  }

  using Key = std::pair<std::uint16_t, int>;  // hash, index (-1 without)
  std::mutex mutex;
  std::map<Key, std::vector<std::uint8_t>> values;
  std::map<Key, std::uint8_t> attributes;
  std::set<std::uint16_t> indexed;
  std::set<std::uint16_t> silent;               // hashes that get no answer
  std::map<std::uint16_t, std::int8_t> refuse;  // hashes answered with this module error code
  bool allSilent = false;
  bool hang = false;  // every exchange waits for the stop event
  std::string deviceName = "KVTR";
  std::string version = "1.0";
  std::vector<SeenRequest> requests;
  // Called (outside the lock) before each request is answered, with the request's number from 1.
  std::function<void(int)> beforeAnswer;

 protected:
  int exchangeOnPort(std::span<const std::uint8_t> request, std::span<char> response, int& received, int,
                     AnswerFilter*) override {
    received = 0;
    if (hangNow()) {
      (void)serialPort().stopEvent().wait();
      return serial::kAborted;
    }
    if (serialPort().stopEvent().isSet()) return serial::kAborted;
    SeenRequest seen;
    if (!decode(request, seen)) return serial::kTimedOut;
    int number = 0;
    {
      std::lock_guard lock(mutex);
      requests.push_back(seen);
      number = static_cast<int>(requests.size());
    }
    if (beforeAnswer) beforeAnswer(number);
    std::vector<std::uint8_t> answer;
    std::uint16_t hash = seen.hash;
    {
      std::lock_guard lock(mutex);
      if (allSilent || silent.count(seen.hash) != 0) return serial::kTimedOut;
      if (const auto r = refuse.find(seen.hash); r != refuse.end()) {
        hash = kErrorReplyHash;
        answer = {static_cast<std::uint8_t>(r->second)};
      } else if (!Answer(seen, answer)) {
        hash = kErrorReplyHash;
        answer = {40};  // "Не найден дескриптор"
      }
    }
    const RequestLine line = buildRequest(false, hash, answer, 16, 8);
    const std::string_view text = line.text();
    const std::size_t n = std::min(text.size(), response.size());
    std::copy_n(text.begin(), n, response.begin());
    received = static_cast<int>(n);
    return serial::kReceived;
  }
  bool portIsOpen() const override { return true; }

 private:
  static DeviceLinkOptions makeOptions(UserInterface& ui, LinkState& state) {
    DeviceLinkOptions o;
    o.ui = &ui;
    o.state = &state;
    o.portChoices = " ";
    return o;
  }
  bool hangNow() {
    std::lock_guard lock(mutex);
    return hang;
  }

  static bool decode(std::span<const std::uint8_t> request, SeenRequest& out) {
    if (request.size() < 14 || request.front() != '#') return false;
    std::vector<std::uint8_t> b((request.size() - 2) / 2);
    const std::span<const char> chars(reinterpret_cast<const char*>(request.data()) + 1, request.size() - 2);
    if (!decodeTetrads(chars, b)) return false;
    out.read = (b[1] & 0x10) != 0;
    out.hash = static_cast<std::uint16_t>(b[2] << 8 | b[3]);
    out.data.assign(b.begin() + 4, b.begin() + 4 + (b[1] & 0x0F));
    return true;
  }

  // Under the lock.
  bool Answer(const SeenRequest& r, std::vector<std::uint8_t>& answer) {
    static const std::uint16_t dev = hashName("dev");
    static const std::uint16_t ver = hashName("ver");
    if ((r.hash == dev || r.hash == ver) && r.read) {
      // Characters last first, as the module sends texts.
      const std::string& text = r.hash == dev ? deviceName : version;
      answer.assign(text.rbegin(), text.rend());
      return true;
    }
    if (r.hash == kAttributesHash) {
      // [attribute byte when written] [0x00 index-low when indexed] hash(2)
      const std::size_t n = r.data.size();
      if (n < 2) return false;
      const std::uint16_t target = static_cast<std::uint16_t>(r.data[n - 2] << 8 | r.data[n - 1]);
      const bool hasIndex = indexed.count(target) != 0;
      const int index = hasIndex && n >= 4 ? r.data[n - 3] : -1;
      const auto it = attributes.find({target, index});
      if (it == attributes.end()) return false;
      if (!r.read) it->second = r.data[0];
      answer.push_back(it->second);
      answer.insert(answer.end(), r.data.begin() + (r.read ? 0 : 1), r.data.end());
      return true;
    }
    const bool hasIndex = indexed.count(r.hash) != 0;
    std::vector<std::uint8_t> valueBytes = r.data;
    int index = -1;
    if (hasIndex) {
      if (valueBytes.size() < 2) return false;
      index = valueBytes[valueBytes.size() - 2] << 8 | valueBytes.back();
      valueBytes.resize(valueBytes.size() - 2);
    }
    const auto it = values.find({r.hash, index});
    if (it == values.end()) return false;
    if (!r.read) it->second = valueBytes;
    answer = it->second;
    if (hasIndex) {
      answer.push_back(static_cast<std::uint8_t>(index >> 8));
      answer.push_back(static_cast<std::uint8_t>(index & 0xFF));
    }
    return true;
  }
};

// A fixture with the engine over a module in memory, its progress window and its clock (by
// default one that jumps to each deadline, so that waits and retries take no time).
class FakeModuleTest : public ::testing::Test {
 protected:
  explicit FakeModuleTest(ManualClock::Mode mode = ManualClock::Mode::JumpToDeadline) : clock{mode} {}

  // An "int" parameter of `node` described as "описание NAME"; the module knows it with
  // `moduleValue` unless that is empty. A negative index adds it without one.
  Parameter& Add(ObjectWithParameters& node, const std::string& name, const std::string& value,
                 const std::string& moduleValue, int index = -1) {
    Parameter& p = node.AddParameter(name, "int", "описание " + name);
    if (index >= 0) {
      p.hasIndex = 1;
      p.index = index;
    }
    p.value = value;
    if (!moduleValue.empty()) engine.Define(p, moduleValue);
    return p;
  }

  ProgressRecorder ui;
  LinkState state;
  ManualClock clock;
  FakeModuleEngine engine{ui, state, clock};
};

}  // namespace kvtr::test
