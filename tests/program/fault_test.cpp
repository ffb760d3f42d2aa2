// Fault injection: the built program against a scripted server that
// misbehaves on purpose. Whatever the server does, the program must write
// exactly one result line, end with the verdict's exit code, not die of a
// signal, and be done within its time-out plus a small margin.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/program.h"
#include "support/scripted_server.h"

namespace {

using std::chrono::milliseconds;

constexpr int kTimeoutMs = 1000;
// Connect and the run's own work on a loaded machine, on top of what the
// program takes to start and end (which an emulator makes long), measured
// apart: well below a second time-out.
constexpr milliseconds kMargin{1000};

// How long a run takes that does no network work at all (the usage text).
milliseconds StartAndEnd() {
  static const milliseconds measured = [] {
    milliseconds best = RunTolvane({}).WallTime;
    const milliseconds again = RunTolvane({}).WallTime;
    return again < best ? again : best;
  }();
  return measured;
}

// What the program sends first: the stream header for 127.0.0.1.
const std::string kHeader =
    "<?xml version='1.0' encoding='UTF-8'?><stream:stream to='127.0.0.1' xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams'>";
const std::string kServerHeader =
    "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams' id='f1' from='127.0.0.1'>";

// 1 MiB of arbitrary bytes (zero bytes, line breaks and '<' among them)
// from a fixed generator, so every run sees the same garbage.
std::string Garbage() {
  std::string bytes(1 << 20, '\0');
  std::uint32_t state = 12345;
  for (char& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<char>(state >> 24);
  }
  return bytes;
}

// A chunk of exactly 20,480 bytes, one receive's worth: the server's header,
// filler, and a stream error cut off inside its condition's tag. The rest of
// the stream error follows in a second chunk.
const std::string kCutStreamError = "<stream:error><host-unk";
std::string FullChunkEndingInATag() {
  std::string chunk = kServerHeader;
  chunk += std::string(20480 - chunk.size() - kCutStreamError.size(), ' ');
  return chunk + kCutStreamError;
}
const std::string kRestOfStreamError =
    "nown xmlns='urn:ietf:params:xml:ns:xmpp-streams'/></stream:error></stream:stream>";

struct TFault {
  const char* Name;
  TScript Script;
  int ExitCode;
  // The result line must begin with one of these (one entry and Exact: be it).
  std::vector<std::string> Lines;
  bool Exact = true;
  // The run ends only when the program's own time-out runs out.
  bool EndsByTimeout = false;
  int ReceiveBuffer = 0;
};

std::vector<TFault> Faults() {
  using namespace script;
  std::vector<TScriptStep> dripSteps;
  for (const char c : kServerHeader.substr(0, 10)) dripSteps.push_back(Send(std::string(1, c)));
  return {
      {"ClosesAtOnce", {Close()}, 1, {"ScriptRes:Bad:Cannot read data"}},
      // A reset before the header may reach the program while it sends the
      // header or while it waits for the answer; both are a read or send
      // failure, with or without the system's text.
      {"ResetsBeforeHeader", {Reset()}, 1, {"ScriptRes:Bad:Cannot send data", "ScriptRes:Bad:Cannot read data"}, false},
      // With the system's text for the reset on Linux; Wine reports it as a
      // plain close.
      {"ResetsAfterHeader", {WaitBytes(kHeader.size()), Reset()}, 1, {"ScriptRes:Bad:Cannot read data"}, false},
      // The server never reads, and its receive buffer is as small as the
      // system allows. The header still fits into the window, so the send
      // returns at once and it is the wait for the answer that ends the
      // check, by the program's time-out, not a send stuck for good.
      {"NeverReads", {NeverRead()}, 1, {"ScriptRes:Bad:Cannot read data"}, true, true, 1},
      // The same after an answer: the stream close fits as well, and the
      // drain that waits for the server's own close ends by the time-out.
      {"AnswersThenNeverReads", {Send(kServerHeader), NeverRead()}, 0, {"ScriptRes:Host is alive:"}, false, true, 1},
      // Nothing in the first receive is a marker: "Server error" with that
      // receive's bytes, on one line.
      {"SendsAMebibyteOfGarbage", {Send(Garbage())}, 1, {"ScriptRes:Bad:Server error"}, false},
      // One byte per receive: the first one already holds no marker.
      {"DripsOneByteEvery50ms", dripSteps, 1, {"ScriptRes:Bad:Server error; <"}, false},
      // A line break in what the server sent cannot end the result line
      // early, nor add a line that looks like a verdict.
      {"ForgesAResultLine", {Send("x\r\nScriptRes:Host is alive:1 ms\r\n")}, 1,
       {"ScriptRes:Bad:Server error; x ScriptRes:Host is alive:1 ms"}},
      {"SendsOnlyZeroBytes", {Send(std::string(4096, '\0'))}, 1, {"ScriptRes:Bad:Server error"}},
      // The reason carries the server's bytes as they came, a zero byte too.
      {"SendsAZeroByteInsideText", {Send(std::string("x\0y", 3))}, 1,
       {std::string("ScriptRes:Bad:Server error; x\0y", 31)}},
      // Each receive is judged alone: the first holds a stream error without
      // its end tag, so there is no element to classify.
      {"FullChunkEndsInsideATag", {Send(FullChunkEndingInATag()), Send(kRestOfStreamError)}, 1,
       {"ScriptRes:Bad:Unexpected error occured"}},
      // The answer counts; the reset while the stream is being closed does
      // not change the verdict.
      {"AnswersThenResetsDuringClose", {Send(kServerHeader), WaitFor("</stream:stream>"), Reset()}, 0,
       {"ScriptRes:Host is alive:"}, false},
  };
}

void PrintTo(const TFault& fault, std::ostream* out) { *out << fault.Name; }

class FaultTest : public testing::TestWithParam<TFault> {};

TEST_P(FaultTest, OneLineRightExitCodeInTime) {
  const TFault& fault = GetParam();
  TScriptedServer server(fault.Script, fault.ReceiveBuffer);
  const TProgramRun run = RunTolvane(
      {"-host:127.0.0.1", "-port:" + std::to_string(server.Port()), "-timeout:" + std::to_string(kTimeoutMs)});

  EXPECT_FALSE(run.Signalled) << "signal " << run.Signal;
  EXPECT_TRUE(run.ExitedWith(fault.ExitCode)) << "exit code " << run.ExitCode;
  // One line: CR LF at its end and nowhere else.
  ASSERT_GE(run.Output.size(), 2u);
  EXPECT_EQ(run.Output.find_first_of("\r\n"), run.Output.size() - 2) << run.Output;
  EXPECT_EQ(run.Output.substr(run.Output.size() - 2), "\r\n");
  const std::string line = run.Output.substr(0, run.Output.size() - 2);
  bool matched = false;
  for (const std::string& expected : fault.Lines)
    matched = matched || (fault.Exact ? line == expected : line.rfind(expected, 0) == 0);
  EXPECT_TRUE(matched) << line.substr(0, 200);

  EXPECT_LT(run.WallTime, milliseconds(kTimeoutMs) + StartAndEnd() + kMargin);
  if (fault.EndsByTimeout) {
    EXPECT_GE(run.WallTime, milliseconds(kTimeoutMs));
  }
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultTest, testing::ValuesIn(Faults()),
                         NameBy(&TFault::Name));

}  // namespace
