#include "midi/midiout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/scripted/scripted_driver.h"
#include "ports/port_support.h"

namespace korvane {
namespace {

using test::RaisedText;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Bytes = std::vector<std::uint8_t>;

class OutputPort : public ::testing::Test {
 protected:
  ScriptedDriver driver{{"In A"}, {"Out A", "Synth", "Synth"}};
};

TEST(OutputPortConstruction, StartsClosedAndQueriesNoDevice) {
  for (std::uint32_t devices : {0u, 2u}) {
    SCOPED_TRACE(devices);
    ScriptedDriver driver;
    for (std::uint32_t i = 0; i < devices; ++i) driver.AddOutput({.name = "Out"});
    TMidiOutput port(driver);
    EXPECT_EQ(port.State(), TPortState::stClosed);
    EXPECT_EQ(port.DeviceID(), 0);
    EXPECT_EQ(port.ProductName(), "");
    EXPECT_EQ(port.DeviceCount(), devices);
    EXPECT_THAT(driver.CallTexts(), ElementsAre("midiOutGetNumDevs()"));
  }
}

struct SelectionCase {
  const char* name;
  std::function<void(ScriptedDriver&, TMidiOutput&)> act;
  std::string raised;  // "" when nothing is raised
  std::int32_t deviceId;
  std::string product;
  std::uint16_t error = 0;
};

TEST_F(OutputPort, SelectionByNumberAndByName) {
  const std::string badId = MidiResultText(kMidiErrBadDeviceId);
  const std::string notReady = MidiResultText(kMidiErrNotReady);
  const SelectionCase cases[] = {
      {"number", [](auto&, auto& p) { p.SetDeviceID(1); }, "", 1, "Synth"},
      {"the mapper by number", [](auto&, auto& p) { p.SetDeviceID(-1); }, "", -1, "Mapper"},
      {"number equal to the device count", [](auto&, auto& p) { p.SetDeviceID(3); },
       "Invalid device ID", 0, ""},
      {"-2 passes the signed range test; the query decides",
       [](auto&, auto& p) { p.SetDeviceID(-2); }, badId, -2, "", kMidiErrBadDeviceId},
      {"name", [](auto&, auto& p) { p.SetProductName("Out A"); }, "", 0, "Out A"},
      {"shared name picks the lower number", [](auto&, auto& p) { p.SetProductName("Synth"); }, "",
       1, "Synth"},
      {"the mapper by name", [](auto&, auto& p) { p.SetProductName("Mapper"); }, "", -1, "Mapper"},
      {"the mapper wins over a device of its name",
       [](auto& d, auto& p) {
         d.AddOutput({.name = "Mapper"});
         p.SetProductName("Mapper");
       },
       "", -1, "Mapper"},
      {"name in another letter case", [](auto&, auto& p) { p.SetProductName("synth"); },
       "MIDI output Device synth not installed", 0, ""},
      {"vanished device by name",
       [](auto& d, auto& p) {
         p.SetDeviceID(0);
         d.RemoveOutput(0);
         p.SetProductName("Out A");
       },
       "Invalid device ID", 0, "Out A"},
      {"capability query fails: number stays, the rest doesn't change",
       [](auto& d, auto& p) {
         p.SetDeviceID(0);
         d.Fail("midiOutGetDevCaps", kMidiErrNotReady);
         p.SetDeviceID(2);
       },
       notReady, 2, "Out A", kMidiErrNotReady},
      {"capability query fails during the name search",
       [](auto& d, auto& p) {
         d.Fail("midiOutGetDevCaps", kMidiErrNotReady, 1, 1);
         p.SetProductName("Synth");
       },
       notReady, 0, "", kMidiErrNotReady},
      {"name while loading does nothing",
       [](auto&, auto& p) {
         p.SetLoading(true);
         p.SetProductName("Synth");
       },
       "", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDriver local{{}, {"Out A", "Synth", "Synth"}};
    local.SetMapper({.name = "Mapper"});
    TMidiOutput port(local);
    EXPECT_EQ(RaisedText<EmidioutputError>([&] { c.act(local, port); }), c.raised);
    EXPECT_EQ(port.DeviceID(), c.deviceId);
    EXPECT_EQ(port.ProductName(), c.product);
    EXPECT_EQ(port.Error(), c.error);
  }
}

TEST(OutputPortSelection, TheMapperNeedsNoDeviceAndItsCapabilitiesAreCopied) {
  ScriptedDriver driver;
  driver.SetMapper({.name = "Mapper",
                    .driverVersion = 0x0501,
                    .technology = 0x0107,
                    .voices = 24,
                    .notes = 32,
                    .channelMask = 0x00FF,
                    .support = 0x9});
  TMidiOutput port(driver);
  port.SetDeviceID(-1);
  EXPECT_EQ(port.ProductName(), "Mapper");
  EXPECT_EQ(port.DriverVersion(), 0x0501u);
  EXPECT_EQ(port.TechnologyCode(), 0x07);  // the low byte only
  EXPECT_EQ(port.VoiceCount(), 24);
  EXPECT_EQ(port.NoteCount(), 32);
  EXPECT_EQ(port.ChannelMask(), 0x00FF);
  EXPECT_EQ(port.SupportFlags(), 0x9u);
  EXPECT_TRUE(port.Open());
  port.SendShort(0xF8, 0, 0);
  ASSERT_EQ(driver.Sent().size(), 1u);
  EXPECT_EQ(driver.Sent()[0].device, MIDI_MAPPER);
}

TEST_F(OutputPort, NameWhileLoadingQueriesNoDevice) {
  TMidiOutput port(driver);
  port.SetLoading(true);
  driver.ClearCalls();
  port.SetProductName("Gone");
  EXPECT_THAT(driver.CallTexts(), IsEmpty());
}

TEST_F(OutputPort, FixedMessages) {
  struct Case {
    std::function<void(TMidiOutput&)> act;
    const char* raised;
  };
  const Case whileOpen[] = {
      {[](auto& p) { p.SetDeviceID(1); }, "Change to DeviceID while device was open"},
      {[](auto& p) { p.SetProductName("Synth"); }, "Change to ProductName while device was open"},
  };
  TMidiOutput port(driver);
  ASSERT_TRUE(port.Open());
  for (const auto& c : whileOpen) {
    SCOPED_TRACE(c.raised);
    EXPECT_EQ(RaisedText<EmidioutputError>([&] { c.act(port); }), c.raised);
  }
  EXPECT_EQ(port.DeviceID(), 0);
  port.Close();
  TMyMidiEvent event;
  event.StatusByte = 0x90;
  EXPECT_EQ(RaisedText<EmidioutputError>([&] { port.SendEvent(event); }),
            "MIDI Output device not open");
  EXPECT_THAT(driver.Sent(), IsEmpty());
}

TEST_F(OutputPort, OpenAndClose) {
  TMidiOutput port(driver);
  port.SetDeviceID(2);
  driver.ClearCalls();
  EXPECT_TRUE(port.Open());
  EXPECT_THAT(driver.DeviceCallTexts(), ElementsAre("midiOutOpen(2)"));
  EXPECT_EQ(port.State(), TPortState::stOpen);
  EXPECT_NE(port.Handle(), 0u);
  ASSERT_NE(port.CallbackRecord(), nullptr);
  EXPECT_EQ(port.CallbackRecord()->Window, port.Window());
  EXPECT_EQ(port.CallbackRecord()->Ring, nullptr);
  TCallbackRecord* record = port.CallbackRecord();

  EXPECT_TRUE(port.Close());
  EXPECT_EQ(port.State(), TPortState::stClosed);
  EXPECT_EQ(port.Handle(), 0u);
  EXPECT_FALSE(driver.OutputOpen(2));
  EXPECT_FALSE(port.Close());  // closed already: false, and nothing raised

  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.CallbackRecord(), record);  // kept across closes
}

TEST_F(OutputPort, FailedOpenReturnsFalseAndReleasesTheRecord) {
  TMidiOutput holder(driver);
  ASSERT_TRUE(holder.Open());  // another client holds device 0
  TMidiOutput port(driver);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.State(), TPortState::stClosed);
  EXPECT_EQ(port.Error(), kMidiErrAllocated);
  EXPECT_EQ(port.CallbackRecord(), nullptr);
  TMyMidiEvent event;
  EXPECT_EQ(RaisedText<EmidioutputError>([&] { port.SendEvent(event); }),
            "MIDI Output device not open");
}

TEST_F(OutputPort, FailedCloseKeepsThePortOpen) {
  TMidiOutput port(driver);
  ASSERT_TRUE(port.Open());
  MidiHandle handle = port.Handle();
  driver.Fail("midiOutClose", kMidiErrNotReady);
  EXPECT_EQ(RaisedText<EmidioutputError>([&] { port.Close(); }), MidiResultText(kMidiErrNotReady));
  EXPECT_EQ(port.State(), TPortState::stOpen);
  EXPECT_EQ(port.Handle(), handle);
  EXPECT_EQ(port.Error(), kMidiErrNotReady);
  EXPECT_TRUE(port.Close());
}

TEST_F(OutputPort, OpenOnAnOpenPortChangesNothing) {
  TMidiOutput port(driver);
  ASSERT_TRUE(port.Open());
  TCallbackRecord* record = port.CallbackRecord();
  MidiHandle handle = port.Handle();
  driver.Fail("midiOutOpen", kMidiErrAllocated, ScriptedDriver::kAlways);
  driver.ClearCalls();
  EXPECT_TRUE(port.Open());
  EXPECT_THAT(driver.DeviceCallTexts(), IsEmpty());
  EXPECT_EQ(port.CallbackRecord(), record);
  EXPECT_EQ(port.Handle(), handle);
  EXPECT_EQ(port.State(), TPortState::stOpen);
}

TEST_F(OutputPort, ShortEventsGoOutPacked) {
  struct Case {
    const char* name;
    std::uint8_t status, data1, data2;
    std::uint32_t packed;
  };
  const Case cases[] = {
      {"note on", 0x90, 0x3C, 0x64, 0x00643C90},
      {"system exclusive without bytes", 0xF0, 0, 0, 0x000000F0},
      // No data-byte counting: both bytes always go to the driver.
      {"program change", 0xC3, 0x05, 0x07, 0x000705C3},
      {"clock", 0xF8, 0, 0, 0x000000F8},
  };
  TMidiOutput port(driver);
  ASSERT_TRUE(port.Open());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    driver.ClearSent();
    TMyMidiEvent event;
    event.StatusByte = c.status;
    event.DataByte1 = c.data1;
    event.DataByte2 = c.data2;
    port.SendEvent(event);
    EXPECT_THAT(driver.SentShort(), ElementsAre(c.packed));
    EXPECT_EQ(port.Error(), 0);
  }
}

