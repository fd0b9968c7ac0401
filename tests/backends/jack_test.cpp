// RtMidi over a real JACK server, end to end through the ports. The suite
// starts its own server under a private name (and stops it at the end);
// JACK's own example clients and a Python RtMidi client play the other side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "backends/recorder.h"
#include "midi/midiin.h"
#include "midi/midiout.h"
#include "platform/rtmidi/driver.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using testing::SysexOf;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// A child program with its standard input and output on pipes.
class Child {
 public:
  // With `log`, the output goes to that file instead of a pipe that nobody
  // may be reading (a program blocked on a full pipe stops working).
  explicit Child(std::vector<std::string> argv, const std::string& log = "") {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      const int sink =
          log.empty() ? out[1] : ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(sink, 1);
      ::dup2(sink, 2);
      ::close(in[1]);
      ::close(out[0]);
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~Child() {
    if (stdin_ >= 0) ::close(stdin_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void Write(const std::string& text) {
    if (stdin_ >= 0 && ::write(stdin_, text.data(), text.size()) < 0)
      ADD_FAILURE() << "write to child";
  }

  // The next line of output, or nullopt when none came in time.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    for (;;) {
      if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) return std::nullopt;
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char chunk[4096];
      const ssize_t n = ::read(stdout_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // Output lines until one contains `text`; false when none did in time.
  bool WaitForLine(const std::string& text, std::chrono::milliseconds limit = 10s) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
      auto line =
          ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()));
      if (line && line->find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string buffer_;
};

// Runs a program to its end and returns what it printed.
std::string RunToEnd(std::vector<std::string> argv) {
  Child child(std::move(argv));
  std::string all;
  while (auto line = child.ReadLine(5s)) all += *line + "\n";
  return all;
}

// The JACK port whose name ends in `suffix`, "" when there is none yet.
std::string JackPortEndingIn(const std::string& suffix, std::chrono::milliseconds limit = 10s) {
  const auto until = Clock::now() + limit;
  do {
    std::istringstream ports(RunToEnd({"jack_lsp"}));
    for (std::string line; std::getline(ports, line);) {
      if (line.size() >= suffix.size() &&
          line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
        return line;
    }
    std::this_thread::sleep_for(50ms);
  } while (Clock::now() < until);
  return "";
}

// Waits until `port` has a connection, then lets a few periods pass: JACK
// puts a new connection into its graph from the next cycle on, and what a
// client sends before that goes nowhere.
bool WaitConnected(const std::string& port, std::chrono::milliseconds limit = 10s) {
  const auto until = Clock::now() + limit;
  do {
    std::istringstream lines(RunToEnd({"jack_lsp", "-c", port}));
    std::string line;
    std::getline(lines, line);
    if (std::getline(lines, line) && !line.empty() && line[0] == ' ') {
      std::this_thread::sleep_for(300ms);
      return true;
    }
    std::this_thread::sleep_for(50ms);
  } while (Clock::now() < until);
  return false;
}

bool InPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path == nullptr ? "/usr/bin" : path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// One JACK server for the whole suite: the dummy back-end, no real time, a
// name of its own so that it never meets a server the user runs. Periods of
// 4,096 frames give MIDI buffers of 16 KB: room for a 10,000-byte message.
class JackServer : public ::testing::Environment {
 public:
  static bool Installed() { return installed_; }
  static bool Running() { return running_; }

  void SetUp() override {
    installed_ = InPath("jackd");
    if (!installed_) return;
    const std::string name = "korvane-test-" + std::to_string(::getpid());
    log_ = "/tmp/" + name + ".log";
    ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    ::setenv("KORVANE_MIDI_API", "jack", 1);
    server_ =
        std::make_unique<Child>(std::vector<std::string>{"jackd", "--no-realtime", "-n", name, "-d",
                                                         "dummy", "-r", "48000", "-p", "4096"},
                                log_);
    const auto until = Clock::now() + 15s;
    while (!JackServerRunning() && Clock::now() < until) std::this_thread::sleep_for(100ms);
    running_ = JackServerRunning();
  }
  void TearDown() override {
    server_.reset();
    // The server's log stays behind only when something failed.
    if (::testing::UnitTest::GetInstance()->Passed()) ::unlink(log_.c_str());
  }

 private:
  static inline bool installed_ = false;
  static inline bool running_ = false;
  std::unique_ptr<Child> server_;
  std::string log_;
};

const auto* const kServer = ::testing::AddGlobalTestEnvironment(new JackServer);

class JackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!JackServer::Installed()) GTEST_SKIP() << "jackd is not installed";
    ASSERT_TRUE(JackServer::Running()) << "jackd did not start";
    driver_ = CreateMidiDriver();
  }

