// The dump commands of the main window, run from their menu items as a user
// would: Recv with its modal dialog, Save SYX and Open SYX, with file names
// handed in through the file-dialog hook.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "monitor/filedialog.h"
#include "monitor/messagepump.h"
#include "monitor/recievef.h"
#include "monitor/syxfile.h"
#include "window/window_fixture.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Sysex(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) & 0x7F);
  bytes.front() = 0xF0;
  bytes.back() = 0xF7;
  return bytes;
}

std::vector<std::uint8_t> FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Runs `act` on the modal window once it is up (polled, as the modal loop
// starts only after the call that shows it); gives up after three seconds.
void WhenModal(QTimer& poll, const std::function<void(QWidget&)>& act) {
  auto tries = std::make_shared<int>(0);
  QObject::connect(&poll, &QTimer::timeout, [&poll, act, tries] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) {
      if (++*tries > 300) {
        poll.stop();
        ADD_FAILURE() << "no modal window showed";
      }
      return;
    }
    poll.stop();
    act(*modal);
  });
  poll.start(10);
}

class DumpTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    folder = fs::path(folder_.path().toStdString());
    previousDialogHook_ = SetFileDialogHook([this](TFileDialog& dialog) {
      offered_.push_back(dialog.FileName);
      if (nextName_.empty()) return false;  // cancelled
      dialog.FileName = nextName_;
      return true;
    });
  }
  void TearDown() override {
    SetFileDialogHook(std::move(previousDialogHook_));
    RecieveForm = nullptr;
    dialog_.reset();
    WindowTest::TearDown();
  }

  TMonitorForm& StartWithDialog() {
    TMonitorForm& form = Start();
    dialog_ = std::make_unique<TRecieveForm>(&form);
    RecieveForm = dialog_.get();
    return form;
  }

  // Runs Recv; `whileOpen` runs inside the dialog's modal loop, which is
  // then closed with Done.
  void Receive(TMonitorForm& form, const std::function<void()>& whileOpen) {
    bool ran = false;
    QTimer poll;
    WhenModal(poll, [&](QWidget& modal) {
      EXPECT_EQ(&modal, RecieveForm);
      EXPECT_EQ(RecieveForm->StRecv->text(), "0");
      EXPECT_EQ(MonitorState.DumpCount, 0);
      EXPECT_EQ(form.StatusText(), " Waiting for Dump ... ");
      whileOpen();
      ran = true;
      RecieveForm->BDone->click();
    });
    form.Recv1->trigger();
    EXPECT_TRUE(ran);
    EXPECT_EQ(MonitorState.Receiving, 0);
  }

  void Save(TMonitorForm& form, const fs::path& name) {
    nextName_ = name.string();
    form.SaveSYX1->trigger();
  }
  void Open(TMonitorForm& form, const fs::path& name) {
    nextName_ = name.string();
    form.OpenSYX1->trigger();
  }
  void LoadBuffer(const std::vector<std::uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), MonitorState.DumpBuffer.begin());
    MonitorState.DumpCount = static_cast<std::int32_t>(bytes.size());
  }

  fs::path folder;
  std::string nextName_;
  std::vector<std::string> offered_;
  FileDialogHook previousDialogHook_;
  std::unique_ptr<TRecieveForm> dialog_;
};

TEST_F(DumpTest, SaveIsRefusedWithoutADumpInTheBuffer) {
  TMonitorForm& form = StartWithDialog();
  QString caption, text;
  int buttons = 0;
  QTimer poll;
  WhenModal(poll, [&](QWidget& modal) {
    auto* box = qobject_cast<QMessageBox*>(&modal);
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    text = box->text();
    buttons = static_cast<int>(box->buttons().size());
    box->buttons().front()->click();
  });
  Save(form, folder / "never");
  EXPECT_EQ(caption, "Information");
  EXPECT_EQ(text, "There is no valid Sysex-Message in the buffer");
  EXPECT_EQ(buttons, 1);
  EXPECT_TRUE(offered_.empty());  // no file dialog
  EXPECT_FALSE(fs::exists(folder / "never.syx"));
}

