#include "shared_folder/hold_file.h"

#include <windows.h>

#include <cstdio>

#include "platform/win32/wide.h"

int HoldFile(const std::string& path, double seconds) {
  std::wstring name;
  if (!pyokoran::Utf8ToWide(path, name)) return 2;
  const HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(DWORD(seconds * 1000));
  CloseHandle(h);
  return 0;
}
