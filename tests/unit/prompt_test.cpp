// The prompt window: what it creates, how its procedure answers, and the Open desk action.
#include <string>

#include "address/address.h"
#include "prompt/prompt.h"
#include "temporary_folder.h"

class Prompt : public InTemporaryFolder {
 protected:
  static std::string Saved() { return Read("appdata/Tarvo/url.txt"); }
};

TEST_F(Prompt, CreatesTheClassWindowAndControlsExactly) {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x400000);
  RunPrompt(instance);
  const WNDCLASSA& c = g_fake.registered;
  EXPECT_EQ(g_fake.registeredName, "Tarvo");
  EXPECT_EQ(c.style, 0u);
  EXPECT_EQ(c.cbClsExtra + c.cbWndExtra, 0);
  EXPECT_EQ(c.lpszMenuName, nullptr);
  EXPECT_EQ(c.lpfnWndProc, &PromptWindowProc);
  EXPECT_EQ(c.hInstance, instance);
  EXPECT_EQ(g_fake.iconId, 1);
  EXPECT_EQ(g_fake.cursorId, 32512);
  EXPECT_EQ(g_fake.brushColour, 0x111111u);
  EXPECT_EQ(g_fake.shownWith, SW_SHOW);

  HWND main = reinterpret_cast<HWND>(1);
  struct Expected { const char* className; const char* text; DWORD style; int x, y, w, h; HWND parent; INT_PTR id; };
  const Expected expected[] = {
    {"Tarvo", "Tarvo", 0x00C80000, CW_USEDEFAULT, CW_USEDEFAULT, 460, 180, nullptr, 0},
    {"STATIC", "Paste your published Tarvo address", 0x50000000, 20, 16, 400, 24, main, 0},
    {"EDIT", "", 0x50800080, 20, 48, 400, 28, main, 0},
    {"BUTTON", "Open desk", 0x50000000, 20, 88, 140, 32, main, kOpenDeskId},
  };
  ASSERT_EQ(g_fake.windows.size(), 4u);
  for (size_t i = 0; i < 4; i++) {
    const CreatedWindow& w = g_fake.windows[i];
    const Expected& e = expected[i];
    EXPECT_EQ(w.className, e.className) << i;
    EXPECT_EQ(w.text, e.text) << i;
    EXPECT_EQ(w.exStyle, 0u) << i;
    EXPECT_EQ(w.style, e.style) << i;
    EXPECT_EQ(w.x, e.x) << i;
    EXPECT_EQ(w.y, e.y) << i;
    EXPECT_EQ(w.width, e.w) << i;
    EXPECT_EQ(w.height, e.h) << i;
    EXPECT_EQ(w.parent, e.parent) << i;
    EXPECT_EQ(w.id, e.id) << i;
    EXPECT_FALSE(w.hasParam) << i;
  }
  EXPECT_EQ(g_editControl, reinterpret_cast<HWND>(3));
}

TEST_F(Prompt, LoopEndsOnQuitOrErrorAndNeverWaitsWithoutAWindow) {
  struct Case { const char* name; bool failRegister, failWindow; std::vector<BOOL> messages; int dispatched; size_t left; };
  const Case cases[] = {
    {"quit", false, false, {1, 1, 0, 1}, 2, 1},
    {"error is not a message", false, false, {1, -1, 1}, 1, 1},
    {"class not registered", true, false, {1}, 0, 1},
    {"window not created", false, true, {1}, 0, 1},
  };
  for (const Case& c : cases) {
    ResetFakeWin32();
    g_fake.failRegister = c.failRegister;
    g_fake.failMainWindow = c.failWindow;
    g_fake.messages = c.messages;
    RunPrompt(nullptr);
    EXPECT_EQ(g_fake.dispatched, c.dispatched) << c.name;
    EXPECT_EQ(g_fake.messages.size(), c.left) << c.name;
  }
}