  // Dispatches the UI thread's messages until `done` or the time is up.
  template <class Done>
  bool PumpUntil(Done done, std::chrono::milliseconds limit = 10s) {
    const auto until = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() >= until) return false;
      pollfd p{MessageQueue::Instance().WakeFd(), POLLIN, 0};
      ::poll(&p, 1, 10);
      MessageQueue::Instance().ProcessMessages();
    }
    return true;
  }

  // An input port on the named device that keeps every event it is told of.
  std::unique_ptr<TMidiInput> OpenInput(const std::string& device) {
    auto input = std::make_unique<TMidiInput>(*driver_);
    input->SetProductName(device);
    input->OnMidiInput = [this](TMidiInput& port) {
      while (port.EventCount() > 0) events_.push_back(port.TakeEvent());
    };
    input->Open();
    EXPECT_EQ(input->State(), TPortState::stOpen) << device;
    input->Start();
    return input;
  }

  std::unique_ptr<MidiDriver> driver_;
  std::vector<std::unique_ptr<TMyMidiEvent>> events_;
};

TEST_F(JackTest, RealPortsComeFirstThenOurVirtualOnesThenTheBuiltInDevices) {
  Child sequencer({"jack_midiseq", "kvseq", "4800", "0", "60", "2400"});
  ASSERT_NE(JackPortEndingIn("kvseq:out"), "");
  std::vector<std::string> inputs, outputs;
  const std::uint32_t nIn = driver_->midiInGetNumDevs();
  for (std::uint32_t d = 0; d < nIn; ++d) {
    MIDIINCAPS caps{};
    ASSERT_EQ(driver_->midiInGetDevCaps(d, &caps, sizeof caps), kMidiOk);
    inputs.push_back(caps.szPname);
  }
  const std::uint32_t nOut = driver_->midiOutGetNumDevs();
  for (std::uint32_t d = 0; d < nOut; ++d) {
    MIDIOUTCAPS caps{};
    ASSERT_EQ(driver_->midiOutGetDevCaps(d, &caps, sizeof caps), kMidiOk);
    outputs.push_back(caps.szPname);
  }
  ASSERT_GE(inputs.size(), 4u);
  EXPECT_EQ(inputs[0], "kvseq:out");
  EXPECT_EQ((std::vector<std::string>(inputs.end() - 3, inputs.end())),
            (std::vector<std::string>{"Korvane In", "Korvane Demo", "Korvane Loopback"}));
  ASSERT_GE(outputs.size(), 2u);
  EXPECT_EQ((std::vector<std::string>(outputs.end() - 2, outputs.end())),
            (std::vector<std::string>{"Korvane Thru", "Korvane Loopback"}));
}

TEST_F(JackTest, NotesFromMidiseqReachTheInputPortWithRisingTimeStamps) {
  // A loop of 0.1 s: C4 for 50 ms from its start, E4 for 25 ms from its middle.
  Child sequencer({"jack_midiseq", "kvseq", "4800", "0", "60", "2400", "2400", "64", "1200"});
  ASSERT_NE(JackPortEndingIn("kvseq:out"), "");
  auto input = OpenInput("kvseq:out");
  ASSERT_TRUE(PumpUntil([&] { return events_.size() >= 16; }));
  input->Close();

  std::uint32_t last = 0;
  int ons = 0;
  for (const auto& e : events_) {
    SCOPED_TRACE(::testing::Message()
                 << std::hex << int{e->StatusByte} << " " << int{e->DataByte1});
    EXPECT_TRUE(e->StatusByte == 0x90 || e->StatusByte == 0x80);
    EXPECT_TRUE(e->DataByte1 == 60 || e->DataByte1 == 64);
    EXPECT_EQ(e->DataByte2, 0x40);
    EXPECT_EQ(e->SysexData, nullptr);
    EXPECT_GE(e->TimeStamp, last);
    last = e->TimeStamp;
    ons += e->StatusByte == 0x90;
  }
  EXPECT_GE(ons, 6);
  EXPECT_GT(events_.back()->TimeStamp, events_.front()->TimeStamp);
}

