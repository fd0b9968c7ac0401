#include "midi/midiin.h"

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

Bytes SysexBytes(const TMyMidiEvent& event) {
  return Bytes(event.SysexData, event.SysexData + event.SysexSize);
}

// Handlers as the main window has them: counts the calls and, unless told
// not to, takes every waiting event.
struct Receiver {
  std::vector<std::unique_ptr<TMyMidiEvent>> events;
  int inputCalls = 0;
  int overflows = 0;

  void Attach(TMidiInput& port, bool take = true) {
    port.OnMidiInput = [this, take](TMidiInput& sender) {
      ++inputCalls;
      while (take && sender.EventCount() > 0) events.push_back(sender.TakeEvent());
    };
    port.OnOverflow = [this](TMidiInput&) { ++overflows; };
  }
};

class InputPort : public ::testing::Test {
 protected:
  ScriptedDriver driver{{"In A", "In B", "Dup", "Dup"}, {}};

  // An open, started port with small buffers.
  void OpenSmall(TMidiInput& port, std::uint16_t capacity, std::uint16_t count,
                 std::uint16_t size) {
    port.SetCapacity(capacity);
    port.SetSysexBufferCount(count);
    port.SetSysexBufferSize(size);
    port.Open();
    ASSERT_EQ(port.State(), TPortState::stOpen);
    port.Start();
  }
};

TEST(InputPortConstruction, TakesDeviceZeroAndTheInitialSettings) {
  ScriptedDriver driver;
  driver.AddInput({.name = "Keys", .manufacturerId = 7, .productId = 9, .driverVersion = 0x0203});
  driver.AddInput({.name = "Pads"});
  TMidiInput port(driver);
  EXPECT_EQ(port.DeviceID(), 0);
  EXPECT_EQ(port.ProductName(), "Keys");
  EXPECT_EQ(port.ManufacturerID(), 7);
  EXPECT_EQ(port.ProductID(), 9);
  EXPECT_EQ(port.DriverVersion(), 0x0203u);
  EXPECT_EQ(port.DeviceCount(), 2);
  EXPECT_EQ(port.Capacity(), 1024);
  EXPECT_EQ(port.SysexBufferSize(), 4096);
  EXPECT_EQ(port.SysexBufferCount(), 16);
  EXPECT_FALSE(port.SysexOnly());
  EXPECT_EQ(port.State(), TPortState::stClosed);
  EXPECT_EQ(port.Error(), 0);

  // A closed port gives nothing and does nothing.
  driver.ClearCalls();
  EXPECT_EQ(port.EventCount(), 0);
  EXPECT_EQ(port.TakeEvent(), nullptr);
  port.Start();
  port.Close();
  EXPECT_THAT(driver.CallTexts(), IsEmpty());
}

TEST(InputPortConstruction, WithoutAnyInputDeviceRaisesInvalidDeviceId) {
  ScriptedDriver driver;
  EXPECT_EQ(RaisedText<EMidiInputError>([&] { TMidiInput port(driver); }), "Invalid device ID");
}

struct SelectionCase {
  const char* name;
  std::function<void(ScriptedDriver&, TMidiInput&)> act;
  std::string raised;  // "" when nothing is raised
  std::uint16_t deviceId;
  std::string product;
  std::uint16_t error = 0;
};

