// What the user interface asks the system once and then keeps: desktop
// composition, the system's version, the common controls' version and
// whether the program is themed. Libraries are looked up by name, so the
// program runs where one of them is missing.
#include <windows.h>

#include "win32/window_internal.h"

namespace rt {

namespace {

int32_t ProbeComposition() {
  using IsCompositionEnabled = HRESULT(WINAPI*)(BOOL*);
  HMODULE library = LoadLibraryW(L"dwmapi.dll");
  auto probe = ProcAddress<IsCompositionEnabled>(library, "DwmIsCompositionEnabled");
  BOOL enabled = FALSE;
  if (probe && FAILED(probe(&enabled))) enabled = FALSE;
  return enabled ? 5 : 0;  // the library stays loaded, as the probe is kept
}

int32_t VersionCode(const OSVERSIONINFOEXW& info) {
  const DWORD major = info.dwMajorVersion, minor = info.dwMinorVersion;
  const bool server = info.wProductType != VER_NT_WORKSTATION;
  if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    if (major == 4 && minor == 0) return 10;
    if (major == 4 && minor == 10) return 30;
    if (major == 4 && minor == 90) return 40;
    return 200;
  }
  if (major == 3) return 5;
  if (major == 4) return 20;
  if (major == 5 && minor == 0) return 50;
  if (major == 5 && minor == 1) return 60;
  if (major == 5 && minor == 2) return server ? 65 : 60;
  if (major == 6 && minor <= 3) return static_cast<int32_t>(70 + minor * 10) + (server ? 5 : 0);
  if (major == 10 && minor == 0) return info.dwBuildNumber < 22000 ? 110 : 120;
  return 200;
}

int32_t ProbeVersion() {
  using GetVersionRoutine = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  // The real version: the compatibility layer lies to GetVersionExW.
  auto routine = ProcAddress<GetVersionRoutine>(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
  if (!routine || routine(&info) != 0) {
    info = OSVERSIONINFOEXW{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return 200;
  }
  return VersionCode(info);
}

struct ControlsProbe {
  uint32_t version = 1;
  bool themed = false;
};

ControlsProbe ProbeControls() {
  ControlsProbe probe;
  struct VersionInfo {
    DWORD size, major, minor, build, platform;
  };
  using GetDllVersion = HRESULT(CALLBACK*)(VersionInfo*);
  if (HMODULE controls = LoadLibraryW(L"COMCTL32.DLL")) {
    if (auto routine = ProcAddress<GetDllVersion>(controls, "DllGetVersion")) {
      VersionInfo info{sizeof(VersionInfo), 0, 0, 0, 0};
      if (SUCCEEDED(routine(&info))) probe.version = info.major << 16 | info.minor;
    }
    FreeLibrary(controls);
  }
  using IsAppThemedRoutine = BOOL(WINAPI*)();
  if (auto routine = ProcAddress<IsAppThemedRoutine>(LoadLibraryW(L"uxtheme.dll"), "IsAppThemed")) {
    probe.themed = routine() && probe.version >= 0x60000;
  }
  return probe;
}

const ControlsProbe& Controls() {
  static const ControlsProbe probe = ProbeControls();
  return probe;
}

}  // namespace

int32_t DesktopCompositionOffset() {
  static const int32_t offset = ProbeComposition();
  return offset;
}

int32_t SystemVersionCode() {
  static const int32_t code = ProbeVersion();
  return code;
}

uint32_t CommonControlsVersion() { return Controls().version; }
bool ApplicationThemed() { return Controls().themed; }

}  // namespace rt
