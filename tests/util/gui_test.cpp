// The message loop: sent creation and destruction, posted messages in order,
// modal dialogs with their own loop, and the quit message last.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/tqGui.h"
#include "tests/support/tqTestSupport.h"

namespace {

std::vector<std::string>& Trace() {
  static std::vector<std::string> trace;
  return trace;
}

constexpr uint32_t kStep = tqp::WM_USER_ + 1;
constexpr uint32_t kOpenDialog = tqp::WM_USER_ + 2;
constexpr uint32_t kDialogStep = tqp::WM_USER_ + 3;
tqp::WindowHandle g_main = nullptr;

intptr_t DialogProc(tqp::WindowHandle dialog, uint32_t message, uintptr_t, intptr_t) {
  if (message == tqp::WM_INITDIALOG_) {
    Trace().push_back("init dialog");
    tqp::PostMessage(dialog, kDialogStep, 0, 0);
  } else if (message == kDialogStep) {
    Trace().push_back("dialog step");
    tqp::EndDialog(dialog, 7);
  }
  return 0;
}

intptr_t MainProc(tqp::WindowHandle w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case tqp::WM_CREATE_:
      Trace().push_back("create");
      tqp::PostMessage(w, kStep, 1, 0);
      tqp::PostMessage(w, kStep, 2, 0);
      break;
    case kStep:
      Trace().push_back("step " + std::to_string(wParam));
      if (wParam == 2) tqp::PostMessage(w, kOpenDialog, 0, 0);
      break;
    case kOpenDialog: {
      intptr_t result = tqp::DialogBox(tqp::ModuleInstance(), 1003, w, DialogProc);
      Trace().push_back("dialog ended " + std::to_string(result));
      tqp::DestroyWindow(w);
      break;
    }
    case tqp::WM_DESTROY_:
      Trace().push_back("destroy");
      tqp::PostQuitMessage(0);
      break;
  }
  return tqp::DefWindowProc(w, message, wParam, lParam);
}

TEST(MessageLoop, CreationPostedStepsDialogAndQuit) {
  tqp::WindowClass cls;
  cls.className = "TQ_TEST_LOOP";
  cls.proc = MainProc;
  cls.instance = tqp::ModuleInstance();
  ASSERT_NE(tqp::RegisterWindowClass(cls), 0);
  Trace().clear();
  g_main = tqp::CreateWindow(0, "TQ_TEST_LOOP", "loop", 0x80000000u /* popup, hidden */, 0, 0,
                             50, 40, nullptr, tqp::ModuleInstance());
  ASSERT_NE(g_main, nullptr);
  EXPECT_EQ(Trace(), std::vector<std::string>{"create"});
  tqp::Message m;
  int guard = 0;
  while (tqp::GetMessage(m) > 0 && ++guard < 1000) {
    tqp::TranslateMessage(m);
    tqp::DispatchMessage(m);
  }
  EXPECT_EQ(m.message, tqp::WM_QUIT_);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"create", "step 1", "step 2", "init dialog",
                                               "dialog step", "dialog ended 7", "destroy"}));
  EXPECT_FALSE(tqp::IsWindow(g_main));
  EXPECT_TRUE(tqp::UnregisterWindowClass("TQ_TEST_LOOP", tqp::ModuleInstance()));
}

// The object a procedure forwards to is in the user-data slot from the first
// message on: WM_CREATE of a window, WM_INITDIALOG of a dialog.
struct Seen {
  void* at = nullptr;  // the user data a procedure found, or none
};
struct Owner {
  void* seenAtCreate = nullptr;
  void* seenLater = nullptr;
  Seen dialog;
};

intptr_t OwnerDialogProc(tqp::WindowHandle dialog, uint32_t message, uintptr_t, intptr_t) {
  if (message == tqp::WM_INITDIALOG_) {
    auto* seen = static_cast<Seen*>(tqp::GetWindowUserData(dialog));
    if (seen) seen->at = seen;
    tqp::EndDialog(dialog, 1);
  }
  return 0;
}

intptr_t OwnerProc(tqp::WindowHandle w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  auto* owner = static_cast<Owner*>(tqp::GetWindowUserData(w));
  if (message == tqp::WM_CREATE_) {
    if (owner) owner->seenAtCreate = owner;
    tqp::PostMessage(w, kStep, 0, 0);
  } else if (message == kStep && owner) {
    owner->seenLater = owner;
    tqp::DialogBox(tqp::ModuleInstance(), 1003, w, OwnerDialogProc, &owner->dialog);
    tqp::DestroyWindow(w);
  } else if (message == tqp::WM_DESTROY_) {
    tqp::PostQuitMessage(0);
  }
  return tqp::DefWindowProc(w, message, wParam, lParam);
}

TEST(MessageLoop, UserDataFromTheFirstMessageOn) {
  tqp::WindowClass cls;
  cls.className = "TQ_TEST_OWNER";
  cls.proc = OwnerProc;
  cls.instance = tqp::ModuleInstance();
  ASSERT_NE(tqp::RegisterWindowClass(cls), 0);
  Owner owner;
  tqp::WindowHandle w = tqp::CreateWindow(0, "TQ_TEST_OWNER", "owner", 0x80000000u, 0, 0, 50, 40, nullptr,
                                          tqp::ModuleInstance(), &owner);
  ASSERT_NE(w, nullptr);
  tqp::Message m;
  for (int guard = 0; tqp::GetMessage(m) > 0 && guard < 1000; ++guard) tqp::DispatchMessage(m);
  EXPECT_EQ(owner.seenAtCreate, &owner);
  EXPECT_EQ(owner.seenLater, &owner);
  EXPECT_EQ(owner.dialog.at, &owner.dialog);
  EXPECT_TRUE(tqp::UnregisterWindowClass("TQ_TEST_OWNER", tqp::ModuleInstance()));
}

}  // namespace