// Events reach the window through the dialog's own event loop, as they do
// in the program: a short message is forwarded but not captured, a quarter
// frame still moves the timecode, and a message split over several driver
// buffers is stored whole; then it is saved byte for byte.
TEST_F(DumpTest, AReceptionWhileTheDialogIsOpenIsSavedByteForByte) {
  TMonitorForm& form = StartWithDialog();
  TMessagePump pump;
  const std::vector<std::uint8_t> dump = Sysex(10000, 3);  // 4096 + 4096 + 1808
  const std::vector<std::uint8_t> identity = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  const QStringList linesBefore = MemoLines();

  Receive(form, [&] {
    driver_->FeedShort(0x403C90, 10);
    driver_->FeedShort(0x05F1, 11);  // quarter frame, piece 0, frames 5
    driver_->FeedSysex(dump, 12);
    driver_->FeedSysex(identity, 13);
    driver_->Sync();
    QElapsedTimer clock;
    clock.start();
    while (MonitorState.DumpCount < 10006 && clock.elapsed() < 5000)
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(RecieveForm->StRecv->text(), " 10006");
  });

  EXPECT_EQ(MonitorState.DumpCount, 10006);
  EXPECT_EQ(MemoLines(), linesBefore);  // nothing logged during a reception
  EXPECT_EQ(form.Ltc->text(), "00:00:00");
  EXPECT_EQ(driver_->SentShort(), std::vector<std::uint32_t>{0x403C90});
  EXPECT_EQ(driver_->SentLong().size(), 4u);  // three buffers and the identity reply

  Save(form, folder / "dump");
  std::vector<std::uint8_t> expected = dump;
  expected.insert(expected.end(), identity.begin(), identity.end());
  EXPECT_EQ(FileBytes(folder / "dump.syx"), expected);
  EXPECT_EQ(MonitorState.SysexFileName, (folder / "dump").string());
  EXPECT_EQ(form.StatusText(), "Bytes written: 10006");
  EXPECT_EQ(form.Lwritten->text(), "Bytes written: 10006");
  EXPECT_TRUE(reports_.empty());
}

TEST_F(DumpTest, AnEmptyReceptionAfterADumpSavesAnEmptyFile) {
  TMonitorForm& form = StartWithDialog();
  LoadBuffer(Sysex(20, 1));
  Receive(form, [] {});
  Save(form, folder / "empty.syx");
  EXPECT_TRUE(fs::exists(folder / "empty.syx"));
  EXPECT_EQ(fs::file_size(folder / "empty.syx"), 0u);
  EXPECT_EQ(form.StatusText(), "Bytes written: 0");
}

TEST_F(DumpTest, EscapeDoesNotEndAReception) {
  TMonitorForm& form = StartWithDialog();
  Receive(form, [] {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(RecieveForm->BDone, &escape);
    EXPECT_TRUE(RecieveForm->isVisible());
    EXPECT_EQ(MonitorState.Receiving, 1);
  });
}

