// The copy engine on real files: the callback protocol, contents, times and
// attributes, folders, the replacement rule for program files, cancelling,
// reading modes and files past 4 GiB.
#include <cstdio>

#include "platform/tqSysInfo.h"
#include "tests/copy/tqCopyTestSupport.h"
#include "util/tqUtil.h"

using namespace tqcopytest;
using tqtest::ReadFile;
using tqtest::WriteFile;

namespace {

constexpr uint32_t MiB = 1048576;

TEST_F(CopyTest, EmptyQueueEndsAtOnceWithOneFinalCall) {
  tqFileCopy engine(3, 0);
  Recorder r;
  RunToEnd(engine, r);
  ASSERT_EQ(r.calls.size(), 1u);
  ExpectProtocol(r, false);
  EXPECT_EQ(r.Last().total_size, 0u);
  EXPECT_EQ(r.Last().total_done, 0u);
  EXPECT_TRUE(engine.DoneList().empty());
}

// Files of several sizes (empty, below a sector, several chunks) into folders
// that do not exist yet; read through the cache and unbuffered.
class CopyModes : public CopyTest, public testing::WithParamInterface<bool> {};

TEST_P(CopyModes, CopiesBytesTimesAndArchiveAttributeAndReportsProgress) {
  const bool unbuffered = GetParam();
  if (unbuffered) UseProbeCode(TQOS_WIN10);
  // Small files after large ones: the buffers go from job to job.
  const size_t sizes[] = {0, 1, 4095, 2 * MiB + 1, 5 * MiB + 333, 7, 3 * MiB + 5};
  tqFileCopy engine(3, unbuffered ? 0 : 1);
  EXPECT_EQ(engine.UnbufferedAllowed(), unbuffered);
  uint64_t total = 0;
  std::vector<std::string> sources, targets;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    std::string src = dir_ / ("src" + std::to_string(i) + ".bin");
    std::string dst = dir_ / ("out\\deep\\er\\file" + std::to_string(i) + ".bin");
    ASSERT_TRUE(WriteFile(src, Pattern(sizes[i], (unsigned)i)));
    // An old, distinct write time that the copy must carry over.
    ASSERT_TRUE(SetWriteTime(src, 130000000000000000ull + i * 10000000ull));
    total += sizes[i];
    sources.push_back(src);
    targets.push_back(dst);
    ASSERT_TRUE(engine.AddJob(src.c_str(), dst.c_str(), (int32_t)(100 + i)));
  }
  // Whatever the source's attributes are, the copy has the archive bit alone.
  ASSERT_TRUE(tqp::SetAttributes(sources[1].c_str(), tqp::ATTR_READONLY | tqp::ATTR_HIDDEN));

  Recorder r;
  RunToEnd(engine, r);
  ExpectProtocol(r, false);

  for (size_t i = 0; i < sources.size(); ++i) {
    uint64_t srcTime = 0, dstTime = 0;
    ASSERT_TRUE(WriteTime(sources[i], &srcTime));
    ASSERT_TRUE(WriteTime(targets[i], &dstTime)) << targets[i];
    EXPECT_EQ(dstTime, srcTime) << i;
    EXPECT_EQ(tqp::GetAttributes(targets[i].c_str()), (uint32_t)tqp::ATTR_ARCHIVE) << i;
    EXPECT_TRUE(ReadFile(targets[i]) == ReadFile(sources[i])) << "contents of file " << i;
  }

  ASSERT_EQ(engine.DoneList().size(), sources.size());
  for (size_t i = 0; i < targets.size(); ++i) EXPECT_STREQ(engine.DoneList()[i].path, targets[i].c_str());