TEST_F(OutputPort, SysexEventGoesOutAsOneLongMessageAndIsReleasedWhenDone) {
  TMidiOutput port(driver);
  int done = 0;
  port.Onmidioutput = [&](TMidiOutput& sender) {
    EXPECT_EQ(&sender, &port);
    ++done;
  };
  ASSERT_TRUE(port.Open());
  const Bytes bytes = {0xF0, 0x41, 0x00, 0x10, 0x00, 0xF7};
  TMyMidiEvent event;
  event.StatusByte = 0xF0;
  event.SysexSize = static_cast<std::uint16_t>(bytes.size());
  event.SysexData = new std::uint8_t[bytes.size()];
  std::copy(bytes.begin(), bytes.end(), event.SysexData);
  driver.ClearCalls();
  port.SendEvent(event);
  port.SendEvent(event);
  EXPECT_THAT(driver.DeviceCallTexts(), ElementsAre("midiOutPrepareHeader()", "midiOutLongMsg(6)",
                                                    "midiOutPrepareHeader()", "midiOutLongMsg(6)"));
  EXPECT_THAT(driver.SentLong(), ElementsAre(bytes, bytes));
  EXPECT_EQ(port.LongMessagesInFlight(), 2u);

  driver.ClearCalls();
  driver.SyncAndProcess();
  EXPECT_EQ(done, 2);
  EXPECT_EQ(port.LongMessagesInFlight(), 0u);
  EXPECT_THAT(driver.DeviceCallTexts(),
              ElementsAre("midiOutUnprepareHeader()", "midiOutUnprepareHeader()"));
}

