// Windows launcher window: shown instead of the console help when the program
// is started from the desktop shell (a double-click), or with "--gui".
// This file must contain only Win32-specific code.
#include <windows.h>
#include <tlhelp32.h>
#include <shellapi.h>

#include <string>

#include "platform/platform.h"

namespace {

constexpr wchar_t kClassName[] = L"KORVEXLauncherClass";
constexpr wchar_t kTitle[] = L"KORVEX \u2014 JavaScript to TypeScript Pipeline";
constexpr wchar_t kDocumentationUrl[] = L"https://korvex.dev/docs";
constexpr int kWidth = 450;
constexpr int kHeight = 335;
constexpr int kTestButton = 101;
constexpr int kDocumentationButton = 102;
constexpr int kCloseButton = 103;

constexpr const wchar_t* kShellNames[] = {L"cmd.exe",  L"powershell.exe", L"pwsh.exe",
                                          L"bash.exe", L"sh.exe",         L"mintty.exe"};

// The window procedure has no storage of its own for the two fonts.
HFONT hFontTitle = nullptr;
HFONT hFontBody = nullptr;

HFONT make_font(int height, int weight) {
  return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
}

void add_control(HWND parent, const wchar_t* window_class, const wchar_t* text, DWORD extra_style, int x, int y,
                 int width, int height, int id, HFONT font) {
  HMENU menu = id != 0 ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)) : nullptr;
  HWND control = CreateWindowW(window_class, text, WS_CHILD | WS_VISIBLE | extra_style, x, y, width, height,
                               parent, menu, GetModuleHandleW(nullptr), nullptr);
  if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void run_first_install(HWND window) {
  wchar_t path[260] = {};
  GetModuleFileNameW(nullptr, path, 260);
  const std::wstring program = path;
  // The doubled percent signs of the command become single ones: the command
  // interpreter expands USERPROFILE and PATH itself.
  const std::wstring parameters = L"/k \"\"" + program + L"\" install && set \"PATH=%USERPROFILE%\\KORVEX;%PATH%\" && \"" +
                                  program + L"\" doctor && \"" + program + L"\" v\"";
  ShellExecuteW(nullptr, L"open", L"cmd.exe", parameters.c_str(), nullptr, SW_SHOWNORMAL);
  DestroyWindow(window);
}

LRESULT CALLBACK launcher_wnd_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE: {
      hFontTitle = make_font(22, 700);
      hFontBody = make_font(15, 400);
      const std::wstring body =
          std::wstring(L"KORVEX is a command-line JavaScript -> TypeScript transpiler.\r\n\r\n"
                       L"Open a terminal (CMD, PowerShell, or VS Code) and run:\r\n"
                       L"    kvx v          (version)\r\n"
                       L"    kvx h          (full help)\r\n"
                       L"    kvx doctor     (system diagnostic)\r\n\r\n"
                       L"Official documentation (FR / EN Tutorials):\r\n    ") +
          kDocumentationUrl;
      add_control(window, L"STATIC", L"KORVEX  \u2022  v1.0.0", 0, 24, 18, 390, 28, 0, hFontTitle);
      add_control(window, L"STATIC", body.c_str(), 0, 24, 56, 395, 175, 0, hFontBody);
      add_control(window, L"BUTTON", L"Test KORVEX", BS_DEFPUSHBUTTON, 24, 245, 130, 34, kTestButton, hFontBody);
      add_control(window, L"BUTTON", L"Documentation", BS_PUSHBUTTON, 164, 245, 130, 34, kDocumentationButton,
                  hFontBody);
      add_control(window, L"BUTTON", L"Close", BS_PUSHBUTTON, 304, 245, 110, 34, kCloseButton, hFontBody);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC context = reinterpret_cast<HDC>(wparam);
      SetBkMode(context, TRANSPARENT);
      SetTextColor(context, RGB(30, 30, 36));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case kTestButton:
          run_first_install(window);
          break;
        case kDocumentationButton:
          ShellExecuteW(nullptr, L"open", kDocumentationUrl, nullptr, nullptr, SW_SHOWNORMAL);
          break;
        case kCloseButton:
          DestroyWindow(window);
          break;
        default:
          break;
      }
      return 0;
    case WM_DESTROY:
      if (hFontTitle != nullptr) DeleteObject(hFontTitle);
      if (hFontBody != nullptr) DeleteObject(hFontBody);
      hFontTitle = nullptr;
      hFontBody = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

int is_launched_from_shell() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;

  const DWORD own_id = GetCurrentProcessId();
  DWORD parent_id = 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == own_id) {
      parent_id = entry.th32ParentProcessID;
      break;
    }
  }

  int answer = 0;
  if (parent_id != 0) {
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
      if (entry.th32ProcessID != parent_id) continue;
      for (const wchar_t* shell : kShellNames) {
        if (_wcsicmp(entry.szExeFile, shell) == 0) answer = 1;
      }
      break;
    }
  }
  CloseHandle(snapshot);
  return answer;
}

}  // namespace

int platform_show_launcher(int force) {
  if (!force) {
    if (is_launched_from_shell()) return 0;
    FreeConsole();
  }

  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW window_class = {};
  window_class.style = 0;
  window_class.lpfnWndProc = launcher_wnd_proc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = kClassName;
  RegisterClassW(&window_class);

  const int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  HWND window = CreateWindowExW(WS_EX_TOPMOST, kClassName, kTitle, WS_CAPTION | WS_SYSMENU, x, y, kWidth, kHeight,
                                nullptr, nullptr, instance, nullptr);
  // Without a window no message will ever come: report it as shown and closed
  // rather than wait.
  if (window == nullptr) return 1;

  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  SetForegroundWindow(window);
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 1;
}