TEST_F(JackTest, APortThatWentAwayFailsTheOpenWithItsOwnCode) {
  auto sequencer = std::make_unique<Child>(
      std::vector<std::string>{"jack_midiseq", "kvgone", "4800", "0", "60", "2400"});
  auto dump = std::make_unique<Child>(std::vector<std::string>{"jack_midi_dump", "kvgone2"});
  ASSERT_NE(JackPortEndingIn("kvgone:out"), "");
  ASSERT_NE(JackPortEndingIn("kvgone2:input"), "");
  TMidiInput input(*driver_);
  TMidiOutput output(*driver_);
  input.SetProductName("kvgone:out");
  output.SetProductName("kvgone2:input");
  sequencer.reset();
  dump.reset();
  const auto until = Clock::now() + 10s;
  while (
      (JackPortEndingIn("kvgone:out", 0ms) != "" || JackPortEndingIn("kvgone2:input", 0ms) != "") &&
      Clock::now() < until) {
    std::this_thread::sleep_for(50ms);
  }

  input.Open();
  EXPECT_EQ(input.State(), TPortState::stClosed);
  EXPECT_EQ(input.Error(), kMidiErrDeviceGone);
  EXPECT_FALSE(output.Open());
  EXPECT_EQ(output.Error(), kMidiErrDeviceGone);
  EXPECT_EQ(output.DriverErrorText(output.Error()), "The MIDI port has gone away.");
}

// jack_midi_dump prints each event as "<frame>: <hex bytes> <description>".
Bytes DumpedBytes(const std::string& line) {
  Bytes bytes;
  std::istringstream words(line.substr(line.find(':') + 1));
  for (std::string word; words >> word;) {
    if (word.size() != 2 || !std::isxdigit(word[0]) || !std::isxdigit(word[1])) break;
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(word, nullptr, 16)));
  }
  return bytes;
}

TEST_F(JackTest, WhatTheOutputPortSendsReachesMidiDumpIntact) {
  Child dump({"stdbuf", "-oL", "jack_midi_dump", "kvdump"});
  ASSERT_NE(JackPortEndingIn("kvdump:input"), "");
  TMidiOutput output(*driver_);
  output.SetProductName("kvdump:input");
  int done = 0;
  output.Onmidioutput = [&](TMidiOutput&) { ++done; };
  ASSERT_TRUE(output.Open());

  // Also through our own virtual output, connected from outside.
  TMidiOutput thru(*driver_);
  thru.SetProductName("Korvane Thru");
  ASSERT_TRUE(thru.Open());
  const std::string thruPort = JackPortEndingIn(":Korvane Thru");
  ASSERT_NE(thruPort, "");
  RunToEnd({"jack_connect", thruPort, "kvdump:input"});
  ASSERT_TRUE(WaitConnected(thruPort));

  const Bytes sysex = SysexOf(300);
  const std::vector<Bytes> expected = {
      {0x90, 0x3C, 0x64}, {0xC2, 0x07}, {0xF8}, sysex, {0xB5, 0x07, 0x64}};
  // A JACK cycle in which a client overruns is lost as a whole; on a loaded
  // machine (or under a sanitizer) that can hit our burst, so a burst that
  // went missing is sent again, twice at most. What arrives must be intact.
  std::vector<Bytes> seen;
  for (int attempt = 0; attempt < 3 && seen != expected; ++attempt) {
    seen.clear();
    output.SendShort(0x90, 0x3C, 0x64);
    output.SendShort(0xC2, 0x07, 0x55);  // one data byte on the wire, not two
    output.SendShort(0xF8, 0x00, 0x00);
    output.SendLong(sysex.data(), static_cast<std::uint16_t>(sysex.size()));
    std::this_thread::sleep_for(200ms);  // the thru message after the others
    thru.SendShort(0xB5, 0x07, 0x64);
    ASSERT_TRUE(PumpUntil([&] { return done == attempt + 1; }));
    while (seen.empty() || seen.back() != expected.back()) {
      auto line = dump.ReadLine(5s);
      if (!line) break;
      if (line->find(':') != std::string::npos) seen.push_back(DumpedBytes(*line));
    }
  }
  EXPECT_EQ(seen, expected);
  output.Close();
  thru.Close();
}

