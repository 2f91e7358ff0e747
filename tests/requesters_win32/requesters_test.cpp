// The Win32 message box and file dialogs, shown for real (Wine on an X
// display) and answered by a thread of the test that checks what they show.
#include "win32/requesters.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "core/threads.h"
#include "core/workspace.h"
#include "dialog_answerer.h"
#include "watchdog.h"

namespace {

using fwu_test::DialogAnswerer;
using namespace std::chrono_literals;

std::wstring Wide(rt::RtString text) { return reinterpret_cast<const wchar_t*>(text); }
rt::RtString Rt(const std::wstring& text) { return reinterpret_cast<rt::RtString>(text.c_str()); }

LRESULT CALLBACK PlainWindow(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcW(window, message, w, l);
}

// A top-level window of the calling thread, gone with the object.
class TestWindow {
 public:
  TestWindow(const wchar_t* title, int show, DWORD exStyle = 0) {
    static const ATOM kind = [] {
      WNDCLASSW windowClass{};
      windowClass.lpfnWndProc = PlainWindow;
      windowClass.hInstance = GetModuleHandleW(nullptr);
      windowClass.lpszClassName = L"RequesterTestWindow";
      return RegisterClassW(&windowClass);
    }();
    window_ = CreateWindowExW(exStyle, MAKEINTRESOURCEW(kind), title, WS_OVERLAPPEDWINDOW, 100, 100, 300, 200, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    if (show != SW_HIDE) ShowWindow(window_, show);
    Pump();
  }
  ~TestWindow() { DestroyWindow(window_); }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  operator HWND() const { return window_; }

  static void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }

 private:
  HWND window_;
};

bool Topmost(HWND window) { return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

class Requesters : public ::testing::Test {
 protected:
  void SetUp() override { rt::RequesterLibraryStart(); }
  fwu_test::Watchdog watchdog_{60s, "a requester test"};
};

// --- Message box -------------------------------------------------------------

struct BoxCase {
  int32_t flags;
  std::vector<int> buttons;  // shown, all others absent
  int icon;                  // system icon, or 0 for none
  int answer;                // button id to press, or 0 to close the box
  int32_t result;
};

TEST_F(Requesters, MessageBoxShowsTitleTextButtonsAndIconAndReportsTheAnswer) {
  const BoxCase cases[] = {
      {0, {IDOK}, 0, IDOK, rt::MessageResult::Other},
      {0, {IDOK}, 0, 0, rt::MessageResult::Other},
      {rt::MessageFlags::YesNo | rt::MessageFlags::Information, {IDYES, IDNO}, 32516 /* information */, IDYES,
       rt::MessageResult::Yes},
      {rt::MessageFlags::YesNo | rt::MessageFlags::Critical, {IDYES, IDNO}, 32513 /* error */, IDNO, rt::MessageResult::No},
      {rt::MessageFlags::YesNoCancel | rt::MessageFlags::Warning | rt::MessageFlags::Critical,
       {IDYES, IDNO, IDCANCEL}, 32515 /* warning */, IDCANCEL, rt::MessageResult::Cancel},
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.flags);
    DialogAnswerer answerer(L"ERROR:3", [&](HWND box) {
      EXPECT_EQ(fwu_test::BoxText(box), L"Device does not respond!");
      for (int id : {IDOK, IDYES, IDNO, IDCANCEL}) {
        const bool wanted = std::find(c.buttons.begin(), c.buttons.end(), id) != c.buttons.end();
        EXPECT_EQ(fwu_test::HasButton(box, id), wanted) << "button " << id;
      }
      EXPECT_EQ(fwu_test::BoxIcon(box), c.icon ? LoadIconW(nullptr, MAKEINTRESOURCEW(c.icon)) : nullptr);
      c.answer ? fwu_test::Press(box, c.answer) : fwu_test::Close(box);
    });
    EXPECT_EQ(rt::MessageDialog(u"ERROR:3", u"Device does not respond!", c.flags), c.result);
    EXPECT_TRUE(answerer.Found());
  }
}

// The result box of an update comes from the worker: it belongs to the
// window in the foreground, which it blocks, and leaves the user-interface
// thread's other windows as they are.
std::atomic<int32_t> g_workerAnswer{-1};
int64_t ShowResult(int64_t) {
  g_workerAnswer = rt::ShowMessage(u"Information", u"Device update!");
  return 0;
}

TEST_F(Requesters, AWorkersBoxBelongsToTheForegroundWindowOfTheProgram) {
  TestWindow main(L"main", SW_SHOW);
  TestWindow aside(L"aside", SW_SHOWNOACTIVATE, WS_EX_TOPMOST);
  SetForegroundWindow(main);
  ASSERT_EQ(GetForegroundWindow(), static_cast<HWND>(main));
  DialogAnswerer answerer(L"Information", [&](HWND box) {
    EXPECT_EQ(fwu_test::BoxText(box), L"Device update!");
    EXPECT_EQ(GetWindow(box, GW_OWNER), static_cast<HWND>(main));
    EXPECT_FALSE(IsWindowEnabled(main));
    EXPECT_TRUE(IsWindowEnabled(aside));
    EXPECT_TRUE(Topmost(aside));
    fwu_test::Press(box, IDOK);
  });
  g_workerAnswer = -1;
  rt::ThreadLibraryStart();
  const uint64_t worker = rt::ThreadStart(ShowResult, 0);
  ASSERT_NE(worker, 0u);
  // The owner's thread keeps handling its messages, as the event wait does.
  while (rt::ThreadIsRunning(worker)) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    TestWindow::Pump();
  }
  EXPECT_EQ(g_workerAnswer.load(), rt::MessageResult::Other);
  EXPECT_TRUE(IsWindowEnabled(main));
  EXPECT_TRUE(answerer.Found());
}