TEST_F(OutputPort, DoneNoticeAfterCloseStillReleasesTheBuffer) {
  TMidiOutput port(driver);
  int done = 0;
  port.Onmidioutput = [&](TMidiOutput&) { ++done; };
  ASSERT_TRUE(port.Open());
  const std::uint8_t bytes[] = {0xF0, 0x01, 0xF7};
  port.SendLong(bytes, 3);
  port.Close();
  driver.SyncAndProcess();
  EXPECT_EQ(done, 1);
  EXPECT_EQ(port.LongMessagesInFlight(), 0u);
}

TEST_F(OutputPort, RefusedLongMessageReleasesItsBuffer) {
  struct Case {
    const char* function;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"midiOutPrepareHeader", {"midiOutPrepareHeader()"}},
      {"midiOutLongMsg",
       {"midiOutPrepareHeader()", "midiOutLongMsg(3)", "midiOutUnprepareHeader()"}},
  };
  TMidiOutput port(driver);
  int done = 0;
  port.Onmidioutput = [&](TMidiOutput&) { ++done; };
  ASSERT_TRUE(port.Open());
  const std::uint8_t bytes[] = {0xF0, 0x01, 0xF7};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.function);
    driver.Fail(c.function, kMidiErrNoMemory);
    driver.ClearCalls();
    EXPECT_EQ(RaisedText<EmidioutputError>([&] { port.SendLong(bytes, 3); }),
              MidiResultText(kMidiErrNoMemory));
    EXPECT_EQ(driver.DeviceCallTexts(), c.calls);
    EXPECT_EQ(port.Error(), kMidiErrNoMemory);
    EXPECT_EQ(port.LongMessagesInFlight(), 0u);
  }
  driver.SyncAndProcess();
  EXPECT_EQ(done, 0);
  EXPECT_THAT(driver.SentLong(), IsEmpty());
}