TEST_F(InputPort, SelectionByNumberAndByName) {
  const std::string notReady = MidiResultText(kMidiErrNotReady);
  const SelectionCase cases[] = {
      {"number", [](auto&, auto& p) { p.SetDeviceID(1); }, "", 1, "In B"},
      {"number equal to the device count", [](auto&, auto& p) { p.SetDeviceID(4); },
       "Invalid device ID", 0, "In A"},
      {"name", [](auto&, auto& p) { p.SetProductName("In B"); }, "", 1, "In B"},
      {"name in another letter case", [](auto&, auto& p) { p.SetProductName("in b"); },
       "MIDI Input Device in b not installed ", 0, "In A"},
      {"unknown name", [](auto&, auto& p) { p.SetProductName("Out A"); },
       "MIDI Input Device Out A not installed ", 0, "In A"},
      {"shared name picks the lower number", [](auto&, auto& p) { p.SetProductName("Dup"); }, "", 2,
       "Dup"},
      {"vanished device by name",
       [](auto& d, auto& p) {
         p.SetDeviceID(1);
         d.RemoveInput(1);
         p.SetProductName("In B");
       },
       "Invalid device ID", 1, "In B"},
      {"vanished device by number",
       [](auto& d, auto& p) {
         p.SetDeviceID(3);
         d.RemoveInput(3);
         p.SetDeviceID(3);
       },
       "Invalid device ID", 3, "Dup"},
      {"capability query fails: number stays, the rest doesn't change",
       [](auto& d, auto& p) {
         d.Fail("midiInGetDevCaps", kMidiErrNotReady);
         p.SetDeviceID(1);
       },
       notReady, 1, "In A", kMidiErrNotReady},
      {"capability query fails during the name search",
       [](auto& d, auto& p) {
         d.Fail("midiInGetDevCaps", kMidiErrNotReady, 1, 1);
         p.SetProductName("In B");
       },
       notReady, 0, "In A", kMidiErrNotReady},
      {"name with no device left is a range error",
       [](auto& d, auto& p) {
         for (int i = 0; i < 4; ++i) d.RemoveInput(0);
         p.SetProductName("In A");
       },
       "other: Range check error", 0, "In A"},
      {"name while loading does nothing",
       [](auto&, auto& p) {
         p.SetLoading(true);
         p.SetProductName("In B");
       },
       "", 0, "In A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDriver local{{"In A", "In B", "Dup", "Dup"}, {}};
    TMidiInput port(local);
    EXPECT_EQ(RaisedText<EMidiInputError>([&] { c.act(local, port); }), c.raised);
    EXPECT_EQ(port.DeviceID(), c.deviceId);
    EXPECT_EQ(port.ProductName(), c.product);
    EXPECT_EQ(port.Error(), c.error);
  }
}

TEST_F(InputPort, NameWhileLoadingQueriesNoDevice) {
  TMidiInput port(driver);
  port.SetLoading(true);
  driver.ClearCalls();
  port.SetProductName("Gone");
  EXPECT_THAT(driver.CallTexts(), IsEmpty());
}

TEST_F(InputPort, SettingsThatCannotChangeWhileOpen) {
  struct Case {
    std::function<void(TMidiInput&)> act;
    const char* raised;
  };
  const Case cases[] = {
      {[](auto& p) { p.SetDeviceID(1); }, "Change to DeviceID while device was open"},
      {[](auto& p) { p.SetProductName("In B"); }, "Change to ProductName while device was open"},
      {[](auto& p) { p.SetSysexBufferSize(16); },
       "Change to SysexBufferSize while device was open"},
      {[](auto& p) { p.SetSysexBufferCount(2); },
       "Change to SysexBuffercount while device was open"},
      {[](auto& p) { p.SetCapacity(8); }, ""},  // takes effect at the next Open
  };
  TMidiInput port(driver);
  port.Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raised);
    EXPECT_EQ(RaisedText<EMidiInputError>([&] { c.act(port); }), c.raised);
  }
  EXPECT_EQ(port.DeviceID(), 0);
  EXPECT_EQ(port.ProductName(), "In A");
  EXPECT_EQ(port.SysexBufferSize(), 4096);
  EXPECT_EQ(port.SysexBufferCount(), 16);
  EXPECT_EQ(port.State(), TPortState::stOpen);
}

