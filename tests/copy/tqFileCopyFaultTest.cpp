// Faults end a copy run at the current job: one error call with the message,
// one final call, files completed before intact, later jobs not attempted.
#include <cstdio>

#include "platform/tqProcess.h"
#include "tests/copy/tqCopyTestSupport.h"
#include "util/tqUtil.h"

using namespace tqcopytest;
using tqtest::ReadFile;
using tqtest::WriteFile;

namespace {

constexpr uint32_t MiB = 1048576;

// A run of three jobs whose middle one fails; returns the recorder.
struct ThreeJobs {
  std::string firstSrc, firstDst, middleSrc, middleDst, lastSrc, lastDst;
  std::string firstData = Pattern(2 * MiB + 17, 1);  // below the file-size limit of the child

  void Prepare(const tqtest::TempDir& dir, const std::string& middleSource, const std::string& middleTarget) {
    firstSrc = dir / "first.bin";
    firstDst = dir / "out\\first.bin";
    middleSrc = middleSource;
    middleDst = middleTarget;
    lastSrc = dir / "last.bin";
    lastDst = dir / "out\\last.bin";
    ASSERT_TRUE(WriteFile(firstSrc, firstData));
    ASSERT_TRUE(WriteFile(lastSrc, "last"));
  }
  void AddTo(tqFileCopy& engine) {
    engine.AddJob(firstSrc.c_str(), firstDst.c_str(), 1);
    engine.AddJob(middleSrc.c_str(), middleDst.c_str(), 2);
    engine.AddJob(lastSrc.c_str(), lastDst.c_str(), 3);
  }
  void ExpectStoppedAtMiddle(const Recorder& r, const tqFileCopy& engine) {
    ExpectProtocol(r, true);
    EXPECT_TRUE(ReadFile(firstDst) == firstData) << "a file completed before the fault changed";
    EXPECT_FALSE(Exists(lastDst)) << "a job after the fault ran";
    ASSERT_GE(engine.DoneList().size(), 1u);
    EXPECT_STREQ(engine.DoneList()[0].path, firstDst.c_str());
    for (const auto& c : r.calls) {
      if (c.error && !c.finished) {
        EXPECT_EQ(c.value, 2);
      }
    }
  }
};

std::string ErrorCallText(const Recorder& r) {
  for (const auto& c : r.calls)
    if (c.error && !c.finished) return c.error_text;
  return {};
}

std::string Format(const char* format, const std::string& argument) {
  char text[1024];
  snprintf(text, sizeof text, format, argument.c_str());
  return text;
}

TEST_F(CopyTest, SourceThatDisappearedGivesTheFileErrorNamingIt) {
  ThreeJobs jobs;
  const std::string gone = dir_ / "gone.bin";
  ASSERT_TRUE(WriteFile(gone, "soon gone"));
  jobs.Prepare(dir_, gone, dir_ / "out\\gone.bin");
  tqFileCopy engine(3, 1);
  jobs.AddTo(engine);
  ASSERT_TRUE(tqp::DeleteFile(gone.c_str()));
  Recorder r;
  RunToEnd(engine, r);
  jobs.ExpectStoppedAtMiddle(r, engine);
  EXPECT_EQ(ErrorCallText(r), Format("ファイル [%s] がオープン出来ません", gone));
  EXPECT_EQ(engine.DoneList().size(), 1u);
}

// A destination that cannot be written: a folder where the file must go, or a
// read-only file (which cannot be truncated).
TEST_F(CopyTest, DestinationThatCannotBeWrittenGivesTheFileErrorNamingTheSource) {
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant == 0 ? "folder in the way" : "read-only file");
    tqtest::TempDir dir;
    ThreeJobs jobs;
    const std::string src = dir / "middle.bin";
    const std::string dst = dir / "out\\middle.bin";
    ASSERT_TRUE(WriteFile(src, Pattern(1000, 9)));
    ASSERT_TRUE(tqCreateFolderTree(dst.c_str(), true));
    if (variant == 0) {
      ASSERT_TRUE(tqp::CreateDirectory(dst.c_str()));
    } else {
      ASSERT_TRUE(WriteFile(dst, "old contents"));
      ASSERT_TRUE(tqp::SetAttributes(dst.c_str(), tqp::ATTR_READONLY));
    }
    jobs.Prepare(dir, src, dst);
    tqFileCopy engine(3, 1);
    jobs.AddTo(engine);
    Recorder r;
    RunToEnd(engine, r);
    jobs.ExpectStoppedAtMiddle(r, engine);
    EXPECT_EQ(ErrorCallText(r), Format("ファイル [%s] がオープン出来ません", src));
    if (variant == 1) {
      EXPECT_EQ(ReadFile(dst), "old contents");
      tqp::SetAttributes(dst.c_str(), tqp::ATTR_NORMAL);
    }
  }
}

