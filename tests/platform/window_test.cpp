// Screen, window frames, plain windows and window classes of the platform
// layer (the Windows build runs these under a virtual display).
#include <gtest/gtest.h>

#include "platform/tqPlatform.h"

namespace {

constexpr uint32_t kPopup = 0x80000000u;
constexpr uint32_t kOverlappedWindow = 0x00CF0000u;
constexpr uint32_t kNoExStyle = 0xFFFFFFFFu;

TEST(Windows, ScreenHasASize) {
  EXPECT_GT(tqp::ScreenWidth(), 0);
  EXPECT_GT(tqp::ScreenHeight(), 0);
}

TEST(Windows, FramesGrowTheClientRectangle) {
  tqp::Rect popup{10, 20, 110, 220};
  ASSERT_TRUE(tqp::AdjustWindowRect(popup, kPopup, kNoExStyle, false));
  EXPECT_EQ(popup.left, 10);
  EXPECT_EQ(popup.top, 20);
  EXPECT_EQ(popup.right, 110);
  EXPECT_EQ(popup.bottom, 220);

  tqp::Rect framed{0, 0, 100, 200};
  ASSERT_TRUE(tqp::AdjustWindowRect(framed, kOverlappedWindow, 0, false));
  EXPECT_LT(framed.left, 0);
  EXPECT_LT(framed.top, framed.left);  // the caption is taller than the border
  EXPECT_GT(framed.right, 100);
  EXPECT_GT(framed.bottom, 200);
  EXPECT_EQ(framed.right - 100, -framed.left);  // symmetric sides

  tqp::Rect withMenu{0, 0, 100, 200};
  ASSERT_TRUE(tqp::AdjustWindowRect(withMenu, kOverlappedWindow, kNoExStyle, true));
  EXPECT_LT(withMenu.top, framed.top);
  EXPECT_EQ(withMenu.left, framed.left);
}

TEST(Windows, PlainWindowMovesWithItsSize) {
  EXPECT_FALSE(tqp::IsWindow(nullptr));
  tqp::WindowHandle w = tqp::CreatePlainWindow(30, 40, 200, 100);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(tqp::IsWindow(w));
  tqp::Rect r{};
  ASSERT_TRUE(tqp::GetWindowRect(w, r));
  EXPECT_EQ(r.left, 30);
  EXPECT_EQ(r.top, 40);
  EXPECT_EQ(r.right, 230);
  EXPECT_EQ(r.bottom, 140);
  ASSERT_TRUE(tqp::MoveWindowTo(w, 5, 6));
  ASSERT_TRUE(tqp::GetWindowRect(w, r));
  EXPECT_EQ(r.left, 5);
  EXPECT_EQ(r.top, 6);
  EXPECT_EQ(r.right, 205);
  EXPECT_EQ(r.bottom, 106);
  tqp::DestroyPlainWindow(w);
  EXPECT_FALSE(tqp::IsWindow(w));
  EXPECT_FALSE(tqp::GetWindowRect(w, r));
}

intptr_t TestProc(tqp::WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

TEST(Windows, ClassRegistration) {
  tqp::WindowClass cls;
  cls.className = "tqTestWindowClass";
  cls.proc = TestProc;
  uint16_t atom = tqp::RegisterWindowClass(cls);
  EXPECT_NE(atom, 0);
  EXPECT_EQ(tqp::RegisterWindowClass(cls), 0);  // the name is taken
  EXPECT_TRUE(tqp::UnregisterWindowClass(cls.className, nullptr));
  EXPECT_FALSE(tqp::UnregisterWindowClass(cls.className, nullptr));
  EXPECT_NE(tqp::RegisterWindowClass(cls), 0);
  EXPECT_TRUE(tqp::UnregisterWindowClass(cls.className, nullptr));

  tqp::WindowClass noProc;
  noProc.className = "tqTestNoProc";
  EXPECT_EQ(tqp::RegisterWindowClass(noProc), 0);
  tqp::WindowClass noName;
  noName.proc = TestProc;
  EXPECT_EQ(tqp::RegisterWindowClass(noName), 0);
}

}  // namespace
