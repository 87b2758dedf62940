// Test main and the shared test helpers.
#include "tests/support/tqTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"
#include "util/tqUtil.h"

namespace tqtest {

Recorder& Diagnostics() {
  static Recorder recorder;
  return recorder;
}

namespace {

class RecordingPresenter : public tqErrorPresenter {
 public:
  void Show(const char*, const char* text) override { Diagnostics().boxes.push_back(text); }
};

class RecordingSink : public tqLogSink {
 public:
  void Line(const char* text) override { Diagnostics().lines.push_back(text); }
};

class DiagnosticsListener : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo&) override {
    Diagnostics().Clear();
    SetErrorPresenter(&presenter_);
    AttachLogSink(new RecordingSink);
  }
  void OnTestEnd(const testing::TestInfo&) override { Diagnostics().Clear(); }

 private:
  RecordingPresenter presenter_;
};

int counter = 0;

}  // namespace

TempDir::TempDir() {
  char base[1024];
  tqp::GetTempPath(base, sizeof base);
  size_t n = strlen(base);
  if (n && base[n - 1] == '\\') base[--n] = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char name[1200];
    snprintf(name, sizeof name, "%s\\tqtest-%u-%u-%d", base, (unsigned)tqp::CurrentThreadId(),
             (unsigned)tqp::TickCount(), counter++);
    if (tqp::CreateDirectory(name)) {
      path_ = name;
      return;
    }
  }
  ADD_FAILURE() << "cannot create a temporary folder under " << base;
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

std::string TempDir::operator/(const std::string& relative) const { return path_ + "\\" + relative; }

void RemoveTree(const std::string& path) {
  uint32_t attributes = tqp::GetAttributesNoFollow(path.c_str());
  if (attributes == tqp::ATTR_INVALID) return;
  if (attributes & tqp::ATTR_REPARSE_POINT) {
    // The link goes, never what it names (a folder link is a folder on Windows).
    if (!tqp::RemoveDirectory(path.c_str())) tqp::DeleteFile(path.c_str());
    return;
  }
  if (!(attributes & tqp::ATTR_DIRECTORY)) {
    tqp::SetAttributes(path.c_str(), tqp::ATTR_NORMAL);
    tqp::DeleteFile(path.c_str());
    return;
  }
  std::vector<std::string> children;
  tqp::FindData data;
  tqp::FindHandle h = tqp::FindFirst((path + "\\*").c_str(), data);
  if (h) {
    do {
      if (strcmp(data.name, ".") && strcmp(data.name, "..")) children.push_back(path + "\\" + data.name);
    } while (tqp::FindNext(h, data));
    tqp::FindClose(h);
  }
  for (const auto& child : children) RemoveTree(child);
  tqp::SetAttributes(path.c_str(), tqp::ATTR_NORMAL);
  tqp::RemoveDirectory(path.c_str());
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  tqp::FileHandle h = tqp::FileOpen(path.c_str(), tqp::ACCESS_WRITE, 0, tqp::DISP_CREATE_ALWAYS,
                                    tqp::ATTR_NORMAL);
  if (h == tqp::INVALID_FILE) return false;
  uint32_t done = 0;
  bool ok = bytes.empty() || (tqp::FileWrite(h, bytes.data(), (uint32_t)bytes.size(), &done) &&
                              done == bytes.size());
  return tqp::FileClose(h) && ok;
}

bool ReadFile(const std::string& path, std::string& bytes) {
  tqp::FileHandle h = tqp::FileOpen(path.c_str(), tqp::ACCESS_READ, tqp::SHARE_READ,
                                    tqp::DISP_OPEN_EXISTING, 0);
  if (h == tqp::INVALID_FILE) return false;
  int64_t size = tqp::FileSize(h);
  bytes.assign(size > 0 ? (size_t)size : 0, '\0');
  uint32_t done = 0;
  bool ok = bytes.empty() || (tqp::FileRead(h, bytes.data(), (uint32_t)bytes.size(), &done) &&
                              done == bytes.size());
  tqp::FileClose(h);
  return ok;
}

std::string ReadFile(const std::string& path) {
  std::string bytes;
  ReadFile(path, bytes);
  return bytes;
}

std::string ProgramFolder() {
  char path[1024];
  if (!tqp::GetModuleFileName(path, sizeof path)) return {};
  char parent[1024];
  return tqParentFolderOf(path, parent) ? std::string(parent) : std::string();
}

}  // namespace tqtest

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // As in the programs: the library's buffers come from its private heap.
  CreatePrivateHeap(10485760);
  testing::UnitTest::GetInstance()->listeners().Append(new tqtest::DiagnosticsListener);
  return RUN_ALL_TESTS();
}