TEST_F(Requesters, WhenTheUserIsElsewhereTheMainWindowOwnsTheBox) {
  TestWindow main(L"main", SW_SHOWNOACTIVATE);
  DWORD process = 0;
  GetWindowThreadProcessId(GetForegroundWindow(), &process);
  ASSERT_NE(process, GetCurrentProcessId()) << "the test needs the foreground elsewhere";
  for (HWND registered : {static_cast<HWND>(nullptr), static_cast<HWND>(main)}) {
    rt::RequesterSetMainWindow(registered);
    DialogAnswerer answerer(L"ERROR:5", [&](HWND box) {
      EXPECT_EQ(GetWindow(box, GW_OWNER), registered);
      fwu_test::Press(box, IDOK);
    });
    rt::ShowMessage(u"ERROR:5", u"Update wrong!");
  }
  rt::RequesterSetMainWindow(nullptr);
}

// On its own thread a box disables the thread's other windows and takes them
// out of the topmost band, and puts each back as it was.
TEST_F(Requesters, ABoxIsModalForAllWindowsOfItsThread) {
  TestWindow owner(L"owner", SW_SHOW);
  TestWindow topmost(L"topmost", SW_SHOWNOACTIVATE, WS_EX_TOPMOST);
  TestWindow disabled(L"disabled", SW_SHOWNOACTIVATE);
  TestWindow hidden(L"hidden", SW_HIDE);
  EnableWindow(disabled, FALSE);
  SetForegroundWindow(owner);
  ASSERT_EQ(GetForegroundWindow(), static_cast<HWND>(owner));
  DialogAnswerer answerer(L"ERROR:1", [&](HWND box) {
    EXPECT_EQ(GetWindow(box, GW_OWNER), static_cast<HWND>(owner));
    EXPECT_FALSE(IsWindowEnabled(topmost));
    EXPECT_FALSE(Topmost(topmost));
    EXPECT_TRUE(IsWindowEnabled(hidden));
    fwu_test::Press(box, IDOK);
  });
  rt::ShowMessage(u"ERROR:1", u"Firmware missing!");
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_TRUE(IsWindowEnabled(topmost));
  EXPECT_TRUE(Topmost(topmost));
  EXPECT_FALSE(IsWindowEnabled(disabled));
  EXPECT_TRUE(answerer.Found());
}

