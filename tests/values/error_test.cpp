#include "values/error.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fatal_capture.h"
#include "values/memory.h"

namespace {

const std::string kHeading = "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n";  // 运行时出错!
const std::string kCodeLabel = "\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA";       // 错误代码：
const std::string kMessageLabel = "\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA";    // 错误信息：
const std::string kIndexMessage =  // 数组成员引用下标超出定义范围
    "\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA\xB3\xAC\xB3\xF6\xB6\xA8\xD2\xE5\xB7\xB6\xCE\xA7";

TEST(FatalError, RuntimeErrorOneShowsTheCodeAndMessageThenEnds) {
  const FatalCapture f = CaptureFatal([] { RaiseRuntimeError(1); });
  ASSERT_TRUE(f.ended);
  EXPECT_EQ(f.text, kHeading + kCodeLabel + "1\r\n\r\n" + kMessageLabel + kIndexMessage + "\r\n");
  EXPECT_EQ(f.caption, "\xB4\xED\xCE\xF3");  // 错误
  EXPECT_EQ(f.style, 0x10u);                 // MB_OK | MB_ICONERROR
  EXPECT_EQ(f.exit_code, -1);
  // Events stop before the box, the end routine is cleared after it.
  EXPECT_EQ(f.steps, "SBCE");
}

TEST(FatalError, BoxTextLeavesOutTheLinesItHasNoContentFor) {
  const struct {
    const char* message;
    int32_t code;
    std::string text;
  } cases[] = {
      {"", 0, kHeading},
      {nullptr, 0, kHeading},
      {nullptr, 7, kHeading + kCodeLabel + "7\r\n\r\n"},
      {"x", 0, kHeading + kMessageLabel + "x\r\n"},
      {"m", -2147483647 - 1, kHeading + kCodeLabel + "-2147483648\r\n\r\n" + kMessageLabel + "m\r\n"},
      {"m", 11, kHeading + kCodeLabel + "11\r\n\r\n" + kMessageLabel + "m\r\n"},
  };
  for (const auto& c : cases) {
    const FatalCapture f = CaptureFatal([&] { ReportFatalError(c.message, c.code); });
    EXPECT_TRUE(f.ended);
    EXPECT_EQ(f.text, c.text) << c.code;
    EXPECT_EQ(f.steps, "SBCE");
    char out[256];
    EXPECT_EQ(ComposeFatalErrorText(c.message, c.code, out, sizeof out), static_cast<int32_t>(c.text.size()));
    EXPECT_EQ(std::string(out), c.text);
  }
}

TEST(FatalError, ComposeCutsAtAWholeCharacter) {
  // The heading is 15 bytes; the message label is five double-byte
  // characters. With room for 15 + 2 bytes one character fits; with 15 + 3
  // still one, not one and a half.
  for (int32_t capacity : {18, 19}) {
    char out[19];
    std::memset(out, 'z', sizeof out);
    EXPECT_EQ(ComposeFatalErrorText("m", 0, out, capacity), 17);
    EXPECT_EQ(std::string(out), kHeading + "\xB4\xED");
  }
  char tiny[1];
  EXPECT_EQ(ComposeFatalErrorText("m", 1, tiny, 1), 0);
  EXPECT_EQ(tiny[0], '\0');
}

TEST(FatalError, RuntimeErrorTableHasElevenMessages) {
  EXPECT_EQ(std::string(RuntimeErrorText(1)), kIndexMessage);
  for (int32_t code = 2; code <= 11; ++code) {
    ASSERT_NE(RuntimeErrorText(code), nullptr) << code;
    EXPECT_GT(std::strlen(RuntimeErrorText(code)), 0u) << code;
    EXPECT_NE(std::string(RuntimeErrorText(code)), std::string(RuntimeErrorText(code - 1)));
  }
  EXPECT_EQ(RuntimeErrorText(0), nullptr);
  EXPECT_EQ(RuntimeErrorText(12), nullptr);
  EXPECT_EQ(RuntimeErrorText(-1), nullptr);
}

void* RefuseEverything(uint32_t) { return nullptr; }

TEST(FatalError, AllocationFailureReportsTheSizeWithoutACode) {
  const struct {
    uint32_t size;
    const char* shown;
  } cases[] = {{20, "20"}, {0, "0"}, {4294967280u, "-16"}, {2147483647u, "2147483647"}};
  for (const auto& c : cases) {
    SetBlockSource(RefuseEverything);
    const FatalCapture f = CaptureFatal([&] { AllocateBlock(c.size); });
    SetBlockSource(nullptr);
    ASSERT_TRUE(f.ended);
    // 错误信息：分配 N 字节内存失败!
    EXPECT_EQ(f.text, kHeading + kMessageLabel + "\xB7\xD6\xC5\xE4 " + c.shown +
                          " \xD7\xD6\xBD\xDA\xC4\xDA\xB4\xE6\xCA\xA7\xB0\xDC!\r\n");
    EXPECT_EQ(f.exit_code, -1);
  }
}

#if defined(_WIN32) && !defined(_WIN64)
// The 32-bit process heap really refuses a request this close to 4 GiB.
TEST(FatalError, TheRealHeapRefusesAnAbsurdSize) {
  const FatalCapture f = CaptureFatal([] { AllocateBlock(0xFFFFFFF0u); });
  ASSERT_TRUE(f.ended);
  EXPECT_NE(f.text.find(" -16 "), std::string::npos) << f.text;
}
#endif

TEST(FatalError, AMissingHookKeepsItsDefault) {
  // Only end_program given: the default box writes to stderr, and the other
  // defaults do nothing; the path still reaches the end.
  static bool reached = false;
  struct Stop {};
  SetFatalErrorHooks({nullptr, nullptr, nullptr, [](int32_t code) {
                        reached = code == -1;
                        throw Stop{};
                      }});
  testing::internal::CaptureStderr();
  try {
    ReportFatalError("q", 3);
  } catch (const Stop&) {
  }
  const std::string err = testing::internal::GetCapturedStderr();
  ResetFatalErrorHooks();
  EXPECT_TRUE(reached);
  EXPECT_EQ(err, kHeading + kCodeLabel + "3\r\n\r\n" + kMessageLabel + "q\r\n");
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
TEST(FatalErrorDeathTest, WithoutHooksTheProcessEndsWithMinusOne) {
  ResetFatalErrorHooks();
  EXPECT_EXIT(RaiseRuntimeError(1), testing::ExitedWithCode(255), "");
}

TEST(FatalErrorDeathTest, AnEndProgramThatReturnsAborts) {
  SetFatalErrorHooks({nullptr, [](const char*, const char*, uint32_t) {}, nullptr, [](int32_t) {}});
  EXPECT_DEATH(ReportFatalError("x", 0), "");
  ResetFatalErrorHooks();
}
#endif

}  // namespace
