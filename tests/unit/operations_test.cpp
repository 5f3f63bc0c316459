// What each operation does before, around and besides its transfers: the checks it begins with, the
// staging of the embedded image, the update's progress, marker, retries and read-back, the dump file,
// the image file, the presence check. The transfers themselves and their failures are swept in
// fault_sweep_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <set>

#include "link/isp.h"
#include "ops/files.h"
#include "support/rig.h"

namespace hnx::test {
namespace {

namespace fs = std::filesystem;

const ShownMessage kUpdated = Info("Auto Command Succeeded !!");
const ShownMessage kTimeOut{"Time Out !! Please check device and try again.", "", MessageIcon::Error};
const ShownMessage kNoChip = Warning("Please select the ic type!");
const ShownMessage kBadChip = Error("IC Type Error!!");
const ShownMessage kNoDevice = Plain("Can't find the device!");
const ShownMessage kOpenError = Plain("Open file error !!");
const ShownMessage kReadFailed = Error("Program file read Failed !!");
const ShownMessage kNoPath = Warning("Please open the program file!");
const std::vector<ShownMessage> kDumped = {Info("Read Command Succeeded !!"), Info("Download Completed !")};

using Operation = void (*)(OperationContext&);

// An operation run to its end: its messages, whether the guard ran, how often the library was loaded,
// the calls that reached the device after its last transfer (all of them when it made none); and it
// released everything.
struct Outcome {
  std::string name;
  Operation operation;
  const char* chip;
  std::function<void(OpsRig&)> setUp;
  std::vector<ShownMessage> messages;
  bool guarded;
  int loads;
  std::vector<Call> calls;
  std::function<void(const OpsRig&)> check{};
  std::size_t waits = 0;  // of one second each, before USB_Open_PIPE answers
};

// clang-format off
void NoDevice(OpsRig& rig) { rig.device.faults().openFailures = -1; }
void NoLibrary(OpsRig& rig) { rig.library.RefuseLoad(true); }
void Nothing(OpsRig&) {}
void ImageFile(OpsRig& rig) { rig.SelectImagePath(rig.MakeFile("image.bin", PatternImage(0x10000))); }
void ShortImageFile(OpsRig& rig) { rig.SelectImagePath(rig.MakeFile("image.bin", PatternImage(0xFFFF))); }
void MissingImageFile(OpsRig& rig) { rig.SelectImagePath(rig.temp->Path("missing.bin")); }
void FolderForImageFile(OpsRig& rig) { fs::create_directory(rig.temp->Path("image.bin")); rig.SelectImagePath(rig.temp->Path("image.bin")); }
void ChipChangedOnShow(OpsRig& rig) {
  rig.ui.onEvent = [&rig](const std::string& event) {
    if (event == "show") rig.ui.SetControlText(IDC_CHIP_TYPE, "ZB0000");
  };
}
void SaveDump(OpsRig& rig) { rig.ui.nextFileChoice = {true, rig.temp->Path("d.dmp")}; }
auto Lacking(std::vector<std::string> names) { return [=](OpsRig& rig) { for (auto& name : names) rig.library.Withhold(name); }; }
void StagingLeft(const OpsRig& rig) { EXPECT_TRUE(fs::exists(rig.context.staging.file)); EXPECT_TRUE(rig.ui.progressPositions.empty()); }
void StagingGone(const OpsRig& rig) { EXPECT_FALSE(fs::exists(rig.context.staging.folder)); }
void EmptyDump(const OpsRig& rig) { EXPECT_EQ(fs::file_size(rig.temp->Path("d.dmp")), 0u); }
void OnlyTheMessageAllClosed(const OpsRig& rig) {
  EXPECT_EQ(rig.ui.events.size(), 1u);
  EXPECT_EQ(rig.hubs.openHandles(), 0u);
}
// clang-format on

void Spoil(OpsRig& rig, std::function<void(const std::string&)> spoil) {
  rig.ui.onEvent = [&rig, spoil, spoiled = false](const std::string& event) mutable {
    if (event == "show" && !std::exchange(spoiled, true)) spoil(rig.context.staging.file);  // staged
  };
}
void Marker(OpsRig& rig, std::uint8_t marker) {
  rig.image.bytes[rig.device.flash().size() - 5] = marker;
}
void Stuck(OpsRig& rig, std::uint32_t at) {
  ImageFile(rig);
  rig.device.flash() = PatternImage(0x10000);
  rig.device.faults().stuckCells = {{at, 0x00}};
}
auto LastFrame(SentFrame frame) {
  return [=](const OpsRig& rig) { EXPECT_EQ(SentFrames(rig.device.trace()).back(), frame); };
}
void Unprotected(const OpsRig& rig) {
  EXPECT_FALSE(rig.device.readProtected());
}
void OnlyTheErase(const OpsRig& rig) {
  EXPECT_EQ(SentFrames(rig.device.trace()), (std::vector<SentFrame>{{OpMassErase, 0}}));
  StagingGone(rig);
}
void WriteLongFile(OpsRig& rig) {
  std::vector<std::uint8_t> file(20000, 0x05);
  std::fill_n(file.begin(), 0x4000, 0x01);
  file[0x4000 - 5] = 0x00;  // a protect marker, which Write ignores
  rig.SelectImagePath(rig.MakeFile("long.bin", file));
}

// A stop asked during transfer `n` lets that exchange end and sends nothing after it: the block
// boundary is the only place an operation stops.
auto StopDuring(std::size_t n) {
  return [n](OpsRig& rig) {
    ImageFile(rig), SaveDump(rig);
    const auto stop = std::make_shared<std::atomic<bool>>(false);
    rig.context.stop = stop.get();
    rig.device.SetTraceSink([stop, n, seen = std::size_t{0}](const TraceRecord& record) mutable {
      if (record.call == Call::BulkWrite || record.call == Call::BulkRead) *stop = *stop || ++seen == n;
    });
  };
}
auto StoppedAfter(std::size_t transfers) {
  return [transfers](const OpsRig& rig) {
    EXPECT_EQ(TransferCount(rig.device.trace()), transfers);
    EXPECT_FALSE(rig.device.exitedIsp());
    StagingGone(rig);
  };
}
// An update scans for the device once, whatever it counts, and lifts the guard after everything else
// is released.
void ScanAndCheckRelease(OpsRig& rig) {
  rig.image.bytes.assign(0x10000, 0x00);
  rig.image.bytes[7] = 0x5A;
  rig.image.bytes[70] = 0xF0;
  rig.hubs.AddController(0).AddDevice();
  rig.ui.onEvent = [&rig](const std::string& event) {
    if (event != "enable 1005 1") return;
    EXPECT_FALSE(rig.device.pipeOpen());
    EXPECT_FALSE(fs::exists(rig.context.staging.folder));
    EXPECT_FALSE(rig.library.loaded());
  };
}
void ScannedOnceAndShowsTheStagedImage(const OpsRig& rig) {
  EXPECT_EQ(std::count(rig.hubs.openAttempts().begin(), rig.hubs.openAttempts().end(), "\\\\.\\HCD0"), 1);
  EXPECT_EQ(rig.ui.ControlText(IDC_CHECKSUM), "014AH");
  EXPECT_EQ(rig.ui.ControlText(IDC_IMAGE_PATH), rig.context.staging.file);
}

TEST(Operations, EndWithTheirMessageAndReleaseEverything) {
  const std::vector<Call> open = {Call::OpenPipe}, openClose = {Call::OpenPipe, Call::ClosePipe};
  const std::vector<Call> closed = {Call::ClosePipe};
  const ShownMessage kVerifyFailed = Error("Verify Failure !!"), kInterrupted = Warning("Interrupted");
  constexpr std::size_t kErase = 2, kBlock = 3, kBlocks = 1024;  // transfers
  // clang-format off
  std::vector<Outcome> cases = {
      {"update, no chip type", &RunUpdate, "", Nothing, {kNoChip}, false, 0, {}, StagingLeft},
      {"update, no library", &RunUpdate, "ZB29K702", NoLibrary, {kTimeOut}, true, 0, {}, StagingGone},
      {"update, no device after 31 tries", &RunUpdate, "ZB29K702", NoDevice, {kTimeOut}, true, 1,
         std::vector<Call>(31, Call::OpenPipe), StagingGone, 31},
      {"update, opened at the 31st try", &RunUpdate, "ZB29K702",
         [](OpsRig& rig) { rig.device.faults().openFailures = 30; }, {kUpdated}, true, 1, closed, {}, 30},
      {"update, scanned once", &RunUpdate, "ZB29K702", ScanAndCheckRelease, {kUpdated}, true, 1, closed,
         ScannedOnceAndShowsTheStagedImage},
      {"update, chip type changed after staging", &RunUpdate, "ZB29K702", ChipChangedOnShow, {kBadChip}, false,
         0, {}, StagingGone},
      {"update, lacking all, named in resolution order", &RunUpdate, "ZB29K702",
         Lacking({"USB_BulkRead", "USB_Open_PIPE", "USB_BulkWrite", "USB_Close_PIPE"}),
         {AppMessage("Can't load function USB_Open_PIPE!"), AppMessage("Can't load function USB_Close_PIPE!"),
          AppMessage("Can't load function USB_BulkWrite!"), AppMessage("Can't load function USB_BulkRead!"),
          kTimeOut}, true, 1, {}, StagingGone},
      {"update, no close", &RunUpdate, "ZB4420", Lacking({"USB_Close_PIPE"}),
         {AppMessage("Can't load function USB_Close_PIPE!"), kUpdated}, true, 1, {}, StagingGone},
      {"update, no write", &RunUpdate, "ZB29K702", Lacking({"USB_BulkWrite"}),
         {AppMessage("Can't load function USB_BulkWrite!"), Error("Write Failure !!")}, true, 1, openClose},
      {"update, no read", &RunUpdate, "ZB29K702", Lacking({"USB_BulkRead"}),
         {AppMessage("Can't load function USB_BulkRead!"), Error("Read Failure !!")}, true, 1, closed,
         [](const OpsRig& rig) { EXPECT_EQ(TransferCount(rig.device.trace()), 1u); }},
      {"erase, no chip type", &MassEraseWithBlankCheck, "", Nothing, {kNoChip}, false, 0, {}},
      {"erase, unknown chip", &MassEraseWithBlankCheck, "zb29k702", Nothing, {kBadChip}, false, 0, {}},
      {"erase, no device", &MassEraseWithBlankCheck, "ZB29K702", NoDevice, {kNoDevice}, true, 1, open},
      {"erase, no library", &MassEraseWithBlankCheck, "ZB29K702", NoLibrary, {kNoDevice}, true, 0, {}},
      {"write, file missing", &WriteImageFile, "ZB29K702", MissingImageFile, {kOpenError}, true, 0, {}},
      {"write, folder for a file", &WriteImageFile, "ZB29K702",
         FolderForImageFile, {kOpenError}, true, 0, {}},
      {"write, short file", &WriteImageFile, "ZB29K702", ShortImageFile, {kReadFailed}, true, 1, openClose},
      {"write, no device", &WriteImageFile, "ZB29K702", [](OpsRig& rig) { ImageFile(rig), NoDevice(rig); },
         {kNoDevice}, true, 1, open},
      {"verify, no device, file never opened", &VerifyImageFile, "ZB29K702",
         [](OpsRig& rig) { MissingImageFile(rig), NoDevice(rig); }, {kNoDevice}, true, 1, open},
      {"verify, file missing", &VerifyImageFile, "ZB29K702", MissingImageFile, {kOpenError}, true, 1,
         openClose},
      {"verify, short file", &VerifyImageFile, "ZB29K702", ShortImageFile, {kReadFailed}, true, 1, openClose},
      {"read, cancelled", &ReadToDumpFile, "ZB29K702", Nothing, {kOpenError}, true, 0, {}},
      {"read, empty path", &ReadToDumpFile, "ZB29K702",
         [](OpsRig& rig) { rig.ui.nextFileChoice = {true, ""}; }, {kOpenError}, true, 0, {}},
      {"read, no device", &ReadToDumpFile, "ZB29K702", [](OpsRig& rig) { SaveDump(rig), NoDevice(rig); },
         {kNoDevice}, true, 1, open, EmptyDump},
      {"read, no chip type", &ReadToDumpFile, "", SaveDump, {kNoChip}, true, 1, openClose, EmptyDump},
      {"read, unknown chip", &ReadToDumpFile, "ZB29K70", SaveDump, {kBadChip}, true, 1, openClose, EmptyDump},
      {"protect, no library", &ReadProtect, "", NoLibrary, {kNoDevice}, false, 0, {}},
      {"protect, no device", &ReadProtect, "", NoDevice, {kNoDevice}, false, 1, open},
      {"exit, no library", &ExitIsp, "", NoLibrary, {kNoDevice}, false, 0, {}},
      {"exit, no device", &ExitIsp, "", NoDevice, {kNoDevice}, false, 1, open},
      {"reconnect, nothing attached", &Reconnect, "", Nothing, {Error("Device not found !!")}, false, 0, {},
         OnlyTheMessageAllClosed},
      {"reconnect, another device", &Reconnect, "",
         [](OpsRig& rig) { rig.hubs.AddController(1).AddDevice(StringDescriptor(u"OTHER")); },
         {Error("Device not found !!")}, false, 0, {}, OnlyTheMessageAllClosed},
      {"reconnect, behind a hub", &Reconnect, "",
         [](OpsRig& rig) { rig.hubs.AddController(2).AddHub().AddDevice(); }, {Info("ZB44xx Found !")}, false, 0,
         {}, OnlyTheMessageAllClosed},
      // Only a marker of 0 in 32-byte blocks asks for read protection (the protected update's sweep).
      {"update, marker 0x37", &RunUpdate, "ZB4420", [](OpsRig& rig) { Marker(rig, 0x37); }, {kUpdated}, true, 1, closed,
         Unprotected},
      {"update, marker 0 in 64-byte blocks", &RunUpdate, "ZB29K702", [](OpsRig& rig) { Marker(rig, 0); },
         {kUpdated}, true, 1, closed, Unprotected},
      // A staging file that goes away, shrinks or changes after staging is refused before any block.
      {"update, staging removed", &RunUpdate, "ZB29K702",
         [](OpsRig& rig) { Spoil(rig, [](const std::string& file) { fs::remove(file); }); },
         {kOpenError}, true, 1, closed, OnlyTheErase},
      {"update, staging shrunk", &RunUpdate, "ZB29K702",
         [](OpsRig& rig) { Spoil(rig, [](const std::string& file) { fs::resize_file(file, 100); }); },
         {kReadFailed}, true, 1, closed, OnlyTheErase},
      {"update, staging changed", &RunUpdate, "ZB29K702", [](OpsRig& rig) {
           Spoil(rig, [](const std::string& file) {
             std::fstream(file, std::ios::in | std::ios::out | std::ios::binary).put('\xA5');
           });
         }, {kReadFailed}, true, 1, closed, OnlyTheErase},
      // The update and Verify compare the whole image, up to its last byte, after reading it all back;
      // the blank check stops at the first block that is not blank.
      {"update, last byte differs", &RunUpdate, "ZB29K702", [](OpsRig& rig) { Stuck(rig, 0xFFFF); },
         {kVerifyFailed}, true, 1, closed, LastFrame({OpReadBlock, 0xFFC0})},
      {"verify, last byte differs", &VerifyImageFile, "ZB29K702", [](OpsRig& rig) { Stuck(rig, 0xFFFF); },
         {kVerifyFailed}, true, 1, closed, LastFrame({OpReadBlock, 0xFFC0})},
      {"erase, not blank", &MassEraseWithBlankCheck, "ZB29K702", [](OpsRig& rig) { Stuck(rig, 0x1234); },
         {Error("Mass Erase Failure !!")}, true, 1, closed, LastFrame({OpReadBlock, 0x1200})},
      // Write programs the first image-size bytes of the file as they are and shows their checksum.
      {"write, longer file", &WriteImageFile, "ZB4420", WriteLongFile, {Info("Write Command Succeeded !")}, true, 1,
         closed, [](const OpsRig& rig) {
           EXPECT_EQ(rig.ui.ControlText(IDC_CHECKSUM), "3FFFH");
           const auto file = FileBytes(rig.state.m_strImagePath);
           EXPECT_EQ(rig.device.flash(), std::vector(file.begin(), file.begin() + 0x4000));
           Unprotected(rig);
         }},
      // Read asks for the dump file and writes each block once whatever the refusals.
      {"read", &ReadToDumpFile, "ZB29K702",
         [](OpsRig& rig) { SaveDump(rig), rig.device.faults().readRefusals = {{64, 2}}; }, kDumped, true, 1, closed,
         [](const OpsRig& rig) {
           EXPECT_EQ(FileBytes(rig.temp->Path("d.dmp")), rig.device.flash());
           EXPECT_EQ(rig.state.m_nReadResult, 0);
           ASSERT_EQ(rig.ui.fileDialogs.size(), 1u);
           const FileDialogOptions& options = rig.ui.fileDialogs.front();
           EXPECT_EQ(options.filter, "Dump Files (*.dmp)|*.dmp|All Files (*.*)|*.*||");
           EXPECT_EQ(options.defaultExtension, "*.dmp");
           EXPECT_EQ(options.initialName, "");
           EXPECT_EQ(options.flags, 6u);
         }},
#if defined(__linux__)
      // A dump that cannot be written stops the read and is never reported as done.
      {"read, dump not written", &ReadToDumpFile, "ZB29K702",
         [](OpsRig& rig) { rig.ui.nextFileChoice = {true, "/dev/full"}; },
         {Error("Dump file write Failed !!")}, true, 1, closed,
         [](const OpsRig& rig) {
           EXPECT_EQ(rig.state.m_nReadResult, 4);
           EXPECT_EQ(SentFrames(rig.device.trace()), (std::vector<SentFrame>{{OpReadBlock, 0}}));
         }},
#endif
      // A stop ends the run at the next block boundary.
      {"update, stopped before the first block", &RunUpdate, "ZB29K702", StopDuring(2), {kInterrupted}, true, 1,
         closed, StoppedAfter(kErase)},
      {"update, stopped programming", &RunUpdate, "ZB29K702", StopDuring(kErase + 5 * kBlock + 1),
         {kInterrupted}, true, 1, closed, StoppedAfter(kErase + 6 * kBlock)},
      {"update, stopped reading back", &RunUpdate, "ZB29K702", StopDuring(kErase + (kBlocks + 2) * kBlock + 2),
         {kInterrupted}, true, 1, closed, StoppedAfter(kErase + (kBlocks + 3) * kBlock)},
      {"update, stopped during the last block read", &RunUpdate, "ZB29K702",
         StopDuring(kErase + 2 * kBlocks * kBlock - 1), {kInterrupted}, true, 1, closed,
         StoppedAfter(kErase + 2 * kBlocks * kBlock)},
      {"write, stopped", &WriteImageFile, "ZB29K702", StopDuring(4 * kBlock + 2), {kInterrupted}, true, 1, closed,
         StoppedAfter(5 * kBlock)},
      {"verify, stopped", &VerifyImageFile, "ZB29K702", StopDuring(7 * kBlock + 3), {kInterrupted}, true, 1,
         closed, StoppedAfter(8 * kBlock)},
      {"erase, stopped in the blank check", &MassEraseWithBlankCheck, "ZB29K702", StopDuring(kErase + 3 * kBlock + 1),
         {kInterrupted}, true, 1, closed, StoppedAfter(kErase + 4 * kBlock)},
      {"read, stopped", &ReadToDumpFile, "ZB29K702", StopDuring(2 * kBlock + 1), {kInterrupted}, true, 1, closed,
         StoppedAfter(3 * kBlock)},
  };
  // clang-format on
  // Write and Verify check the chip type, then the path, then the catalogue, before the guard.
  const std::vector<std::tuple<const char*, bool, ShownMessage>> checks = {
      {"", false, kNoChip},         {"", true, kNoChip},        {"ZB9999", false, kNoPath},
      {"ZB29K702", false, kNoPath}, {"ZB9999", true, kBadChip}, {" ZB4420", true, kBadChip},
  };
  for (Operation operation : {&WriteImageFile, &VerifyImageFile}) {
    for (const auto& [chip, path, message] : checks)
      cases.push_back({std::string(operation == &WriteImageFile ? "write, " : "verify, ") + chip,
                       operation,
                       chip,
                       path ? ImageFile : Nothing,
                       {message},
                       false,
                       0,
                       {}});
  }
  for (const Outcome& c : cases) {
    SCOPED_TRACE(c.name);
    OpsRig rig(c.chip);
    c.setUp(rig);
    c.operation(rig.context);
    EXPECT_EQ(rig.ui.messages, c.messages);
    EXPECT_EQ(rig.ui.enableChanges, c.guarded ? GuardHistory() : std::vector<EnableChange>{});
    EXPECT_EQ(rig.library.loads(), c.loads);
    EXPECT_EQ(rig.sleeper.waits, std::vector<std::uint32_t>(c.waits, 1000));
    EXPECT_EQ(CallsAfterLastTransfer(rig.device.trace()), c.calls);
    EXPECT_FALSE(rig.library.loaded());
    EXPECT_EQ(sim::InProcessLibrary::CallsWhileUnloaded(), 0);
    if (c.check) c.check(rig);
  }
}

// The bar moves once per programmed block, and once more after the read-back by the blocks read,
// refused ones included; a refused block is asked for again, up to a thousand times.
TEST(Update, MovesTheBarPerBlockAndAsksAgainForARefusedBlockUpToAThousandTimes) {
  const std::vector<std::tuple<const char*, int, std::uint32_t>> cases = {
      {"ZB29K702", 1024, 2}, {"ZB3308", 512, 0}, {"ZB29K702", 1024, 999}, {"ZB29K702", 1024, 1000}};
  for (const auto& [chip, programSteps, refusals] : cases) {
    SCOPED_TRACE(testing::Message() << chip << " " << refusals);
    OpsRig rig(chip);
    rig.device.faults().readRefusals = {{0x140, refusals}};
    RunUpdate(rig.context);
    const auto frames = SentFrames(rig.device.trace());
    const auto asked = std::count(frames.begin(), frames.end(), SentFrame{OpReadBlock, 0x140});
    if (refusals < 1000) {
      std::vector<int> expected(programSteps + 1);
      std::iota(expected.begin(), expected.end(), 0);
      expected.push_back(static_cast<int>(2 * programSteps + refusals));
      EXPECT_EQ(rig.ui.messages, std::vector{kUpdated});
      EXPECT_EQ(asked, refusals + 1);
      EXPECT_EQ(rig.ui.progressPositions, expected);
      EXPECT_EQ(rig.state.m_nProgressStep, 2u * programSteps + refusals);
    } else {
      EXPECT_EQ(rig.ui.messages, std::vector{Error("Read Failure !!")});
      EXPECT_EQ(asked, 1000);
      EXPECT_EQ(frames.back(), (SentFrame{OpReadBlock, 0x140}));
    }
  }
}

// Staging writes the embedded image over an older, longer file, makes it the image path and shows the
// checksum of the chip's size; what fails after the image was written has it written as far as it could be.
TEST(Staging, WritesTheEmbeddedImageOrReportsWhatFailsAndLeavesTheControlsAsTheyWere) {
  const std::string notFound = "\xC3\xBB\xD3\xD0\xD5\xD2\xB5\xBD\xD7\xCA\xD4\xB4\x20";
  const std::string notLoaded = "\xBC\xD3\xD4\xD8\xD7\xCA\xD4\xB4\xCA\xA7\xB0\xDC\x20";
  const std::string notLocked = "\xB2\xBB\xC4\xDC\xBC\xD3\xD4\xD8\xC4\xDA\xB4\xE6\x20";
  struct Case {
    const char* name;
    const char* chip;
    std::function<void(OpsRig&)> spoil;
    std::vector<ShownMessage> messages;  // none: staged
    std::uintmax_t staged;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"staged", "ZB3308", [](OpsRig& rig) {
         std::fill_n(rig.image.bytes.begin(), 0x8000, 0xFF);
         std::fill(rig.image.bytes.begin() + 0x8000, rig.image.bytes.end(), 0x01);
         fs::create_directory(rig.context.staging.folder);
         rig.MakeFile("Program BinFile/b167h.bin", std::vector<std::uint8_t>(70000, 0x11));
       }, {}, 0x10000},
      {"not found", "ZB29K702", [](OpsRig& rig) { rig.image.missing = true; },
         {AppMessage(notFound), AppMessage(notLoaded), AppMessage(notLocked), kReadFailed}, 0},
      {"not loaded", "ZB29K702", [](OpsRig& rig) { rig.image.unloadable = true; },
         {AppMessage(notLoaded), AppMessage(notLocked), kReadFailed}, 0},
      {"not locked", "ZB29K702", [](OpsRig& rig) { rig.image.unlockable = true; },
         {AppMessage(notLocked), kReadFailed}, 0},
      {"short image", "ZB29K702", [](OpsRig& rig) { rig.image.bytes.resize(0xFFFF); }, {kReadFailed}, 0xFFFF},
      {"unknown chip", "ZB29K702 ", [](OpsRig&) {}, {kBadChip}, 0x10000},
      {"no staging file", "ZB29K702",
         [](OpsRig& rig) { rig.MakeFile("Program BinFile", std::vector<std::uint8_t>{1}); }, {kOpenError}, 1},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpsRig rig(c.chip);
    c.spoil(rig);
    const bool staged = StageImage(rig.context);
    EXPECT_EQ(staged, c.messages.empty());
    EXPECT_EQ(rig.ui.messages, c.messages);
    EXPECT_EQ(fs::file_size(fs::is_directory(rig.context.staging.folder) ? rig.context.staging.file
                                                                         : rig.context.staging.folder),
              c.staged);
    EXPECT_EQ(rig.ui.ControlText(IDC_IMAGE_PATH), staged ? rig.context.staging.file : "");
    EXPECT_EQ(rig.ui.ControlText(IDC_CHECKSUM), staged ? "8000H" : "");
    if (!staged) continue;
    EXPECT_EQ(FileBytes(rig.context.staging.file), rig.image.bytes);
    EXPECT_EQ(rig.state.m_nImageSize, 0x8000u);
    EXPECT_EQ(rig.state.m_nBlockLength, 64u);
  }
}

TEST(Staging, IsRemovedFileAndFolderButNothingElse) {
  OpsRig rig;
  const StagingPaths& staging = rig.context.staging;
  RemoveStaging(rig.context);            // nothing there: nothing happens
  fs::create_directory(staging.folder);  // a folder without the file still goes
  RemoveStaging(rig.context);
  EXPECT_FALSE(fs::exists(staging.folder));

  ASSERT_TRUE(StageImage(rig.context));
  const std::string keep = rig.MakeFile("Program BinFile/notes.txt", std::vector<std::uint8_t>{'k'});
  RemoveStaging(rig.context);
  EXPECT_FALSE(fs::exists(staging.file));
  EXPECT_EQ(FileBytes(keep), std::vector<std::uint8_t>{'k'});
}

#if !defined(_WIN32)  // Windows stages in the dialog's folder only
// Staging made per run never takes a name that exists: a file, a link to a file outside or a link to
// nothing is left as it was, never followed, truncated or written.
TEST(Staging, ANewFileTakesNoNameThatExists) {
  TempFolder temp;
  const std::string outside = temp.Path("outside.bin");
  std::ofstream(outside) << "keep";
  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> cases = {
      {"file", [](const std::string& name) { std::ofstream(name) << "old"; }},
      {"link to a file", [&](const std::string& name) { fs::create_symlink(outside, name); }},
      {"link to nothing", [&](const std::string& name) { fs::create_symlink(temp.Path("nothing"), name); }},
  };
  for (const auto& [what, make] : cases) {
    SCOPED_TRACE(what);
    const std::string name = temp.Path(std::string("taken ") + what);
    make(name);
    EXPECT_FALSE(hnx::ImageFile::CreateNew(name).isOpen());
  }
  EXPECT_EQ(FileBytes(outside), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(fs::exists(temp.Path("nothing")));
}

// Each update stages in a folder of its own, made new and closed to others, beside one that a
// prefix would name; the folder goes at the end, whatever the outcome, and nothing else is touched.
TEST(Staging, MadePerRunIsANewPrivateFolderForEveryRunAndGoesAfterIt) {
  OpsRig rig;
  const std::string prefix = rig.temp->Path("hnx-update-");
  rig.context.staging = {"", "", prefix};
  fs::create_directory(prefix);  // the prefix alone names no staging
  const std::string outside = rig.MakeFile("outside.bin", std::vector<std::uint8_t>{'k'});
  fs::create_symlink(outside, prefix + "/b167h.bin");
  std::set<std::string> folders;
  rig.ui.onEvent = [&](const std::string& event) {
    if (!event.starts_with("message ")) return;  // each run's outcome, shown while it holds the staging
    const StagingPaths& staging = rig.context.staging;
    folders.insert(staging.folder);
    EXPECT_EQ(staging.folder.rfind(prefix, 0), 0u);
    EXPECT_EQ(staging.folder.size(), prefix.size() + 6);
    EXPECT_EQ(fs::status(staging.folder).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(staging.file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(FileBytes(staging.file), rig.image.bytes);
  };
  RunUpdate(rig.context);
  rig.device.faults().openFailures = -1;
  RunUpdate(rig.context);
  rig.image.bytes.resize(0xFFFF);  // staging itself fails
  RunUpdate(rig.context);
  EXPECT_EQ(rig.ui.messages, (std::vector{kUpdated, kTimeOut, kReadFailed}));
  EXPECT_EQ(folders.size(), 3u);
  for (const std::string& folder : folders) EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(rig.context.staging.folder, "");
  EXPECT_EQ(FileBytes(outside), std::vector<std::uint8_t>{'k'});
  EXPECT_TRUE(fs::is_symlink(prefix + "/b167h.bin"));
}
#endif

// An image path and checksum shown before the file is chosen.
struct OpenFileCase {
  const char* name;
  const char* chip;
  std::vector<std::uint8_t> file;  // none: the dialog is cancelled
  std::vector<ShownMessage> messages;
  const char* checksum;
  bool refreshed;
};

TEST(OpenFile, TakesTheChosenPathAndShowsTheChecksumOfItsImage) {
  std::vector<std::uint8_t> half(0x10000, 0x01);
  std::fill_n(half.begin(), 0x8000, 0xFF);
  // clang-format off
  const std::vector<OpenFileCase> cases = {
      {"ZB3308 image", "ZB3308", half, {}, "8000H", true},
      {"cancelled", "ZB29K702", {}, {kOpenError}, "1234H", true},
      {"short file", "ZB29K702", PatternImage(100), {kReadFailed}, "1234H", true},
      {"no chip type", "", half, {kNoChip}, "1234H", false},
      {"unknown chip", "ZB44", half, {kBadChip}, "1234H", false},
  };
  // clang-format on
  for (const OpenFileCase& c : cases) {
    SCOPED_TRACE(c.name);
    OpsRig rig(c.chip);
    rig.SelectImagePath("earlier.bin");
    rig.state.m_strChecksum = "1234H";
    rig.ui.SetControlText(IDC_CHECKSUM, "1234H");
    const std::string path = c.file.empty() ? "" : rig.MakeFile("chosen.bin", c.file);
    if (!c.file.empty()) rig.ui.nextFileChoice = {true, path};
    OpenImageFile(rig.context);

    EXPECT_EQ(rig.ui.messages, c.messages);
    EXPECT_EQ(rig.state.m_strImagePath, path);
    EXPECT_EQ(rig.ui.ControlText(IDC_IMAGE_PATH), c.refreshed ? path : "earlier.bin");
    EXPECT_EQ(rig.ui.ControlText(IDC_CHECKSUM), c.checksum);
    EXPECT_EQ(rig.library.loads(), 0);
    ASSERT_EQ(rig.ui.fileDialogs.size(), 1u);
    EXPECT_EQ(rig.ui.fileDialogs[0].filter, "Binary Files (*.bin)|*.bin|All Files (*.*)|*.*");
    EXPECT_EQ(rig.ui.fileDialogs[0].flags, 6u);
  }
}

#if defined(_WIN32)
TEST(Win32ImageResource, AProgramWithoutTheImageFailsEveryStep) {
  Win32ImageResource image;  // the test program carries no "bin" resource 133
  EXPECT_FALSE(image.Find());
  EXPECT_FALSE(image.Load());
  EXPECT_EQ(image.Lock(), nullptr);
  EXPECT_EQ(image.Size(), 0u);
}
#endif

}  // namespace
}  // namespace hnx::test