  // Progress: per file, file_done grows to the file's size in chunks no larger
  // than a buffer; total_done grows to the sum; every call names its job.
  uint64_t lastTotal = 0;
  std::vector<uint64_t> reachedPerFile(sources.size(), 0);
  for (size_t k = 0; k + 1 < r.calls.size(); ++k) {
    const tqFileCopyStatus& c = r.calls[k];
    EXPECT_EQ(c.total_size, total);
    EXPECT_GT(c.total_done, lastTotal);
    lastTotal = c.total_done;
    int job = c.value - 100;
    ASSERT_GE(job, 0);
    ASSERT_LT(job, (int)sources.size());
    EXPECT_STREQ(c.source, sources[job].c_str());
    EXPECT_STREQ(c.destination, targets[job].c_str());
    EXPECT_EQ(c.file_size, sizes[job]);
    EXPECT_GT(c.file_done, reachedPerFile[job]);
    EXPECT_LE(c.file_done - reachedPerFile[job], (uint64_t)TQCOPY_BUFFERED_CAPACITY);
    reachedPerFile[job] = c.file_done;
  }
  for (size_t i = 0; i < std::size(sizes); ++i) EXPECT_EQ(reachedPerFile[i], sizes[i]) << i;
  EXPECT_EQ(r.Last().total_done, total);
  EXPECT_EQ(r.Last().total_size, total);
  // The empty file is complete without any transfer: no progress call names it.
  for (const auto& c : r.calls) {
    if (!c.finished) {
      EXPECT_NE(c.value, 100);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Reading, CopyModes, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) {
                           return p.param ? std::string("Unbuffered") : std::string("Buffered");
                         });

// The first chunk's size shows how the engine reads: a mebibyte plus one
// sector, rounded to sectors, when unbuffered; 2 MiB through the cache.
TEST_F(CopyTest, ReadingModeFollowsTheProbeCode) {
  const std::string src = dir_ / "big.bin";
  ASSERT_TRUE(WriteFile(src, Pattern(3 * MiB, 7)));
  char root[1024];
  ASSERT_TRUE(tqCopyVolumeRoot(src.c_str(), root, sizeof root));
  const uint32_t s = tqp::SectorSize(root);
  ASSERT_GT(s, 0u);
  const uint64_t unbufferedChunk = (uint64_t)s * ((s + MiB) / s);
  struct Case {
    int32_t code;  // -1: no probe
    int disable;
    uint64_t firstChunk;
  } cases[] = {
      {-1, 0, TQCOPY_BUFFERED_CAPACITY},
      {TQOS_WINNT, 0, TQCOPY_BUFFERED_CAPACITY},  // NT 5.2 and others: not modern
      {TQOS_WINNT4, 0, TQCOPY_BUFFERED_CAPACITY},
      {TQOS_WIN2000, 0, unbufferedChunk},
      {TQOS_WIN10, 0, unbufferedChunk},
      {TQOS_UNKNOWN, 0, unbufferedChunk},  // POSIX systems
      {TQOS_WIN10, 1, TQCOPY_BUFFERED_CAPACITY},
  };
  for (const Case& c : cases) {
    if (c.code >= 0) UseProbeCode(c.code);
    else g_tqCaps = nullptr;
    tqFileCopy engine(3, c.disable);
    const std::string dst = dir_ / ("out" + std::to_string(c.code) + "_" + std::to_string(c.disable));
    engine.AddJob(src.c_str(), dst.c_str(), 0);
    Recorder r;
    RunToEnd(engine, r);
    ExpectProtocol(r, false);
    ASSERT_GE(r.calls.size(), 2u);
    EXPECT_EQ(r.calls[0].file_done, c.firstChunk) << "code " << c.code << " disable " << c.disable;
    EXPECT_TRUE(ReadFile(dst) == ReadFile(src));
  }
}

TEST_F(CopyTest, SourceFolderJobCreatesTheFolderTree) {
  ASSERT_TRUE(tqp::CreateDirectory((dir_ / "srcdir").c_str()));
  const std::string dst = dir_ / "a\\b\\c";
  tqFileCopy engine(3, 1);
  engine.AddJob((dir_ / "srcdir").c_str(), dst.c_str(), 0);
  Recorder r;
  RunToEnd(engine, r);
  ExpectProtocol(r, false);
  EXPECT_EQ(tqExists(dst.c_str()), 2);
  ASSERT_EQ(engine.DoneList().size(), 1u);
  EXPECT_STREQ(engine.DoneList()[0].path, dst.c_str());
}

// The replacement rule for program files, by version resource.
TEST_F(CopyTest, NewerProgramFilesInTheDestinationAreKept) {
  const std::string v1 = ReadFile(FixturePath("v1000.dll"));
  const std::string v2 = ReadFile(FixturePath("v2000.dll"));
  const std::string v21 = ReadFile(FixturePath("v2001.dll"));
  ASSERT_FALSE(v1.empty()) << "PE test files missing beside the test program";
  ASSERT_NE(v1, v2);
  struct Case {
    const char* name;
    int32_t mode;
    const std::string* source;
    const std::string* destination;  // null: no destination file
    bool kept;
  } cases[] = {
      {"app.exe", 1, &v1, &v2, true},     // older source: the newer file stays
      {"LIB.DLL", 1, &v1, &v21, true},    // extension in any letter case
      {"Mixed.Exe", 1, &v2, &v21, true},  // the fourth number counts too
      {"same.dll", 1, &v2, &v2, false},   // equal versions are copied
      {"old.exe", 1, &v21, &v2, false},   // newer source replaces
      {"mode0.exe", 0, &v1, &v2, false},  // other modes always copy
      {"data.bin", 1, &v1, &v2, false},   // only exe and dll are compared
      {"new.dll", 1, &v1, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string src = dir_ / (std::string("src_") + c.name);
    const std::string dst = dir_ / (std::string("dst\\") + c.name);
    ASSERT_TRUE(WriteFile(src, *c.source));
    if (c.destination) {
      ASSERT_TRUE(tqCreateFolderTree(dst.c_str(), true));
      ASSERT_TRUE(WriteFile(dst, *c.destination));
    }
    // A second job after the rule's job must still run.
    const std::string after = dir_ / (std::string("after_") + c.name + ".txt");
    tqFileCopy engine(3, 1);
    engine.SetMode(c.mode);
    engine.AddJob(src.c_str(), dst.c_str(), 1);
    engine.AddJob(src.c_str(), after.c_str(), 2);
    Recorder r;
    RunToEnd(engine, r);
    ExpectProtocol(r, false);
    EXPECT_TRUE(ReadFile(dst) == (c.kept ? *c.destination : *c.source));
    EXPECT_TRUE(ReadFile(after) == *c.source);
    const uint64_t size = c.source->size();
    EXPECT_EQ(r.Last().total_done, 2 * size);
    if (c.kept) {
      // The skipped job is reported once with its size counted as done.
      const tqFileCopyStatus& skip = r.calls[0];
      EXPECT_EQ(skip.value, 1);
      EXPECT_EQ(skip.file_size, size);
      EXPECT_EQ(skip.file_done, 0u);
      EXPECT_EQ(skip.total_done, size);
      ASSERT_EQ(engine.DoneList().size(), 1u);
      EXPECT_STREQ(engine.DoneList()[0].path, after.c_str());
    } else {
      ASSERT_EQ(engine.DoneList().size(), 2u);
    }
  }
}

TEST_F(CopyTest, CancelFromProgressStopsBeforeTheNextChunk) {
  const std::string src = dir_ / "big.bin";
  const std::string next = dir_ / "next.bin";
  const std::string data = Pattern(5 * MiB, 3);
  ASSERT_TRUE(WriteFile(src, data));
  ASSERT_TRUE(WriteFile(next, "x"));
  ASSERT_TRUE(SetWriteTime(src, 131000000000000000ull));
  const std::string dst = dir_ / "out\\big.bin";
  tqFileCopy engine(3, 1);
  engine.AddJob(src.c_str(), dst.c_str(), 0);
  engine.AddJob(next.c_str(), (dir_ / "out\\next.bin").c_str(), 0);
  Recorder r;
  r.cancelAt = 0;
  RunToEnd(engine, r);
  ExpectProtocol(r, false);
  ASSERT_EQ(r.calls.size(), 2u);
  // The part written so far stays, with the source's times and the archive
  // attribute; the next job is not attempted.
  const std::string copied = ReadFile(dst);
  EXPECT_EQ(copied.size(), (size_t)TQCOPY_BUFFERED_CAPACITY);
  EXPECT_TRUE(copied == data.substr(0, copied.size()));
  uint64_t t = 0;
  ASSERT_TRUE(WriteTime(dst, &t));
  EXPECT_EQ(t, 131000000000000000ull);
  EXPECT_EQ(tqp::GetAttributes(dst.c_str()), (uint32_t)tqp::ATTR_ARCHIVE);
  EXPECT_FALSE(Exists(dir_ / "out\\next.bin"));
  ASSERT_EQ(engine.DoneList().size(), 1u);
}

TEST_F(CopyTest, CancelFromTheSkipReportEndsTheRun) {
  const std::string v1 = ReadFile(FixturePath("v1000.dll"));
  const std::string v2 = ReadFile(FixturePath("v2000.dll"));
  ASSERT_FALSE(v1.empty());
  const std::string src = dir_ / "s.dll", dst = dir_ / "d.dll";
  ASSERT_TRUE(WriteFile(src, v1));
  ASSERT_TRUE(WriteFile(dst, v2));
  tqFileCopy engine(3, 1);
  engine.SetMode(1);
  engine.AddJob(src.c_str(), dst.c_str(), 0);
  engine.AddJob(src.c_str(), (dir_ / "later.dll").c_str(), 0);
  Recorder r;
  r.cancelAt = 0;
  RunToEnd(engine, r);
  ExpectProtocol(r, false);
  EXPECT_EQ(r.calls.size(), 2u);
  EXPECT_FALSE(Exists(dir_ / "later.dll"));
  EXPECT_TRUE(ReadFile(dst) == v2);
}

// A waiting side wakes when a slot is handed over, not at the end of its
// 10 ms poll. A writer slowed by its chunk hook keeps the reader waiting for a
// free slot before every chunk; many small files keep the writer waiting for
// the first chunk of each. Polling alone would let nearly every such wait run
// to the end of its interval.
// How often this system lets a thread waiting 10 ms for an event time out
// although the event was set 3 ms into the wait (of 40 tries). Under heavy
// load or emulation wake-ups can be that late; the engine cannot do better.
int MissedWakeUps() {
  struct Probe {
    tqp::EventHandle go = tqp::CreateEvent(false, false);
    tqp::EventHandle ready = tqp::CreateEvent(false, false);
    int missed = 0;
  } p;
  tqp::ThreadHandle t = tqp::CreateThread(
      [](void* arg) -> uint32_t {
        Probe* p = static_cast<Probe*>(arg);
        for (int i = 0; i < 40; ++i) {
          tqp::SetEvent(p->ready);
          if (!tqp::WaitEvent(p->go, 10)) {
            ++p->missed;
            // Take the late signal too, so that both sides stay in step.
            tqp::WaitEvent(p->go, 2000);
          }
        }
        return 0;
      },
      &p, nullptr);
  for (int i = 0; i < 40; ++i) {
    if (!tqp::WaitEvent(p.ready, 2000)) break;
    tqp::Sleep(3);
    tqp::SetEvent(p.go);
  }
  tqp::WaitThread(t, tqp::INFINITE_WAIT);
  tqp::CloseThread(t);
  tqp::CloseEvent(p.go);
  tqp::CloseEvent(p.ready);
  return p.missed;
}

TEST_F(CopyTest, HandOverWakesTheWaitingSideAtOnce) {
  constexpr uint32_t chunks = 64;
  {
    tqFileCopy engine(3, 1);
    const std::string big = dir_ / "big";
    ASSERT_TRUE(WriteFile(big, Pattern(chunks * (size_t)TQCOPY_BUFFERED_CAPACITY, 1)));
    ASSERT_TRUE(engine.AddJob(big.c_str(), (dir_ / "d\\big").c_str(), 0));
    Recorder r;
    // Busy for 2 ms per chunk (a sleep would ask the system's timers, which
    // under emulation may fire together with the reader's poll).
    RunToEnd(engine, r, [](void*, void*, uint32_t, uint32_t, uint32_t, tqFileCopyStatus*) {
      int64_t frequency = 1, start = 0, now = 0;
      tqp::PerformanceFrequency(&frequency);
      tqp::PerformanceCounter(&start);
      do tqp::PerformanceCounter(&now);
      while (now - start < frequency / 500);
    });
    ExpectProtocol(r, false);
    const int missed = MissedWakeUps();
    printf("slow writer: %u of %u waits woke late (system: %d of 40 wake-ups missed)\n",
           engine.LateWakes(), chunks, missed);
    if (missed <= 2) {
      EXPECT_LT(engine.LateWakes(), chunks / 4);
    }
  }
  constexpr uint32_t files = 300;
  tqFileCopy engine(3, 1);
  for (uint32_t i = 0; i < files; ++i) {
    std::string src = dir_ / ("s" + std::to_string(i));
    ASSERT_TRUE(WriteFile(src, Pattern(100, i)));
    engine.AddJob(src.c_str(), (dir_ / ("d\\" + std::to_string(i))).c_str(), (int32_t)i);
  }
  Recorder r;
  const uint32_t start = tqp::TickCount();
  RunToEnd(engine, r);
  const uint32_t ms = tqp::TickCount() - start;
  ExpectProtocol(r, false);
  EXPECT_EQ(engine.DoneList().size(), (size_t)files);
  printf("small files: %u of %u waits woke late, %u ms\n", engine.LateWakes(), files, ms);
  if (MissedWakeUps() <= 2) {
    EXPECT_LT(engine.LateWakes(), files / 10);
  }
}

// Sizes and positions are 64-bit: a sparse 5 GiB file is copied whole, and
// bytes on both sides of the 4 GiB mark arrive where they belong.
TEST_F(CopyTest, FilesOfFiveGibibytesAreCopiedWhole) {
  tqtest::Watchdog longer(900);
  const uint64_t size = 5ull << 30;
  const std::string src = dir_ / "huge.bin", dst = dir_ / "copy\\huge.bin";
  const uint64_t marks[] = {0, (4ull << 30) - 3, (4ull << 30) + 4097, size - 8};  // one across the mark
  {
    tqp::FileHandle h = tqp::FileOpen(src.c_str(), tqp::ACCESS_WRITE, 0, tqp::DISP_CREATE_NEW, tqp::ATTR_NORMAL);
    ASSERT_NE(h, tqp::INVALID_FILE);
    ASSERT_EQ(tqp::FileSeek(h, (int64_t)size, 0), (int64_t)size);
    ASSERT_TRUE(tqp::FileSetEnd(h));
    for (uint64_t m : marks) {
      ASSERT_EQ(tqp::FileSeek(h, (int64_t)m, 0), (int64_t)m);
      char tag[8];
      memcpy(tag, &m, sizeof tag);
      uint32_t done = 0;
      ASSERT_TRUE(tqp::FileWrite(h, tag, sizeof tag, &done));
    }
    tqp::FileClose(h);
  }
  UseProbeCode(TQOS_WIN10);
  tqFileCopy engine(3, 0);
  engine.AddJob(src.c_str(), dst.c_str(), 0);
  Recorder r;
  RunToEnd(engine, r, nullptr, 880);
  ExpectProtocol(r, false);
  EXPECT_EQ(r.Last().total_size, size);
  EXPECT_EQ(r.Last().total_done, size);
  EXPECT_EQ(r.calls[r.calls.size() - 2].file_size, size);
  EXPECT_EQ(r.calls[r.calls.size() - 2].file_done, size);

  tqp::FileHandle h = tqp::FileOpen(dst.c_str(), tqp::ACCESS_READ, tqp::SHARE_READ, tqp::DISP_OPEN_EXISTING, 0);
  ASSERT_NE(h, tqp::INVALID_FILE);
  EXPECT_EQ(tqp::FileSize(h), (int64_t)size);
  for (uint64_t m : marks) {
    ASSERT_EQ(tqp::FileSeek(h, (int64_t)m, 0), (int64_t)m);
    uint64_t got = 0;
    uint32_t done = 0;
    ASSERT_TRUE(tqp::FileRead(h, &got, sizeof got, &done));
    EXPECT_EQ(got, m);
  }
  tqp::FileClose(h);
  tqp::DeleteFile(dst.c_str());
  tqp::DeleteFile(src.c_str());
}

TEST_F(CopyTest, ChunkHookSeesEveryChunkBeforeItIsWritten) {
  struct Seen {
    std::vector<uint64_t> done;
    std::vector<uint32_t> lengths;
    uint64_t sum = 0;
    bool buffersMatch = true;
    const std::string* data = nullptr;
  };
  static Seen seen;
  seen = Seen();
  const std::string data = Pattern(5 * MiB + 5, 11);
  seen.data = &data;
  const std::string src = dir_ / "h.bin", dst = dir_ / "h.out";
  ASSERT_TRUE(WriteFile(src, data));
  tqFileCopy engine(3, 1);
  engine.AddJob(src.c_str(), dst.c_str(), 0);
  Recorder r;
  RunToEnd(engine, r, [](void*, void* buffer, uint32_t lo, uint32_t hi, uint32_t length, tqFileCopyStatus* s) {
    uint64_t done = (uint64_t)hi << 32 | lo;
    seen.done.push_back(done);
    seen.lengths.push_back(length);
    if (memcmp(buffer, seen.data->data() + done, length) != 0) seen.buffersMatch = false;
    if (s->file_done != done) seen.buffersMatch = false;
  });
  ExpectProtocol(r, false);
  ASSERT_EQ(seen.done.size(), 3u);
  EXPECT_EQ(seen.done[0], 0u);
  EXPECT_EQ(seen.done[1], (uint64_t)TQCOPY_BUFFERED_CAPACITY);
  EXPECT_EQ(seen.lengths[2], (uint32_t)(data.size() - 2 * TQCOPY_BUFFERED_CAPACITY));
  EXPECT_TRUE(seen.buffersMatch);
}

TEST(CopyText, MessageIdentifiersAreRemoved) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"$1010-0171$フォルダ [%s] が作成出来ません", "フォルダ [%s] が作成出来ません"},
      {"$$rest", "rest"},
      {"$no second dollar", "$no second dollar"},
      {"plain $text$", "plain $text$"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_STREQ(tqStripMessageId(c.in), c.out) << c.in;
}

TEST(CopyText, VolumeRootOfAFullPath) {
  struct Case {
    const char* path;
    bool ok;
    const char* root;
  } cases[] = {
      {"C:\\Games\\data\\a.bin", true, "C:\\"},
      {"\\tmp\\a", true, "\\"},
      {"\\\\server\\share\\a", false, ""},  // network paths are read buffered
      {"noslash", false, ""},
  };
  for (const Case& c : cases) {
    char root[64] = "junk";
    EXPECT_EQ(tqCopyVolumeRoot(c.path, root, sizeof root), c.ok) << c.path;
    EXPECT_STREQ(root, c.root) << c.path;
  }
}

TEST_F(CopyTest, JobsWithPathsTooLongForTheRecordAreRefused) {
  tqFileCopy engine(3, 1);
  const std::string longPath(260, 'a');
  EXPECT_FALSE(engine.AddJob(longPath.c_str(), "b", 0));
  EXPECT_FALSE(engine.AddJob("a", longPath.c_str(), 0));
  EXPECT_TRUE(engine.AddJob(std::string(259, 'a').c_str(), "b", 0));
}

TEST(CopyLayout, StatusRecordKeepsItsFieldOrder) {
  EXPECT_EQ(offsetof(tqFileCopyStatus, destination), 260u);
  EXPECT_EQ(offsetof(tqFileCopyStatus, file_size), 520u);
  EXPECT_EQ(offsetof(tqFileCopyStatus, total_done), 544u);
  EXPECT_EQ(offsetof(tqFileCopyStatus, finished), 552u);
  EXPECT_EQ(offsetof(tqFileCopyStatus, value), 560u);
  EXPECT_EQ(offsetof(tqFileCopyStatus, error_text), 564u);
}

}  // namespace