TEST_F(Prompt, ProcedureAnswersOnlyTheButtonAndDestroy) {
  struct Case { const char* name; UINT message; WPARAM wParam; LRESULT result; bool opened; bool defaulted; };
  const Case cases[] = {
    {"button clicked", WM_COMMAND, kOpenDeskId, 0, true, false},
    {"button id with a notification code", WM_COMMAND, 0x03000000u | kOpenDeskId, 0, true, false},
    {"other control", WM_COMMAND, 2, 0x5eed, false, true},
    {"button id in the high word only", WM_COMMAND, 0x00010000u, 0x5eed, false, true},
    {"close goes to the default", WM_CLOSE, 0, 0x5eed, false, true},
  };
  for (const Case& c : cases) {
    ResetFakeWin32();
    EXPECT_EQ(PromptWindowProc(reinterpret_cast<HWND>(1), c.message, c.wParam, 0), c.result) << c.name;
    EXPECT_EQ(!g_fake.destroyed.empty(), c.opened) << c.name;
    EXPECT_EQ(!g_fake.defaultHandled.empty(), c.defaulted) << c.name;
  }
  ResetFakeWin32();
  EXPECT_EQ(PromptWindowProc(reinterpret_cast<HWND>(1), WM_DESTROY, 0, 0), 0);
  EXPECT_EQ(g_fake.quitCodes, std::vector<int>{0});
  EXPECT_TRUE(g_fake.defaultHandled.empty());
}

TEST_F(Prompt, OpenDeskCompletesSavesLaunchesThenCloses) {
  struct Case { const char* name; std::string typed; std::string expected; bool saved = true; };
  const Case cases[] = {
    {"bare host and path", " \texample.org/desk \r\n", "https://example.org/desk"},
    {"scheme kept", "http://example.org/desk", "http://example.org/desk"},
    {"empty: opened, never saved", "", "https://", false},
    {"blanks only: opened, never saved", "   ", "https://", false},
    {"a bare scheme typed: opened, never saved", "http://\t", "http://", false},
    {"'/' typed: no host, opened, never saved", "/", "https:///", false},
    {"'?x' typed: no host, opened, never saved", "?x", "https://?x", false},
    {"'#' typed: no host, opened, never saved", "#", "https://#", false},
    {"a user part alone: no host", "me@:443", "https://me@:443", false},
    {"upper-case scheme", "HTTPS://example.org/", "https://example.org/"},
    {"a slash short, in any case", "Http:/example.org/", "http://example.org/"},
    {"backslashes and no slash", "https:\\\\example.org/", "https://example.org/"},
    {"a blank in the host: never saved", "desk.example .org/team", "https://desk.example%20.org/team", false},
    {"a port past 65535: never saved", "desk.example.org:65536/team", "https://desk.example.org:65536/team", false},
    {"another scheme: never saved", "ftp://desk.example.org/", "https://ftp://desk.example.org/", false},
    {"a drive's path: never saved", "C:\\desk.html", "https://C:\\desk.html", false},
    {"a host and port, no scheme", "localhost:3000/desk", "https://localhost:3000/desk"},
    {"placeholder is saved too", "desk.invalid/x", "https://desk.invalid/x"},
    {"saved and opened encoded", "example.org/desk --user-agent=\"I\"", "https://example.org/desk%20--user-agent=%22I%22"},
    {"511 without scheme", std::string(511, 'x'), "https://" + std::string(503, 'x')},
    {"past the buffer", std::string(2000, 'y'), "https://" + std::string(503, 'y')},
  };
  for (const Case& c : cases) {
    ResetFakeWin32();
    g_fake.shellResults = {33};
    g_fake.editText = c.typed;
    mkdir("appdata/Tarvo", 0755);
    Write("appdata/Tarvo/url.txt", "https://example.org/earlier");
    PromptWindowProc(reinterpret_cast<HWND>(1), WM_COMMAND, kOpenDeskId, 0);
    std::vector<std::string> effects = {"GetWindowText", "Save", "LeaveWorkingFolder", "Launch", "Destroy"};
    if (!c.saved) effects.erase(effects.begin() + 1);
    EXPECT_EQ(g_fake.effects, effects) << c.name;
    EXPECT_EQ(Saved(), c.saved ? c.expected : "https://example.org/earlier") << c.name;
    ASSERT_EQ(g_fake.shellCalls.size(), 1u) << c.name;
    EXPECT_EQ(g_fake.shellCalls[0].parameters, "--app=" + c.expected) << c.name;
    EXPECT_EQ(g_fake.destroyed, std::vector<HWND>{reinterpret_cast<HWND>(1)}) << c.name;
  }
}

TEST_F(Prompt, FailedSaveStillLaunchesAndCloses) {
  g_fake.failOpenToWrite = true;
  g_fake.editText = "example.org/desk";
  PromptWindowProc(reinterpret_cast<HWND>(1), WM_COMMAND, kOpenDeskId, 0);
  EXPECT_EQ(Saved(), "(missing)");
  EXPECT_EQ(g_fake.effects, (std::vector<std::string>{"GetWindowText", "LeaveWorkingFolder", "Launch", "Launch", "Launch", "Destroy"}));
}