TEST_F(InputPort, OpenStartAndCloseCallTheDriverInOrder) {
  TMidiInput port(driver);
  port.SetSysexBufferCount(2);
  port.SetCapacity(8);
  driver.ClearCalls();
  port.Open();
  EXPECT_THAT(driver.DeviceCallTexts(),
              ElementsAre("midiInOpen(0)", "midiInPrepareHeader()", "midiInPrepareHeader()",
                          "midiInAddBuffer()", "midiInAddBuffer()"));
  ASSERT_EQ(port.State(), TPortState::stOpen);
  ASSERT_NE(port.Ring(), nullptr);
  EXPECT_EQ(port.Ring()->SlotCount, 8);
  ASSERT_NE(port.CallbackRecord(), nullptr);
  EXPECT_EQ(port.CallbackRecord()->Ring, port.Ring());
  EXPECT_EQ(port.CallbackRecord()->Window, port.Window());
  ASSERT_EQ(port.SysexBuffers()->size(), 2u);
  EXPECT_EQ(driver.QueuedBuffers(), 2u);
  std::vector<MIDIHDR*> headers;
  for (const auto& buffer : *port.SysexBuffers()) {
    EXPECT_EQ(buffer->Header->dwUser, reinterpret_cast<std::uintptr_t>(buffer.get()));
    headers.push_back(buffer->Header);
  }

  driver.ClearCalls();
  port.Start();
  EXPECT_THAT(driver.DeviceCallTexts(), ElementsAre("midiInStart()"));

  Receiver receiver;
  receiver.Attach(port);
  TCallbackRecord* record = port.CallbackRecord();
  driver.ClearCalls();
  port.Close();
  EXPECT_THAT(driver.DeviceCallTexts(), ElementsAre("midiInReset()", "midiInUnprepareHeader()",
                                                    "midiInUnprepareHeader()", "midiInClose()"));
  auto calls = driver.Calls();
  EXPECT_EQ(calls[1].header, headers[0]);  // unprepared in list order
  EXPECT_EQ(calls[2].header, headers[1]);
  EXPECT_EQ(port.State(), TPortState::stClosed);
  EXPECT_EQ(port.Handle(), 0u);
  EXPECT_EQ(port.Ring(), nullptr);
  EXPECT_EQ(port.SysexBuffers(), nullptr);
  EXPECT_EQ(port.CallbackRecord(), record);  // kept for the next Open
  EXPECT_FALSE(driver.InputOpen());

  // The reset handed both buffers back through the callback; the port was
  // already closed and calls nothing.
  driver.SyncAndProcess();
  EXPECT_EQ(receiver.inputCalls, 0);

  port.Open();
  EXPECT_EQ(port.State(), TPortState::stOpen);
  EXPECT_EQ(port.CallbackRecord(), record);
}

TEST_F(InputPort, DestroyingAnOpenPortClosesIt) {
  {
    TMidiInput port(driver);
    port.SetSysexBufferCount(1);
    port.Open();
    driver.ClearCalls();
  }
  EXPECT_THAT(driver.DeviceCallTexts(),
              ElementsAre("midiInReset()", "midiInUnprepareHeader()", "midiInClose()"));
  EXPECT_FALSE(driver.InputOpen());
}

struct OpenFailureCase {
  const char* name;
  std::function<void(ScriptedDriver&, TMidiInput&)> arrange;
  std::uint16_t error;
};