TEST_F(CopyTest, DestinationFolderThatCannotBeCreatedGivesTheFolderError) {
  ThreeJobs jobs;
  // A file stands where a folder of the destination's path must be.
  ASSERT_TRUE(WriteFile(dir_ / "blocker", "a file"));
  const std::string dst = dir_ / "blocker\\sub\\middle.bin";
  const std::string src = dir_ / "middle.bin";
  ASSERT_TRUE(WriteFile(src, "middle"));
  jobs.Prepare(dir_, src, dst);
  tqFileCopy engine(3, 1);
  jobs.AddTo(engine);
  Recorder r;
  RunToEnd(engine, r);
  jobs.ExpectStoppedAtMiddle(r, engine);
  EXPECT_EQ(ErrorCallText(r), Format("フォルダ [%s] が作成出来ません", dir_ / "blocker\\sub"));
}

TEST_F(CopyTest, FolderJobThatCannotBeCreatedGivesTheFolderErrorNamingItsParent) {
  ASSERT_TRUE(WriteFile(dir_ / "blocker", "a file"));
  ASSERT_TRUE(tqp::CreateDirectory((dir_ / "srcdir").c_str()));
  tqFileCopy engine(3, 1);
  engine.AddJob((dir_ / "srcdir").c_str(), (dir_ / "blocker\\x\\y").c_str(), 0);
  Recorder r;
  RunToEnd(engine, r);
  ExpectProtocol(r, true);
  EXPECT_EQ(ErrorCallText(r), Format("フォルダ [%s] が作成出来ません", dir_ / "blocker\\x"));
  EXPECT_TRUE(engine.DoneList().empty());
}

// A read that fails in the middle of a file. Where sharing is enforced (Windows)
// the source is held exclusively, so it cannot even be opened; elsewhere the
// source is cut short while it is being copied, so the reader meets its end
// before the size it was told.
TEST_F(CopyTest, UnreadableSourceEndsTheRunWithOneError) {
  ThreeJobs jobs;
  static std::string middle;
  middle = dir_ / "middle.bin";
  ASSERT_TRUE(WriteFile(middle, Pattern(12 * MiB, 5)));
  jobs.Prepare(dir_, middle, dir_ / "out\\middle.bin");
  tqp::FileHandle holder = tqp::FileOpen(middle.c_str(), tqp::ACCESS_READ, 0, tqp::DISP_OPEN_EXISTING, 0);
  ASSERT_NE(holder, tqp::INVALID_FILE);
  tqp::FileHandle second =
      tqp::FileOpen(middle.c_str(), tqp::ACCESS_READ, tqp::SHARE_READ, tqp::DISP_OPEN_EXISTING, 0);
  const bool sharingEnforced = second == tqp::INVALID_FILE;
  if (!sharingEnforced) {
    tqp::FileClose(second);
    tqp::FileClose(holder);
    holder = tqp::INVALID_FILE;
  }
  tqFileCopy engine(3, 1);
  jobs.AddTo(engine);
  Recorder r;
  RunToEnd(engine, r, sharingEnforced ? nullptr : +[](void*, void*, uint32_t, uint32_t, uint32_t, tqFileCopyStatus* s) {
    if (s->value != 2 || s->file_done != 0) return;
    tqp::FileHandle h = tqp::FileOpen(middle.c_str(), tqp::ACCESS_WRITE, 0, tqp::DISP_TRUNCATE_EXISTING, 0);
    if (h != tqp::INVALID_FILE) tqp::FileClose(h);
  });
  if (holder != tqp::INVALID_FILE) tqp::FileClose(holder);
  jobs.ExpectStoppedAtMiddle(r, engine);
  if (sharingEnforced) {
    EXPECT_EQ(ErrorCallText(r), Format("ファイル [%s] がオープン出来ません", middle));
  } else {
    EXPECT_EQ(ErrorCallText(r), tqp::ErrorText(tqp::ERR_HANDLE_EOF));
    // What was written before the read failed stays.
    EXPECT_LT(ReadFile(dir_ / "out\\middle.bin").size(), 12u * MiB);
  }
}

