#include <gtest/gtest.h>

#include <vector>

#include "midi/circbuf.h"
#include "midi/delphmcb.h"
#include "midi/miditype.h"
#include "platform/message_queue.h"
#include "platform/pinned.h"

namespace korvane {
namespace {

TRingSlot Slot(std::uint32_t n) {
  TRingSlot slot;
  slot.TimeStamp = n;
  slot.ShortMessage = n;
  return slot;
}

struct RingDeleter {
  void operator()(TEventRing* ring) const { RingFree(ring); }
};
using RingPtr = std::unique_ptr<TEventRing, RingDeleter>;

TEST(PinnedMemory, SizesAndZeroFill) {
  PinnedToken token = 123;
  EXPECT_EQ(PinnedAlloc(0, token), nullptr);
  EXPECT_EQ(token, 0u);
  PinnedFree(token);  // the empty token does nothing

  auto* big = static_cast<std::uint8_t*>(PinnedAlloc(65535, token));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big[0], 0);
  EXPECT_EQ(big[65534], 0);
  PinnedFree(token);
}

TEST(MidiHdr, WrapsAPinnedHeaderAndBuffer) {
  TMyMidiHdr empty(0);
  EXPECT_EQ(empty.Header, nullptr);
  EXPECT_EQ(empty.Buffer, nullptr);
  EXPECT_EQ(empty.HeaderBlock, 0u);

  TMyMidiHdr hdr(4096);
  ASSERT_NE(hdr.Header, nullptr);
  EXPECT_EQ(hdr.Header->lpData, reinterpret_cast<char*>(hdr.Buffer));
  EXPECT_EQ(hdr.Header->dwBufferLength, 4096u);
  EXPECT_EQ(hdr.Header->dwBytesRecorded, 0u);
  EXPECT_EQ(hdr.Header->dwUser, 0u);
  EXPECT_EQ(hdr.Buffer[4095], 0);
}

TEST(EventRing, CreateLimits) {
  EXPECT_EQ(RingCreate(0), nullptr);
  RingPtr largest(RingCreate(kMaxRingSlots));
  ASSERT_NE(largest, nullptr);
  EXPECT_EQ(largest->SlotEnd - largest->SlotStart, 5461);
  EXPECT_EQ(largest->Waiting.load(), 0);
  EXPECT_THROW(RingCreate(kMaxRingSlots + 1), ERangeError);
  try {
    RingCreate(5462);
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(), "Range check error");
  }
}

TEST(EventRing, OneSlotRingWraps) {
  RingPtr ring(RingCreate(1));
  ASSERT_NE(ring, nullptr);
  EXPECT_TRUE(RingPut(ring.get(), Slot(1)));
  EXPECT_FALSE(RingPut(ring.get(), Slot(2)));  // full before a drop
  EXPECT_EQ(ring->PutPos, ring->GetPos);
  TRingSlot out;
  ASSERT_TRUE(RingPeek(ring.get(), out));
  EXPECT_EQ(out.ShortMessage, 1u);
  EXPECT_TRUE(RingDrop(ring.get()));
  EXPECT_EQ(ring->PutPos, ring->SlotStart);
  EXPECT_EQ(ring->GetPos, ring->SlotStart);
  EXPECT_TRUE(RingPut(ring.get(), Slot(3)));
  ASSERT_TRUE(RingPeek(ring.get(), out));
  EXPECT_EQ(out.ShortMessage, 3u);
}

TEST(EventRing, FullRingKeepsOldestAndRoundTripsToStart) {
  RingPtr ring(RingCreate(4));
  TRingSlot out;
  EXPECT_FALSE(RingPeek(ring.get(), out));  // empty: nothing changes
  EXPECT_FALSE(RingDrop(ring.get()));
  EXPECT_EQ(ring->GetPos, ring->SlotStart);

  for (std::uint32_t n = 0; n < 4; ++n) ASSERT_TRUE(RingPut(ring.get(), Slot(n)));
  EXPECT_EQ(ring->Waiting.load(), 4);
  EXPECT_EQ(ring->PutPos, ring->GetPos);
  EXPECT_FALSE(RingPut(ring.get(), Slot(99)));
  ASSERT_TRUE(RingPeek(ring.get(), out));
  EXPECT_EQ(out.ShortMessage, 0u);

  for (std::uint32_t n = 0; n < 4; ++n) {
    ASSERT_TRUE(RingPeek(ring.get(), out));
    EXPECT_EQ(out.ShortMessage, n);
    ASSERT_TRUE(RingDrop(ring.get()));
  }
  EXPECT_EQ(ring->PutPos, ring->SlotStart);
  EXPECT_EQ(ring->GetPos, ring->SlotStart);
  EXPECT_EQ(ring->Waiting.load(), 0);
}

