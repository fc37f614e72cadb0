// The "Tag Format" text form of POSIX, driven as a user would drive it.
//
// The form runs in a child process whose controlling terminal is a
// fresh pseudo-terminal; the test reads the prompts and types the answers.
#include <gtest/gtest.h>

#if defined(__linux__)

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "addressing/browse_form.h"
#include "driver/host_records.h"
#include "platform/dialog.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"

namespace toldex {
namespace {

// Generous limits that only keep a broken form from hanging the test.
constexpr int kPromptLimitMs = 20000;
constexpr int kResultLimitMs = 20000;
constexpr char kUntouched[] = "untouched";
constexpr char kEndOfInput = '\x04';  // Ctrl-D at the start of a line
constexpr char kEscapeKey = '\x1b';

// A child process that runs `body` with a pseudo-terminal as its controlling
// terminal (and standard streams); what `body` returns comes back as the result.
class TerminalChild {
 public:
  explicit TerminalChild(const std::function<std::string()>& body) {
    int results[2];
    if (pipe(results) != 0) return;
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 120;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      close(results[0]);
      const std::string result = body();
      const ssize_t written = write(results[1], result.data(), result.size());
      _exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
    }
    close(results[1]);
    results_ = results[0];
  }

  ~TerminalChild() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
    if (results_ >= 0) close(results_);
  }

  bool started() const { return pid_ > 0 && master_ >= 0; }

  // Waits for `text` to appear after everything already waited for.
  ::testing::AssertionResult WaitFor(const std::string& text) {
    for (;;) {
      const std::size_t found = screen_.find(text, consumed_);
      if (found != std::string::npos) {
        consumed_ = found + text.size();
        return ::testing::AssertionSuccess();
      }
      if (!ReadScreen(kPromptLimitMs)) {
        return ::testing::AssertionFailure()
               << "never saw \"" << text << "\"; the terminal shows:\n" << screen_;
      }
    }
  }

  // Types a line and Enter.
  void Type(const std::string& line) { Send(line + "\r"); }
  void Send(const std::string& keys) {
    const ssize_t written = write(master_, keys.data(), keys.size());
    EXPECT_EQ(written, static_cast<ssize_t>(keys.size()));
  }

  // What the body returned, once the child has ended.
  std::string Result() {
    std::string result;
    char chunk[256];
    for (;;) {
      pollfd wait{results_, POLLIN, 0};
      if (poll(&wait, 1, kResultLimitMs) <= 0) {
        ADD_FAILURE() << "no result; the terminal shows:\n" << screen_;
        return result;
      }
      const ssize_t got = read(results_, chunk, sizeof chunk);
      if (got <= 0) break;
      result.append(chunk, static_cast<std::size_t>(got));
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return result;
  }

  const std::string& screen() const { return screen_; }

 private:
  bool ReadScreen(int limitMs) {
    pollfd wait{master_, POLLIN, 0};
    if (poll(&wait, 1, limitMs) <= 0) return false;
    char chunk[512];
    const ssize_t got = read(master_, chunk, sizeof chunk);
    if (got <= 0) return false;  // EIO once the child has gone
    screen_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int master_ = -1;
  int results_ = -1;
  bool reaped_ = false;
  std::string screen_;
  std::size_t consumed_ = 0;
};

// Operation 16 through the entry point; reports "<status> <buffer>".
std::string BrowseThroughVpiMain() {
  testing::InstanceBlock instance;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%s", kUntouched);
  BrowseParams params{buffer, nullptr};
  const int32_t status = instance.Call(kOpBrowseAddress, &params);
  return std::to_string(status) + " " + buffer;
}

// The form alone with the rules of a base; reports the composed address or
// how the form ended.
std::string FormWithBase(char base) {
  platform::TagFormFields fields{};
  const platform::FormResult result =
      platform::ShowTagFormatForm(browse::TagFormatRules(base), nullptr, fields);
  if (result == platform::FormResult::kCancelled) return "cancelled";
  if (result == platform::FormResult::kUnavailable) return "unavailable";
  char address[browse::kComposedAddressSize];
  browse::ComposeAddress(base, fields, address);
  return address;
}

const char kPlcPromptDecimal[] = "PLC number (2 decimal digits; + or - steps it) [";
const char kMemoryTypePrompt[] = "Memory type [";
const char kAddressPromptDecimal[] = "Address (4 decimal digits) [";
const char kBitPrompt[] = "Bit number (None 0 1 2 3 4 5 6 7 8 9 A B C D E F) [";
const char kConfirmPrompt[] = "OK or Cancel (O/C) [O]: ";

class TextForm : public ::testing::Test {
 protected:
  testing::TempWorkDir folder_;  // no initialisation file: base 'D'
};

TEST_F(TextForm, OkWritesTheComposedAddress) {
  TerminalChild child(BrowseThroughVpiMain);
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.WaitFor("Tag Format"));
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "01]: "));
  child.Type("++++");
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "05]: "));
  child.Type("");
  ASSERT_TRUE(child.WaitFor("Memory types:"));
  for (const char* choice : browse::kMemoryTypeChoices) ASSERT_TRUE(child.WaitFor(choice));
  ASSERT_TRUE(child.WaitFor(std::string(kMemoryTypePrompt) + "none]: "));
  child.Type("4");
  ASSERT_TRUE(child.WaitFor(std::string(kAddressPromptDecimal) + "]: "));
  child.Type("0100");
  ASSERT_TRUE(child.WaitFor(std::string(kBitPrompt) + "None]: "));
  child.Type("a");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  EXPECT_EQ(child.Result(), "0 0540100A");
}