TEST_F(OutputPort, DriverErrorsRaiseTheDriversText) {
  struct Case {
    MidiResult code;
    std::string text;
  };
  const Case cases[] = {
      {kMidiErrNotReady, MidiResultText(kMidiErrNotReady)},
      {kMidiErrDeviceGone, MidiResultText(kMidiErrDeviceGone)},
      {1234, "Specified error number is out of range"},
  };
  TMidiOutput port(driver);
  ASSERT_TRUE(port.Open());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    driver.Fail("midiOutShortMsg", c.code);
    EXPECT_EQ(RaisedText<EmidioutputError>([&] { port.SendShort(0x90, 0x3C, 0x40); }), c.text);
    EXPECT_EQ(port.Error(), c.code);
  }
  EXPECT_THAT(driver.Sent(), IsEmpty());
}

TEST_F(OutputPort, SendShortOnAClosedPortRaisesTheDriversTextForNoHandle) {
  TMidiOutput port(driver);
  EXPECT_EQ(RaisedText<EmidioutputError>([&] { port.SendShort(0x90, 0x3C, 0x40); }),
            MidiResultText(kMidiErrInvalidHandle));
}

TEST_F(OutputPort, DestroyingAnOpenPortClosesItAndFreesWhatIsInFlight) {
  {
    TMidiOutput port(driver);
    ASSERT_TRUE(port.Open());
    const std::uint8_t bytes[] = {0xF0, 0x01, 0xF7};
    port.SendLong(bytes, 3);  // its done notice is never dispatched
    driver.ClearCalls();
  }
  EXPECT_THAT(driver.DeviceCallTexts(), ElementsAre("midiOutClose()"));
  EXPECT_FALSE(driver.OutputOpen(0));
  driver.SyncAndProcess();  // the notice goes nowhere
}

}  // namespace
}  // namespace korvane