TEST_F(InputPort, OpenAbsorbsEveryFailureAndLeavesNothingAtTheDriver) {
  const OpenFailureCase cases[] = {
      {"device held elsewhere", [](auto& d, auto&) { d.Fail("midiInOpen", kMidiErrAllocated); },
       kMidiErrAllocated},
      {"second buffer can't be prepared",
       [](auto& d, auto&) { d.Fail("midiInPrepareHeader", kMidiErrNoMemory, 1, 1); },
       kMidiErrNoMemory},
      {"second buffer can't be queued",
       [](auto& d, auto&) { d.Fail("midiInAddBuffer", kMidiErrNotReady, 1, 1); }, kMidiErrNotReady},
      {"Capacity 5,462 is a range error", [](auto&, auto& p) { p.SetCapacity(5462); }, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDriver local{{"In A"}, {}};
    TMidiInput port(local);
    port.SetSysexBufferCount(3);
    c.arrange(local, port);
    EXPECT_NO_THROW(port.Open());
    EXPECT_EQ(port.State(), TPortState::stClosed);
    EXPECT_EQ(port.Error(), c.error);
    EXPECT_EQ(port.Ring(), nullptr);
    EXPECT_EQ(port.CallbackRecord(), nullptr);
    EXPECT_EQ(port.SysexBuffers(), nullptr);
    EXPECT_FALSE(local.InputOpen());  // closed again after a late failure

    // Start does nothing on the port that didn't open, and no event arrives.
    local.ClearCalls();
    port.Start();
    local.FeedShort(0x90);
    EXPECT_EQ(port.EventCount(), 0);
    EXPECT_THAT(local.DeviceCallTexts(), IsEmpty());

    // The next Open makes everything anew.
    local.ClearFailures();
    port.SetCapacity(16);
    port.Open();
    EXPECT_EQ(port.State(), TPortState::stOpen);
    EXPECT_EQ(local.QueuedBuffers(), 3u);
  }
}

TEST_F(InputPort, OpenOnAnOpenPortChangesNothing) {
  TMidiInput port(driver);
  Receiver receiver;
  receiver.Attach(port);
  port.Open();
  port.Start();
  TCallbackRecord* record = port.CallbackRecord();
  TEventRing* ring = port.Ring();
  // Were the device opened again, this failure would release the record the
  // open device calls back with.
  driver.Fail("midiInOpen", kMidiErrAllocated, ScriptedDriver::kAlways);
  driver.ClearCalls();
  port.Open();
  EXPECT_THAT(driver.DeviceCallTexts(), IsEmpty());
  EXPECT_EQ(port.State(), TPortState::stOpen);
  EXPECT_EQ(port.CallbackRecord(), record);
  EXPECT_EQ(port.Ring(), ring);
  driver.FeedShort(0x403C90);
  driver.SyncAndProcess();
  ASSERT_EQ(receiver.events.size(), 1u);
}

struct CloseFailureCase {
  const char* name;
  const char* function;
  std::vector<std::string> calls;  // what Close got to
};

TEST_F(InputPort, CloseStopsAtAFailingStepAndTheNextOpenFinishesTheJob) {
  const CloseFailureCase cases[] = {
      {"reset", "midiInReset", {"midiInReset()"}},
      {"unprepare", "midiInUnprepareHeader", {"midiInReset()", "midiInUnprepareHeader()"}},
      {"close",
       "midiInClose",
       {"midiInReset()", "midiInUnprepareHeader()", "midiInUnprepareHeader()", "midiInClose()"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDriver local{{"In A"}, {}};
    TMidiInput port(local);
    port.SetSysexBufferCount(2);
    port.Open();
    local.Fail(c.function, kMidiErrNotReady);
    local.ClearCalls();
    EXPECT_EQ(RaisedText<EMidiInputError>([&] { port.Close(); }), MidiResultText(kMidiErrNotReady));
    EXPECT_EQ(local.DeviceCallTexts(), c.calls);
    EXPECT_EQ(port.State(), TPortState::stClosed);
    EXPECT_EQ(port.Error(), kMidiErrNotReady);
    EXPECT_EQ(port.EventCount(), 0);

    port.Open();
    EXPECT_EQ(port.State(), TPortState::stOpen);
    EXPECT_EQ(local.QueuedBuffers(), 2u);
    port.Close();
    EXPECT_FALSE(local.InputOpen());
  }
}

TEST_F(InputPort, DriverErrorsRaiseTheDriversText) {
  struct Case {
    MidiResult code;
    std::string text;
  };
  const Case cases[] = {
      {kMidiErrNotReady, MidiResultText(kMidiErrNotReady)},
      {kMidiErrDeviceGone, MidiResultText(kMidiErrDeviceGone)},
      {1234, "Specified error number is out of range"},
  };
  TMidiInput port(driver);
  port.Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    driver.Fail("midiInStart", c.code);
    EXPECT_EQ(RaisedText<EMidiInputError>([&] { port.Start(); }), c.text);
    EXPECT_EQ(port.Error(), c.code);
  }
}

TEST_F(InputPort, ShortMessagesArriveInOrderWithTheirTimeStamps) {
  TMidiInput port(driver);
  Receiver receiver;
  receiver.Attach(port);
  port.Open();
  port.Start();
  driver.FeedShort(0xAB403C90, 10);  // bits 24-31 are no part of the message
  driver.FeedShort(0x006407B1, 11);
  driver.FeedShort(0x000000F8, 12);
  driver.SyncAndProcess();
  // The first notice's handler took all three; the other notices find none.
  EXPECT_EQ(receiver.inputCalls, 1);
  ASSERT_EQ(receiver.events.size(), 3u);
  struct Expected {
    std::uint8_t status, data1, data2;
    std::uint32_t time;
  };
  const Expected expected[] = {{0x90, 0x3C, 0x40, 10}, {0xB1, 0x07, 0x64, 11}, {0xF8, 0, 0, 12}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const auto& event = *receiver.events[i];
    EXPECT_EQ(event.StatusByte, expected[i].status);
    EXPECT_EQ(event.DataByte1, expected[i].data1);
    EXPECT_EQ(event.DataByte2, expected[i].data2);
    EXPECT_EQ(event.TimeStamp, expected[i].time);
    EXPECT_EQ(event.SysexData, nullptr);
    EXPECT_EQ(event.SysexSize, 0);
  }
}

TEST_F(InputPort, SysexOnlyDropsShortMessagesFromTheNextOneOn) {
  TMidiInput port(driver);
  Receiver receiver;
  receiver.Attach(port);
  port.Open();
  port.Start();
  port.SetSysexOnly(true);
  driver.FeedShort(0x403C90);
  driver.SyncAndProcess();
  EXPECT_EQ(receiver.inputCalls, 0);  // dropped without a notice
  driver.FeedSysex({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
  driver.SyncAndProcess();
  ASSERT_EQ(receiver.events.size(), 1u);
  EXPECT_EQ(SysexBytes(*receiver.events[0]), (Bytes{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));

  port.SetSysexOnly(false);
  driver.FeedShort(0x403C90);
  driver.SyncAndProcess();
  ASSERT_EQ(receiver.events.size(), 2u);
  EXPECT_EQ(receiver.events[1]->StatusByte, 0x90);

  // Set while closed, it holds from the next Open on.
  port.Close();
  port.SetSysexOnly(true);
  port.Open();
  port.Start();
  driver.FeedShort(0x403C90);
  driver.SyncAndProcess();
  EXPECT_EQ(receiver.events.size(), 2u);
}

TEST_F(InputPort, CapacityLimits) {
  struct Case {
    std::uint16_t capacity;
    bool opens;
    bool ring;
  };
  const Case cases[] = {
      {0, true, false}, {1, true, true}, {5461, true, true}, {5462, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.capacity);
    TMidiInput port(driver);
    Receiver receiver;
    receiver.Attach(port);
    port.SetCapacity(c.capacity);
    port.Open();
    EXPECT_EQ(port.State() == TPortState::stOpen, c.opens);
    EXPECT_EQ(port.Ring() != nullptr, c.ring);
    if (c.ring) {
      EXPECT_EQ(port.Ring()->SlotCount, c.capacity);
    }
    port.Start();
    driver.FeedShort(0x403C90);
    driver.SyncAndProcess();
    // Without a ring nothing is stored, notified or taken.
    EXPECT_EQ(receiver.events.size(), c.ring ? 1u : 0u);
    EXPECT_EQ(receiver.overflows, 0);
    EXPECT_EQ(port.TakeEvent(), nullptr);
  }
}

TEST_F(InputPort, LongSysexArrivesBufferByBufferWithEveryByteIntact) {
  TMidiInput port(driver);
  Receiver receiver;
  receiver.Attach(port);
  OpenSmall(port, 16, 4, 4);
  const Bytes message = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0x12, 0xF7};
  driver.FeedSysex(message, 77);
  driver.SyncAndProcess();
  ASSERT_EQ(receiver.events.size(), 3u);
  Bytes joined;
  const std::uint16_t sizes[] = {4, 4, 2};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const auto& event = *receiver.events[i];
    EXPECT_EQ(event.StatusByte, 0xF0);  // also for the pieces that don't begin with F0
    EXPECT_EQ(event.DataByte1, 0);
    EXPECT_EQ(event.DataByte2, 0);
    EXPECT_EQ(event.SysexSize, sizes[i]);
    EXPECT_EQ(event.TimeStamp, 77u);
    Bytes piece = SysexBytes(event);
    joined.insert(joined.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(joined, message);
  EXPECT_EQ(driver.QueuedBuffers(), 4u);  // each went back once copied
}

TEST_F(InputPort, BuffersCycleBackSoSysexInputNeverRunsDry) {
  TMidiInput port(driver);
  Receiver receiver;
  receiver.Attach(port);
  OpenSmall(port, 16, 2, 8);
  for (std::uint8_t i = 0; i < 10; ++i) {
    driver.FeedSysex({0xF0, 0x7D, i, 0xF7}, i);
    driver.SyncAndProcess();
  }
  ASSERT_EQ(receiver.events.size(), 10u);
  for (std::uint8_t i = 0; i < 10; ++i)
    EXPECT_EQ(SysexBytes(*receiver.events[i]), (Bytes{0xF0, 0x7D, i, 0xF7}));
  EXPECT_EQ(driver.QueuedBuffers(), 2u);
  EXPECT_EQ(driver.DroppedSysexBytes(), 0u);
}

TEST_F(InputPort, NoSysexBuffersMeansNoSysexInput) {
  for (std::uint16_t count : std::initializer_list<std::uint16_t>{0, 1}) {
    TMidiInput port(driver);
    Receiver receiver;
    receiver.Attach(port);
    port.SetSysexBufferCount(count);
    port.SetSysexBufferSize(count == 0 ? 16 : 0);  // either one 0 is enough
    port.Open();
    port.Start();
    EXPECT_EQ(port.SysexBuffers(), nullptr);
    driver.FeedSysex({0xF0, 0x01, 0xF7});
    driver.SyncAndProcess();
    EXPECT_THAT(receiver.events, IsEmpty());
  }
}

TEST_F(InputPort, AFailedGiveBackLeavesTheEventWaiting) {
  TMidiInput port(driver);
  OpenSmall(port, 16, 2, 8);
  driver.FeedSysex({0xF0, 0x01, 0xF7});
  driver.Sync();
  driver.Fail("midiInAddBuffer", kMidiErrNotReady);
  EXPECT_EQ(RaisedText<EMidiInputError>([&] { port.TakeEvent(); }),
            MidiResultText(kMidiErrNotReady));
  EXPECT_EQ(port.Error(), kMidiErrNotReady);
  EXPECT_EQ(port.EventCount(), 1);
  auto event = port.TakeEvent();
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(SysexBytes(*event), (Bytes{0xF0, 0x01, 0xF7}));
  EXPECT_EQ(port.EventCount(), 0);
  EXPECT_EQ(driver.QueuedBuffers(), 2u);
}

TEST_F(InputPort, OverflowReportsEachDroppedEventAndLendsItsBufferAgain) {
  TMidiInput port(driver);
  Receiver receiver;
  receiver.Attach(port, /*take=*/false);
  OpenSmall(port, 1, 2, 8);
  driver.FeedSysex({0xF0, 0x0A, 0xF7});  // fills the one slot
  driver.SyncAndProcess();
  EXPECT_EQ(driver.QueuedBuffers(), 1u);
  // Each of these is dropped; the buffer comes with the notice and goes back
  // to the driver, so the second message still finds one.
  driver.FeedSysex({0xF0, 0x0B, 0xF7});
  driver.SyncAndProcess();
  driver.FeedSysex({0xF0, 0x0C, 0xF7});
  driver.SyncAndProcess();
  driver.FeedShort(0x403C90);
  driver.SyncAndProcess();
  EXPECT_EQ(receiver.overflows, 3);
  EXPECT_EQ(receiver.inputCalls, 1);  // never for a dropped event
  EXPECT_EQ(driver.DroppedSysexBytes(), 0u);
  EXPECT_EQ(driver.QueuedBuffers(), 1u);

  auto first = port.TakeEvent();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(SysexBytes(*first), (Bytes{0xF0, 0x0A, 0xF7}));
  EXPECT_EQ(driver.QueuedBuffers(), 2u);
  driver.FeedSysex({0xF0, 0x0D, 0xF7});
  driver.SyncAndProcess();
  auto next = port.TakeEvent();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(SysexBytes(*next), (Bytes{0xF0, 0x0D, 0xF7}));
}

TEST_F(InputPort, ABufferTheDriverRefusesBackIsToldInErrorNotRaised) {
  TMidiInput port(driver);
  Receiver receiver;
  receiver.Attach(port, /*take=*/false);
  OpenSmall(port, 1, 2, 8);
  driver.FeedSysex({0xF0, 0x0A, 0xF7});
  driver.SyncAndProcess();
  driver.Fail("midiInAddBuffer", kMidiErrNotReady);
  driver.FeedSysex({0xF0, 0x0B, 0xF7});  // dropped; its buffer cannot go back
  driver.Sync();
  EXPECT_NO_THROW(MessageQueue::Instance().ProcessMessages());
  EXPECT_EQ(receiver.overflows, 1);
  EXPECT_EQ(port.Error(), kMidiErrNotReady);
  EXPECT_EQ(driver.QueuedBuffers(), 0u);
}

TEST_F(InputPort, OverflowNoticeFromBeforeCloseNeverTouchesTheNextSession) {
  TMidiInput port(driver);
  Receiver receiver;
  receiver.Attach(port, /*take=*/false);
  OpenSmall(port, 1, 2, 8);
  driver.FeedSysex({0xF0, 0x0A, 0xF7});
  driver.FeedSysex({0xF0, 0x0B, 0xF7});  // dropped: its notice carries the buffer
  driver.Sync();                         // ...and waits, not yet dispatched
  port.Close();
  port.Open();  // new buffers, quite possibly at the old addresses
  port.Start();
  driver.ClearCalls();
  EXPECT_NO_THROW(MessageQueue::Instance().ProcessMessages());
  EXPECT_EQ(receiver.overflows, 0);
  EXPECT_EQ(receiver.inputCalls, 0);
  EXPECT_THAT(driver.DeviceCallTexts(), IsEmpty());
  EXPECT_EQ(driver.QueuedBuffers(), 2u);

  driver.FeedSysex({0xF0, 0x0C, 0xF7});
  driver.SyncAndProcess();
  auto event = port.TakeEvent();
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(SysexBytes(*event), (Bytes{0xF0, 0x0C, 0xF7}));
}

}  // namespace
}  // namespace korvane
