// Where the launcher looks for the runtime library, and what it does with
// paths that do not fit its buffer: never write past it, try the next place.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/runtime_path.h"

namespace {

std::wstring ModulePath(HMODULE module) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

TEST(LauncherPath, BesideTheExecutable) {
  wchar_t path[MAX_PATH];
  ASSERT_TRUE(launcher::BesidePath(nullptr, path));
  std::wstring self = ModulePath(nullptr);
  EXPECT_EQ(std::wstring(path), self.substr(0, self.rfind(L'\\') + 1) + L"vorta.vlr");
}

// A module whose path is longer than the buffer: passed over, so that the
// launcher goes on to the installation.
TEST(LauncherPath, ModulePathTooLongForTheBuffer) {
  std::wstring self = ModulePath(nullptr);
  std::wstring dir = L"\\\\?\\" + self.substr(0, self.rfind(L'\\'));
  std::vector<std::wstring> made;
  for (int i = 0; i < 5; ++i) {
    dir += L"\\a-folder-name-of-sixty-characters-to-make-the-path-long-" + std::to_wstring(i);
    CreateDirectoryW(dir.c_str(), nullptr);
    made.push_back(dir);
  }
  std::wstring copy = dir + L"\\module.exe";
  ASSERT_TRUE(CopyFileW(self.c_str(), copy.c_str(), FALSE));
  HMODULE module = LoadLibraryW(copy.c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  ASSERT_GE(ModulePath(module).size(), static_cast<size_t>(MAX_PATH));
  wchar_t path[MAX_PATH + 8];
  path[MAX_PATH] = L'#';
  EXPECT_FALSE(launcher::BesidePath(module, path));
  EXPECT_EQ(path[MAX_PATH], L'#');
  FreeLibrary(module);
  DeleteFileW(copy.c_str());
  for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW(it->c_str());
}

class InstalledPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, launcher::kInstallKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key_,
                              nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, launcher::kInstallKey);
  }
  void SetPath(const std::wstring& value) {
    RegSetValueExW(key_, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  // The path the launcher would load, or "-" when it gives up.
  std::wstring Installed() {
    wchar_t path[MAX_PATH + 8];
    path[MAX_PATH] = L'#';
    bool ok = launcher::InstalledPath(path);
    EXPECT_EQ(path[MAX_PATH], L'#') << "written past the buffer";
    return ok ? std::wstring(path) : L"-";
  }
  HKEY key_ = nullptr;
};

TEST_F(InstalledPathTest, OneBackslashThenTheNameOrNothingWhenItDoesNotFit) {
  EXPECT_EQ(Installed(), L"-");  // the key without the value
  SetPath(L"C:\\Program Files\\安装");
  EXPECT_EQ(Installed(), L"C:\\Program Files\\安装\\vorta.vlb");
  SetPath(L"C:\\Program Files\\安装\\");
  EXPECT_EQ(Installed(), L"C:\\Program Files\\安装\\vorta.vlb");
  // 255 characters and the name: over the buffer.
  SetPath(L"C:\\" + std::wstring(252, L'x'));
  EXPECT_EQ(Installed(), L"-");
  SetPath(L"C:\\" + std::wstring(300, L'x'));  // more than the read allows
  EXPECT_EQ(Installed(), L"-");
  std::wstring fits = L"C:\\" + std::wstring(MAX_PATH - 1 - 3 - 10, L'y');
  SetPath(fits);
  EXPECT_EQ(Installed(), fits + L"\\vorta.vlb");
  DWORD number = 7;
  RegSetValueExW(key_, L"Path", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  EXPECT_EQ(Installed(), L"-");
}

}  // namespace