TEST_F(TextForm, BitNoneLeavesTheBitOut) {
  TerminalChild child(BrowseThroughVpiMain);
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.WaitFor(kPlcPromptDecimal));
  child.Type("05");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("4:");
  ASSERT_TRUE(child.WaitFor(kAddressPromptDecimal));
  child.Type(" 0100 ");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("none");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("ok");
  EXPECT_EQ(child.Result(), "0 0540100");
}

TEST_F(TextForm, SpinStopsAtTheEndsOfTheRange) {
  TerminalChild child(BrowseThroughVpiMain);
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "01]: "));
  child.Type("-");
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "01]: "));
  child.Type("98");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kAddressPromptDecimal));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor("Error: missing value!"));
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "98]: "));
  child.Type("+");
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "99]: "));
  child.Type("+");
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "99]: "));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("0");
  ASSERT_TRUE(child.WaitFor(kAddressPromptDecimal));
  child.Type("0001");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("o");
  EXPECT_EQ(child.Result(), "0 9900001");
}

TEST_F(TextForm, CancelEscapeAndEndOfInputWriteNothing) {
  {
    TerminalChild child(BrowseThroughVpiMain);
    ASSERT_TRUE(child.WaitFor(kPlcPromptDecimal));
    child.Type("05");
    ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
    child.Type("4");
    ASSERT_TRUE(child.WaitFor(kAddressPromptDecimal));
    child.Type("0100");
    ASSERT_TRUE(child.WaitFor(kBitPrompt));
    child.Type("");
    ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
    child.Type("c");
    EXPECT_EQ(child.Result(), "53 untouched");
  }
  {
    TerminalChild child(BrowseThroughVpiMain);
    ASSERT_TRUE(child.WaitFor(kPlcPromptDecimal));
    child.Send(std::string(1, kEscapeKey) + "\r");
    EXPECT_EQ(child.Result(), "53 untouched");
  }
  {
    TerminalChild child(BrowseThroughVpiMain);
    ASSERT_TRUE(child.WaitFor(kPlcPromptDecimal));
    child.Type("07");
    ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
    child.Send(std::string(1, kEndOfInput));
    EXPECT_EQ(child.Result(), "53 untouched");
  }
}

TEST_F(TextForm, MissingValueKeepsTheFormOpen) {
  TerminalChild child(BrowseThroughVpiMain);
  ASSERT_TRUE(child.WaitFor(kPlcPromptDecimal));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(std::string(kMemoryTypePrompt) + "none]: "));
  child.Type("");  // no memory type chosen
  ASSERT_TRUE(child.WaitFor(kAddressPromptDecimal));
  child.Type("0100");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor("Error: missing value!"));
  // Round again, with the values kept.
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "01]: "));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(std::string(kMemoryTypePrompt) + "none]: "));
  child.Type("3");
  ASSERT_TRUE(child.WaitFor(std::string(kAddressPromptDecimal) + "0100]: "));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(std::string(kBitPrompt) + "None]: "));
  child.Type("F");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  EXPECT_EQ(child.Result(), "0 0130100F");
}