// --- File dialogs -------------------------------------------------------------

// A folder of its own with three firmware files.
class FileDialogs : public Requesters {
 protected:
  void SetUp() override {
    Requesters::SetUp();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"fwu-requesters-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    for (const wchar_t* name : {L"a.fw", L"b.fw", L"trx.fw"}) {
      CloseHandle(CreateFileW(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
  }
  void TearDown() override {
    for (const wchar_t* name : {L"a.fw", L"b.fw", L"trx.fw", L"new.fw"}) DeleteFileW(Path(name).c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  std::wstring Path(const wchar_t* name) const { return folder_ + L"\\" + name; }

  // Runs the dialog with the answerer and returns the text it wrote, which
  // must follow text already in the workspace and end at the position.
  std::wstring Ask(const std::wstring& defaultFile, const std::wstring& patterns, int32_t index, int32_t flags,
                   int32_t save, std::function<void(HWND)> answer) {
    const int64_t start = rt::WorkspacePosition();
    rt::WorkspaceAppend(u"before");
    const int64_t offset = rt::WorkspacePosition();
    {
      DialogAnswerer answerer(L"Please choose file to load", std::move(answer));
      rt::FileDialog(u"Please choose file to load", defaultFile.empty() ? nullptr : Rt(defaultFile), Rt(patterns),
                     index, flags, offset, save);
      EXPECT_TRUE(answerer.Found());
    }
    const std::wstring chosen = Wide(rt::WorkspaceString(offset));
    EXPECT_EQ(rt::WorkspacePosition(), offset + 2 * static_cast<int64_t>(chosen.size()));
    EXPECT_EQ(Wide(rt::WorkspaceString(start)).substr(0, 6), L"before");
    rt::WorkspaceRestore(start);
    return chosen;
  }

  std::wstring Next() {
    const int64_t start = rt::WorkspacePosition();
    rt::FileDialogNextSelection(start);
    const std::wstring next = Wide(rt::WorkspaceString(start));
    rt::WorkspaceRestore(start);
    return next;
  }

  std::wstring folder_;
};

const std::wstring kFirmware = L"Firmware (*.fw)|*.fw;";

TEST_F(FileDialogs, OpenStartsInTheDefaultFolderWithTheProposedNameAndItsOneFilter) {
  const std::wstring chosen = Ask(Path(L"trx.fw"), kFirmware, 0, 0, 0, [&](HWND dialog) {
    EXPECT_EQ(fwu_test::DialogFolder(dialog), folder_);
    EXPECT_EQ(fwu_test::DialogProposedName(dialog), L"trx.fw");
    EXPECT_EQ(fwu_test::FilterCount(dialog), 1);
    EXPECT_EQ(fwu_test::FilterShown(dialog, 0), L"Firmware (*.fw)");
    fwu_test::AcceptName(dialog, Path(L"a.fw"));
  });
  EXPECT_EQ(chosen, Path(L"a.fw"));
  EXPECT_EQ(rt::FileDialogChosenFilter(), 0);
  EXPECT_EQ(Next(), L"");
}

TEST_F(FileDialogs, ANameTheUserCouldNotTypeIsNotProposedAndCancelGivesTheEmptyText) {
  for (const wchar_t* name : {L"*.fw", L"trx\x01.fw", L"a?b"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    const std::wstring chosen = Ask(folder_ + L"\\" + name, kFirmware, 0, 0, 0, [&](HWND dialog) {
      EXPECT_EQ(fwu_test::DialogFolder(dialog), folder_);
      EXPECT_EQ(fwu_test::DialogProposedName(dialog), L"");
      fwu_test::Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(chosen, L"");
    EXPECT_EQ(rt::FileDialogChosenFilter(), 0);
  }
  // Without a default file nothing is proposed either.
  EXPECT_EQ(Ask(L"", kFirmware, 0, 0, 0,
                [](HWND dialog) {
                  EXPECT_EQ(fwu_test::DialogProposedName(dialog), L"");
                  fwu_test::Press(dialog, IDCANCEL);
                }),
            L"");
}

TEST_F(FileDialogs, TheDefaultFilterIsSelectedAndTheChosenOneReported) {
  const std::wstring two = L"Firmware (*.fw)|*.fw;|All files|*.*";
  EXPECT_EQ(Ask(Path(L"trx.fw"), two, 1, 0, 0,
                [&](HWND dialog) {
                  EXPECT_EQ(fwu_test::FilterCount(dialog), 2);
                  EXPECT_EQ(fwu_test::FilterShown(dialog, 1), L"All files");
                  EXPECT_EQ(fwu_test::FilterSelected(dialog), 1);
                  fwu_test::AcceptName(dialog, Path(L"b.fw"));
                }),
            Path(L"b.fw"));
  EXPECT_EQ(rt::FileDialogChosenFilter(), 1);
  // An index outside the list leaves the first filter selected.
  Ask(Path(L"trx.fw"), two, 2, 0, 0, [&](HWND dialog) {
    EXPECT_EQ(fwu_test::FilterSelected(dialog), 0);
    fwu_test::Press(dialog, IDCANCEL);
  });
}

TEST_F(FileDialogs, AMultipleSelectionHandsOutEachPathJoinedToItsFolder) {
  const std::wstring first = Ask(folder_ + L"\\", kFirmware, 0, rt::FileDialogMultiple, 0, [&](HWND dialog) {
    EXPECT_EQ(fwu_test::DialogFolder(dialog), folder_);
    fwu_test::AcceptName(dialog, L"\"a.fw\" \"b.fw\" \"trx.fw\"");
  });
  EXPECT_EQ(first, Path(L"a.fw"));
  EXPECT_EQ(Next(), Path(L"b.fw"));
  EXPECT_EQ(Next(), Path(L"trx.fw"));
  EXPECT_EQ(Next(), L"");

  // One file of a multiple selection comes whole; a cancelled dialog leaves
  // nothing of an earlier selection behind.
  Ask(folder_ + L"\\", kFirmware, 0, rt::FileDialogMultiple, 0,
      [&](HWND dialog) { fwu_test::AcceptName(dialog, L"\"a.fw\" \"b.fw\""); });
  EXPECT_EQ(Ask(folder_ + L"\\", kFirmware, 0, rt::FileDialogMultiple, 0,
                [&](HWND dialog) { fwu_test::AcceptName(dialog, L"trx.fw"); }),
            Path(L"trx.fw"));
  EXPECT_EQ(Next(), L"");
  Ask(folder_ + L"\\", kFirmware, 0, rt::FileDialogMultiple, 0,
      [&](HWND dialog) { fwu_test::AcceptName(dialog, L"\"a.fw\" \"b.fw\""); });
  Ask(L"", kFirmware, 0, 0, 0, [](HWND dialog) { fwu_test::Press(dialog, IDCANCEL); });
  EXPECT_EQ(Next(), L"");
}

TEST_F(FileDialogs, SaveTakesANameThatDoesNotExistYet) {
  EXPECT_EQ(Ask(Path(L"new.fw"), kFirmware, 0, 0, 1,
                [&](HWND dialog) {
                  EXPECT_EQ(fwu_test::DialogProposedName(dialog), L"new.fw");
                  fwu_test::AcceptName(dialog, L"new.fw");
                }),
            Path(L"new.fw"));
}

}  // namespace
