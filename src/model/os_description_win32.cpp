#include <windows.h>

#include "model/os_description.h"

namespace kvtr {

std::string DescribeOperatingSystem() {
  // RtlGetVersion reports the true version; GetVersionEx answers for the manifest instead.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto rtlGetVersion =
      ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
            : nullptr;
  if (rtlGetVersion == nullptr || rtlGetVersion(&info) != 0) return std::string(kUnknownSystemText);
  return DescribeWindowsVersion(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
}

}  // namespace kvtr