TEST_F(DumpTest, FileNamesGetTheirExtensionOnce) {
  TMonitorForm& form = StartWithDialog();
  LoadBuffer({0xF0, 0x01, 0xF7});
  fs::create_directories(folder / "my.folder");
  struct Case {
    fs::path name;
    fs::path file;
  };
  const Case cases[] = {
      {folder / "A.SYX", folder / "A.SYX"},
      {folder / "plain", folder / "plain.syx"},
      {folder / "b.syx.bak", folder / "b.syx.bak.syx"},
      {folder / "dot.", folder / "dot..syx"},
      {folder / "my.folder" / "c", folder / "my.folder" / "c.syx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.string());
    Save(form, c.name);
    EXPECT_TRUE(fs::exists(c.file));
    EXPECT_EQ(MonitorState.SysexFileName, c.name.string());
    // The next dialog offers the name as it was chosen.
    nextName_.clear();
    form.SaveSYX1->trigger();
    EXPECT_EQ(offered_.back(), c.name.string());
  }
}

TEST_F(DumpTest, OpenThenSaveWritesTheLoadedDump) {
  TMonitorForm& form = StartWithDialog();
  const std::vector<std::uint8_t> bytes = Sysex(3000, 9);
  WriteFile(folder / "in.syx", bytes);
  Open(form, folder / "in");
  EXPECT_EQ(form.StatusText(), "Bytes read into buffer: 3000");
  EXPECT_EQ(form.Lwritten->text(), "Bytes read: 3000");
  EXPECT_EQ(MonitorState.DumpCount, 3000);
  Save(form, folder / "out");
  EXPECT_EQ(FileBytes(folder / "out.syx"), bytes);
}

TEST_F(DumpTest, OpenSizes) {
  TMonitorForm& form = StartWithDialog();
  LoadBuffer({0xF0, 0x55, 0xF7});

  // An empty file loads nothing and leaves the buffer alone.
  WriteFile(folder / "empty.syx", {});
  Open(form, folder / "empty.syx");
  EXPECT_EQ(form.StatusText(), "Bytes read into buffer: 0");
  EXPECT_EQ(MonitorState.DumpBuffer[1], 0x55);
  EXPECT_EQ(MonitorState.DumpCount, 0);

  // Exactly as much as the buffer holds.
  const std::vector<std::uint8_t> full = Sysex(kDumpBufferSize, 4);
  WriteFile(folder / "full.syx", full);
  QElapsedTimer clock;
  clock.start();
  Open(form, folder / "full.syx");
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_EQ(form.StatusText(), "Bytes read into buffer: 500001");
  EXPECT_EQ(MonitorState.DumpCount, kDumpBufferSize);
  EXPECT_TRUE(std::equal(full.begin(), full.end(), MonitorState.DumpBuffer.begin()));

  // One byte more is refused before anything is stored.
  WriteFile(folder / "big.syx", Sysex(kDumpBufferSize + 1, 5));
  Open(form, folder / "big.syx");
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_NE(reports_[0].find("500001"), std::string::npos) << reports_[0];
  EXPECT_EQ(form.StatusText(), " File size: 500002");
  EXPECT_EQ(MonitorState.DumpCount, kDumpBufferSize);
  EXPECT_TRUE(std::equal(full.begin(), full.end(), MonitorState.DumpBuffer.begin()));

  clock.restart();
  Save(form, folder / "again");
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_EQ(FileBytes(folder / "again.syx"), full);
}

// Root ignores permission bits; an immutable file refuses writing even to
// root, and is what shows that Open only reads.
TEST_F(DumpTest, AFileThatCannotBeWrittenStillOpens) {
  TMonitorForm& form = StartWithDialog();
  const fs::path path = folder / "locked.syx";
  WriteFile(path, {0xF0, 0x11, 0xF7});
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  int fd = ::open(path.c_str(), O_RDONLY);
  int flags = 0;
  bool immutable = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                   (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  if (fd >= 0) ::close(fd);
  Open(form, path);
  EXPECT_TRUE(reports_.empty()) << reports_.front();
  EXPECT_EQ(MonitorState.DumpCount, 3);
  EXPECT_EQ(MonitorState.DumpBuffer[1], 0x11);
  if (immutable) {
    fd = ::open(path.c_str(), O_RDONLY);
    flags &= ~FS_IMMUTABLE_FL;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
  }
}

TEST_F(DumpTest, FileErrorsAreReportedWithTheirTexts) {
  TMonitorForm& form = StartWithDialog();
  LoadBuffer({0xF0, 0x22, 0xF7});
  const QString statusBefore = form.StatusText();

  Open(form, folder / "missing");
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0], "File not found");
  EXPECT_EQ(form.StatusText(), statusBefore);  // a failed open changes no text
  EXPECT_EQ(MonitorState.SysexFileName, (folder / "missing").string());

  // A file system that is always full.
  fs::create_symlink("/dev/full", folder / "full.syx");
  Save(form, folder / "full");
  ASSERT_EQ(reports_.size(), 2u);
  EXPECT_EQ(reports_[1], "Disk full");
  EXPECT_EQ(form.StatusText(),
            QString::fromStdString("Writing File : " + (folder / "full").string()));

  // A cancelled dialog changes nothing.
  nextName_.clear();
  form.OpenSYX1->trigger();
  EXPECT_EQ(MonitorState.SysexFileName, (folder / "full").string());
}

}  // namespace
}  // namespace korvane