// A JACK client that sends one system-exclusive message of the given size
// when told to, from its port "kvpy:out".
constexpr char kSender[] = R"(
import sys, rtmidi
out = rtmidi.MidiOut(rtapi=rtmidi.API_UNIX_JACK, name="kvpy")
out.open_virtual_port("out")
print("ready", flush=True)
for line in sys.stdin:
    n = int(line)
    body = [(i * 7 + i // 128) & 0x7F for i in range(n)]
    body[0], body[-1] = 0xF0, 0xF7
    out.send_message(body)
    print("sent", flush=True)
)";

TEST_F(JackTest, LongSysexFromAJackClientArrivesInFullBuffersWithEveryByte) {
  Child sender({"/usr/bin/python3", "-c", kSender});
  ASSERT_TRUE(sender.WaitForLine("ready"))
      << "python3-rtmidi missing? (scripts/deps.sh installs it)";
  ASSERT_NE(JackPortEndingIn("kvpy:out"), "");
  auto input = OpenInput("kvpy:out");
  ASSERT_TRUE(WaitConnected("kvpy:out"));
  sender.Write("10000\n");
  ASSERT_TRUE(sender.WaitForLine("sent"));
  ASSERT_TRUE(PumpUntil([&] { return events_.size() >= 3; }));
  std::this_thread::sleep_for(100ms);
  MessageQueue::Instance().ProcessMessages();
  input->Close();

  ASSERT_EQ(events_.size(), 3u);
  const std::uint16_t sizes[] = {4096, 4096, 1808};
  Bytes joined;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(events_[i]->StatusByte, 0xF0);
    ASSERT_EQ(events_[i]->SysexSize, sizes[i]);
    joined.insert(joined.end(), events_[i]->SysexData,
                  events_[i]->SysexData + events_[i]->SysexSize);
  }
  EXPECT_EQ(joined, SysexOf(10'000));
}

TEST_F(JackTest, KorvaneInIsAJackPortOthersCanSendInto) {
  auto input = OpenInput("Korvane In");
  const std::string port = JackPortEndingIn(":Korvane In");
  ASSERT_NE(port, "");
  Child sequencer({"jack_midiseq", "kvseq2", "4800", "0", "67", "2400"});
  ASSERT_NE(JackPortEndingIn("kvseq2:out"), "");
  RunToEnd({"jack_connect", "kvseq2:out", port});
  ASSERT_TRUE(PumpUntil([&] { return events_.size() >= 4; }));
  input->Close();
  for (const auto& e : events_) {
    EXPECT_TRUE(e->StatusByte == 0x90 || e->StatusByte == 0x80);
    EXPECT_EQ(e->DataByte1, 67);
  }
}

// The JACK server goes away while ports are open on it. The next open finds
// no server, and libjack then frees the clients that were open on it: the
// ports must still close, and the driver go, without touching them.
TEST_F(JackTest, PortsOpenWhenTheServerGoesAwayStillCloseCleanly) {
  struct ServerName {
    std::string old = std::getenv("JACK_DEFAULT_SERVER");
    explicit ServerName(const std::string& name) {
      ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    }
    ~ServerName() { ::setenv("JACK_DEFAULT_SERVER", old.c_str(), 1); }
  };
  const std::string name = "korvane-gone-" + std::to_string(::getpid());
  ServerName useIt(name);
  auto server =
      std::make_unique<Child>(std::vector<std::string>{"jackd", "--no-realtime", "-n", name, "-d",
                                                       "dummy", "-r", "48000", "-p", "1024"},
                              "/dev/null");
  const auto until = Clock::now() + 15s;
  while (!JackServerRunning() && Clock::now() < until) std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(JackServerRunning());

  auto driver = CreateMidiDriver();
  auto input = std::make_unique<TMidiInput>(*driver);
  input->SetProductName("Korvane In");
  input->Open();
  ASSERT_EQ(input->State(), TPortState::stOpen);
  input->Start();
  auto output = std::make_unique<TMidiOutput>(*driver);
  output->SetProductName("Korvane Thru");
  ASSERT_TRUE(output->Open());

  server.reset();  // stopped, and waited for
  TMidiInput another(*driver);
  another.SetProductName("Korvane In");
  another.Open();
  EXPECT_EQ(another.State(), TPortState::stClosed);
  EXPECT_EQ(another.Error(), kMidiErrNoDriver);

  EXPECT_NO_THROW(input->Close());
  EXPECT_NO_THROW(output->Close());
  input.reset();
  output.reset();
  driver.reset();
}

}  // namespace
}  // namespace korvane