// A window that records what the callback posts to it.
class CallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = AllocateHWnd([this](const WindowMessage& m) { posted_.push_back(m); });
    record_ = CallbackRecordCreate();
    ring_.reset(RingCreate(2));
    record_->Ring = ring_.get();
    record_->Window = window_;
  }
  void TearDown() override {
    CallbackRecordFree(record_);
    DeallocateHWnd(window_);
  }
  std::vector<WindowMessage> Dispatch() {
    posted_.clear();
    MessageQueue::Instance().ProcessMessages();
    return posted_;
  }
  void Call(std::uint32_t message, std::uintptr_t p1, std::uintptr_t p2 = 0) {
    MidiDriverCallback(1, message, reinterpret_cast<std::uintptr_t>(record_), p1, p2);
  }

  WindowHandle window_ = 0;
  TCallbackRecord* record_ = nullptr;
  RingPtr ring_;
  std::vector<WindowMessage> posted_;
};

TEST_F(CallbackTest, ShortAndLongInputAreStoredAndNotified) {
  MIDIHDR header{};
  Call(MIM_DATA, 0x00403C90, 1234);
  Call(MIM_LONGDATA, reinterpret_cast<std::uintptr_t>(&header), 1240);
  auto posted = Dispatch();
  ASSERT_EQ(posted.size(), 2u);
  for (const auto& m : posted) {
    EXPECT_EQ(m.message, pnEventStored);
    EXPECT_EQ(m.wParam, 0u);
    EXPECT_EQ(m.lParam, 0u);
  }
  TRingSlot slot;
  ASSERT_TRUE(RingPeek(ring_.get(), slot));
  EXPECT_EQ(slot.TimeStamp, 1234u);
  EXPECT_EQ(slot.ShortMessage, 0x00403C90u);
  EXPECT_EQ(slot.LongHeader, nullptr);
  RingDrop(ring_.get());
  ASSERT_TRUE(RingPeek(ring_.get(), slot));
  EXPECT_EQ(slot.TimeStamp, 1240u);
  EXPECT_EQ(slot.ShortMessage, 0u);
  EXPECT_EQ(slot.LongHeader, &header);
}

TEST_F(CallbackTest, FullRingPostsOverflowCarryingTheDroppedBuffer) {
  MIDIHDR header{};
  Call(MIM_DATA, 1);
  Call(MIM_DATA, 2);
  Call(MIM_DATA, 3);                                               // short: dropped
  Call(MIM_LONGERROR, reinterpret_cast<std::uintptr_t>(&header));  // long: dropped
  auto posted = Dispatch();
  ASSERT_EQ(posted.size(), 4u);
  EXPECT_EQ(posted[2].message, pnOverflow);
  EXPECT_EQ(posted[2].lParam, 0u);
  EXPECT_EQ(posted[3].message, pnOverflow);
  EXPECT_EQ(posted[3].lParam, reinterpret_cast<std::uintptr_t>(&header));
  EXPECT_EQ(ring_->Waiting.load(), 2);
}

TEST_F(CallbackTest, MessagesThatStoreNothing) {
  struct Case {
    const char* name;
    std::uint32_t message;
    bool sysexOnly;
    bool withRing;
  };
  const Case cases[] = {
      {"MIM_OPEN", MIM_OPEN, false, true},
      {"MIM_CLOSE", MIM_CLOSE, false, true},
      {"MIM_ERROR", MIM_ERROR, false, true},
      {"MOM_OPEN", MOM_OPEN, false, true},
      {"MOM_CLOSE", MOM_CLOSE, false, true},
      {"unknown message", 1234, false, true},
      {"MIM_DATA while SysexOnly", MIM_DATA, true, true},
      {"MIM_DATA without ring", MIM_DATA, false, false},
      {"MIM_LONGDATA without ring", MIM_LONGDATA, false, false},
  };
  MIDIHDR header{};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    record_->SysexOnly = c.sysexOnly ? 1 : 0;
    record_->Ring = c.withRing ? ring_.get() : nullptr;
    Call(c.message, reinterpret_cast<std::uintptr_t>(&header), 7);
    EXPECT_TRUE(Dispatch().empty());
    EXPECT_EQ(ring_->Waiting.load(), 0);
  }
}

TEST_F(CallbackTest, SysexOnlyStillStoresLongData) {
  record_->SysexOnly = 1;
  MIDIHDR header{};
  Call(MIM_LONGDATA, reinterpret_cast<std::uintptr_t>(&header));
  auto posted = Dispatch();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].message, pnEventStored);
  EXPECT_EQ(ring_->Waiting.load(), 1);
}

TEST_F(CallbackTest, OutputDonePassesTheHeaderOn) {
  record_->Ring = nullptr;  // an output port's record has no ring
  MIDIHDR header{};
  Call(MOM_DONE, reinterpret_cast<std::uintptr_t>(&header));
  auto posted = Dispatch();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].message, pnOutputDone);
  EXPECT_EQ(posted[0].wParam, 0u);
  EXPECT_EQ(posted[0].lParam, reinterpret_cast<std::uintptr_t>(&header));
}

}  // namespace
}  // namespace korvane