TEST_F(TextForm, AddressIsCheckedBeforeThePlcNumber) {
  TerminalChild child(BrowseThroughVpiMain);
  ASSERT_TRUE(child.WaitFor(kPlcPromptDecimal));
  child.Type("5");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("2");  // not offered
  ASSERT_TRUE(child.WaitFor("Not in the list: 2"));
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("8");
  ASSERT_TRUE(child.WaitFor(kAddressPromptDecimal));
  child.Type("12");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor("Error: Wrong address! (4 decimal digits)"));
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "5]: "));
  EXPECT_EQ(child.screen().find("Wrong PLC number!"), std::string::npos);
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(std::string(kAddressPromptDecimal) + "12]: "));
  child.Type("0012");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor("Error: Wrong PLC number! (2 decimal digits)"));
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "5]: "));
  child.Type("+");  // "5" is a number of the base: the spin makes "06"
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "06]: "));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kAddressPromptDecimal));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  EXPECT_EQ(child.Result(), "0 0680012");
}

TEST_F(TextForm, HexadecimalBaseTakesLowerCaseAndSpinsUpToFF) {
  TerminalChild child([] { return FormWithBase('H'); });
  ASSERT_TRUE(child.WaitFor("PLC number (2 hexadecimal digits; + or - steps it) [01]: "));
  child.Type("fe");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor("Address (4 hexadecimal digits) []: "));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor("Error: missing value!"));
  ASSERT_TRUE(child.WaitFor("[FE]: "));
  child.Type("+");
  ASSERT_TRUE(child.WaitFor("[FF]: "));
  child.Type("++");
  ASSERT_TRUE(child.WaitFor("[FF]: "));
  child.Type("1f");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("7");
  ASSERT_TRUE(child.WaitFor("Address (4 hexadecimal digits) []: "));
  child.Type("00ff");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  EXPECT_EQ(child.Result(), "1F700FF");
}

TEST_F(TextForm, LongDecimalBaseTakesFiveAddressDigits) {
  TerminalChild child([] { return FormWithBase('L'); });
  ASSERT_TRUE(child.WaitFor(kPlcPromptDecimal));
  child.Type("05");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("3");
  ASSERT_TRUE(child.WaitFor("Address (5 decimal digits) []: "));
  child.Type("1234");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("3");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor("Error: Wrong address! (5 decimal digits)"));
  ASSERT_TRUE(child.WaitFor(kPlcPromptDecimal));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor("Address (5 decimal digits) [1234]: "));
  child.Type("12345");
  ASSERT_TRUE(child.WaitFor(std::string(kBitPrompt) + "3]: "));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  EXPECT_EQ(child.Result(), "053123453");
}

TEST_F(TextForm, TheBaseComesFromTheDriversInitialisationFile) {
  folder_.WriteFile("TOLDEX01.INT", "BUS=M,H\n");
  TerminalChild child(BrowseThroughVpiMain);
  ASSERT_TRUE(child.WaitFor("PLC number (2 hexadecimal digits; + or - steps it) [01]: "));
  child.Type("3e");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("4");
  ASSERT_TRUE(child.WaitFor("Address (4 hexadecimal digits) []: "));
  child.Type("beef");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("f");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  EXPECT_EQ(child.Result(), "0 3E4BEEFF");
}