// A write that fails: the test program runs itself with a file-size limit,
// where writing past it fails (systems without such limits skip this).
constexpr const char* kChildDir = "TQCOPY_FSIZE_DIR";
constexpr uint32_t kLimit = 3 * MiB;
constexpr uint32_t kSkipped = 77;

TEST_F(CopyTest, WriteFailureEndsTheRunWithTheSystemMessage) {
  ThreeJobs jobs;
  ASSERT_TRUE(WriteFile(dir_ / "middle.bin", Pattern(8 * MiB, 4)));
  jobs.Prepare(dir_, dir_ / "middle.bin", dir_ / "out\\middle.bin");
  char program[1024];
  ASSERT_TRUE(tqp::GetModuleFileName(program, sizeof program));
  ASSERT_TRUE(tqp::SetEnvironment(kChildDir, dir_.Path().c_str()));
  tqp::ProcessHandle child = tqp::StartProcess(
      program, {"--gtest_also_run_disabled_tests", "--gtest_filter=CopyChild.DISABLED_WriteBeyondFileSizeLimit"});
  tqp::SetEnvironment(kChildDir, nullptr);
  ASSERT_NE(child, nullptr);
  uint32_t code = 0;
  const bool ended = tqp::WaitProcess(child, 180000, &code);
  if (!ended) tqp::KillProcess(child);
  tqp::CloseProcess(child);
  ASSERT_TRUE(ended);
  if (code == kSkipped) GTEST_SKIP() << "no file-size limit on this system";
  EXPECT_EQ(code, 0u) << "the child run failed (its output tells why)";
  EXPECT_TRUE(ReadFile(jobs.firstDst) == jobs.firstData);
  EXPECT_FALSE(Exists(jobs.lastDst));
  EXPECT_LE(ReadFile(jobs.middleDst).size(), (size_t)kLimit);
}

TEST(CopyChild, DISABLED_WriteBeyondFileSizeLimit) {
  std::string dir;
  ASSERT_TRUE(tqp::GetEnvironment(kChildDir, dir));
  CreatePrivateHeap(10485760);
  if (!tqp::LimitFileSize(kLimit)) std::_Exit((int)kSkipped);
  ThreeJobs jobs;
  jobs.firstSrc = dir + "\\first.bin";
  jobs.firstDst = dir + "\\out\\first.bin";
  jobs.middleSrc = dir + "\\middle.bin";
  jobs.middleDst = dir + "\\out\\middle.bin";
  jobs.lastSrc = dir + "\\last.bin";
  jobs.lastDst = dir + "\\out\\last.bin";
  tqFileCopy engine(3, 1);
  jobs.AddTo(engine);
  Recorder r;
  RunToEnd(engine, r);
  jobs.ExpectStoppedAtMiddle(r, engine);
  EXPECT_EQ(ErrorCallText(r), tqp::ErrorText(tqp::ERR_DISK_FULL));
}

}  // namespace