TEST_F(TextForm, ASecondCallWhileOpenGets53AndTheNextCallShowsTheFormAgain) {
  int go[2];
  int done[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(done), 0);
  TerminalChild child([&go, &done] {
    std::string first;
    std::thread opener([&first] { first = BrowseThroughVpiMain(); });
    char signal = 0;
    const ssize_t got = read(go[0], &signal, 1);  // the parent saw the form
    std::string second = "no signal";
    if (got == 1) {
      testing::LogCapture log;  // a busy call reads no file, so it logs nothing
      second = BrowseThroughVpiMain();
      if (!log.Lines().empty()) second += " (read the file)";
    }
    const ssize_t told = write(done[1], "x", 1);  // the parent may close the form now
    opener.join();
    const std::string third = BrowseThroughVpiMain();
    return first + "|" + second + "|" + third + (told == 1 ? "" : " (not told)");
  });
  close(go[0]);
  close(done[1]);
  ASSERT_TRUE(child.WaitFor(kPlcPromptDecimal));
  ASSERT_EQ(write(go[1], "x", 1), 1);
  close(go[1]);
  pollfd secondDone{done[0], POLLIN, 0};
  ASSERT_EQ(poll(&secondDone, 1, kResultLimitMs), 1) << "the second call did not return";
  close(done[0]);
  child.Type("12");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("6");
  ASSERT_TRUE(child.WaitFor(kAddressPromptDecimal));
  child.Type("0002");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  // The busy flag is released when the form has closed: the third call shows it.
  ASSERT_TRUE(child.WaitFor(std::string(kPlcPromptDecimal) + "01]: "));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("c");  // "c" is no memory type
  ASSERT_TRUE(child.WaitFor("Not in the list: c"));
  child.Send(std::string(1, kEndOfInput));
  EXPECT_EQ(child.Result(), "0 1260002|53 untouched|53 untouched");
}

TEST_F(TextForm, TerminalModeIsSetForTheFormAndRestoredAfterwards) {
  TerminalChild child([] {
    termios raw{};
    tcgetattr(STDIN_FILENO, &raw);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    const std::string result = BrowseThroughVpiMain();
    termios after{};
    tcgetattr(STDIN_FILENO, &after);
    const bool restored = (after.c_lflag & (ICANON | ECHO)) == 0;
    return result + (restored ? " restored" : " changed");
  });
  ASSERT_TRUE(child.WaitFor(kPlcPromptDecimal));
  child.Type("33");
  // Line mode with echo: the answer comes back as typed, and Enter ends it.
  ASSERT_TRUE(child.WaitFor("33"));
  ASSERT_TRUE(child.WaitFor(kMemoryTypePrompt));
  child.Type("5");
  ASSERT_TRUE(child.WaitFor(kAddressPromptDecimal));
  child.Type("0101");
  ASSERT_TRUE(child.WaitFor(kBitPrompt));
  child.Type("");
  ASSERT_TRUE(child.WaitFor(kConfirmPrompt));
  child.Type("");
  EXPECT_EQ(child.Result(), "0 3350101 restored");
}

TEST_F(TextForm, ABackgroundProcessGets53WithoutBeingStopped) {
  TerminalChild child([] {
    const pid_t background = fork();
    if (background == 0) {
      setpgid(0, 0);  // its own group, not the terminal's foreground group
      const std::string result = BrowseThroughVpiMain();
      _exit(result == "53 untouched" ? 0 : 1);
    }
    int status = 0;
    waitpid(background, &status, WUNTRACED);
    if (WIFSTOPPED(status)) {
      kill(background, SIGKILL);
      waitpid(background, &status, 0);
      return std::string("stopped");
    }
    return std::string(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "53" : "shown");
  });
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.Result(), "53");
}

TEST(TextFormWithoutTerminal, Returns53AndWritesNothing) {
  testing::TempWorkDir folder;
  int results[2];
  ASSERT_EQ(pipe(results), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(results[0]);
    setsid();  // a new session has no controlling terminal
    const std::string result = BrowseThroughVpiMain();
    const ssize_t written = write(results[1], result.data(), result.size());
    _exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
  }
  close(results[1]);
  std::string result;
  char chunk[64];
  pollfd wait{results[0], POLLIN, 0};
  while (poll(&wait, 1, kResultLimitMs) > 0) {
    const ssize_t got = read(results[0], chunk, sizeof chunk);
    if (got <= 0) break;
    result.append(chunk, static_cast<std::size_t>(got));
  }
  close(results[0]);
  int status = 0;
  if (result.empty()) kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  EXPECT_EQ(result, "53 untouched");
}

}  // namespace
}  // namespace toldex

#else

TEST(TagFormatForm, DrivenOnThisPlatformElsewhere) {
  GTEST_SKIP() << "the text form is driven through a Linux pseudo-terminal";
}

#endif
