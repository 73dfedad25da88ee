// The file layer on Windows.
#ifdef _WIN32

#include "mdb/env.h"

#include <windows.h>

#include <memory>
#include <string>

// <windows.h> renames CreateFile; this file means Env::CreateFile.
#undef CreateFile

namespace mdb {
namespace {

bool ToWide(const std::string& utf8, std::wstring* out) {
  out->clear();
  if (utf8.empty()) return true;
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), out->data(), n);
  return true;
}

std::string ErrorText(DWORD err) {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, err, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::string text;
  if (n > 0 && buf != nullptr) {
    while (n > 0 && (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ')) --n;
    int m = WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (m > 0) {
      text.resize(static_cast<size_t>(m));
      WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), text.data(), m, nullptr, nullptr);
    }
  }
  if (buf != nullptr) LocalFree(buf);
  if (text.empty()) text = "error " + std::to_string(err);
  return text;
}

Status WinError(const std::string& what, const std::string& path, DWORD err) {
  std::string msg = what + " " + path + ": " + ErrorText(err);
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return Status::NotFound(msg);
  if (err == ERROR_SHARING_VIOLATION) return Status::Busy(msg);
  return Status::IOError(msg);
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov = {};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

class WinFile : public File {
 public:
  WinFile(HANDLE h, std::string path, bool writable) : h_(h), path_(std::move(path)), writable_(writable) {}
  ~WinFile() override { CloseHandle(h_); }

  Status Read(uint64_t offset, size_t n, void* out) override {
    Positioned at(this);
    char* p = static_cast<char*>(out);
    while (n > 0) {
      const DWORD chunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
      DWORD got = 0;
      if (!at.Seek(offset) || !ReadFile(h_, p, chunk, &got, nullptr)) {
        DWORD err = GetLastError();
        if (err == ERROR_LOCK_VIOLATION) return Status::Busy("cannot read " + path_ + ": another program has locked that part");
        if (err != ERROR_HANDLE_EOF) return WinError("cannot read", path_, err);
        got = 0;
      }
      if (got == 0) return Status::IOError("cannot read " + path_ + ": unexpected end of file");
      p += got;
      n -= got;
      offset += got;
    }
    return Status::OK();
  }

  Status Write(uint64_t offset, const void* data, size_t n) override {
    if (!writable_) return Status::IOError("cannot write " + path_ + ": opened read-only");
    Positioned at(this);
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
      const DWORD chunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
      DWORD put = 0;
      if (!at.Seek(offset) || !WriteFile(h_, p, chunk, &put, nullptr)) return WinError("cannot write", path_, GetLastError());
      if (put == 0) return Status::IOError("cannot write " + path_ + ": nothing was written");
      p += put;
      n -= put;
      offset += put;
    }
    return Status::OK();
  }

  Status Size(uint64_t* size) override {
    LARGE_INTEGER li;
    if (!GetFileSizeEx(h_, &li)) return WinError("cannot get the size of", path_, GetLastError());
    *size = static_cast<uint64_t>(li.QuadPart);
    return Status::OK();
  }

  Status Truncate(uint64_t size) override {
    if (!writable_) return Status::IOError("cannot truncate " + path_ + ": opened read-only");
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(size);
    Positioned at(this);
    if (!SetFilePointerEx(h_, li, nullptr, FILE_BEGIN) || !SetEndOfFile(h_))
      return WinError("cannot truncate", path_, GetLastError());
    return Status::OK();
  }

  Status Sync() override {
    if (!FlushFileBuffers(h_)) return WinError("cannot flush", path_, GetLastError());
    return Status::OK();
  }

  Status Lock(uint64_t offset, uint64_t length, bool exclusive) override {
    OVERLAPPED ov = At(offset);
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (!LockFileEx(h_, flags, 0, static_cast<DWORD>(length & 0xFFFFFFFFu), static_cast<DWORD>(length >> 32), &ov)) {
      DWORD err = GetLastError();
      if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING || err == ERROR_SHARING_VIOLATION)
        return Status::Busy("the file is locked by another user: " + path_);
      return WinError("cannot lock", path_, err);
    }
    return Status::OK();
  }

  Status Unlock(uint64_t offset, uint64_t length) override {
    OVERLAPPED ov = At(offset);
    if (!UnlockFileEx(h_, 0, static_cast<DWORD>(length & 0xFFFFFFFFu), static_cast<DWORD>(length >> 32), &ov))
      return WinError("cannot unlock", path_, GetLastError());
    return Status::OK();
  }

 private:
  // Reads and writes move the file pointer and pass no OVERLAPPED: with
  // one, Wine asks its server about a completion port on every call, which
  // costs more than the read itself. The pointer is shared, so it is held
  // from the seek to the end of the transfer.
  class Positioned {
   public:
    explicit Positioned(WinFile* f) : f_(f) { AcquireSRWLockExclusive(&f_->pointer_); }
    ~Positioned() { ReleaseSRWLockExclusive(&f_->pointer_); }
    bool Seek(uint64_t offset) {
      LARGE_INTEGER li;
      li.QuadPart = static_cast<LONGLONG>(offset);
      return SetFilePointerEx(f_->h_, li, nullptr, FILE_BEGIN) != 0;
    }

   private:
    WinFile* f_;
  };

  HANDLE h_;
  std::string path_;
  bool writable_;
  SRWLOCK pointer_ = SRWLOCK_INIT;
};

class WinEnv : public Env {
 public:
  Status OpenFile(const std::string& path, bool writable, std::unique_ptr<File>* out) override {
    DWORD err = 0;
    Status s = Open(path, writable, OPEN_EXISTING, out, &err);
    if (writable && !s.ok() && CannotWrite(err) && FileExists(path))
      return Status::ReadOnly("cannot open " + path + " for writing: " + s.message());
    return s;
  }

  Status CreateFile(const std::string& path, std::unique_ptr<File>* out) override {
    DWORD err = 0;
    return Open(path, true, CREATE_NEW, out, &err);
  }

  Status OpenOrCreateFile(const std::string& path, std::unique_ptr<File>* out, bool* created) override {
    *created = !FileExists(path);
    DWORD err = 0;
    Status s = Open(path, true, OPEN_ALWAYS, out, &err);
    if (!s.ok()) {
      *created = false;
      if (CannotWrite(err)) return Status::ReadOnly("cannot open or create " + path + " for writing: " + s.message());
    }
    return s;
  }

  bool FileExists(const std::string& path) override {
    std::wstring w;
    return ToWide(path, &w) && GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  Status RenameNoReplace(const std::string& from, const std::string& to) override {
    std::wstring wf, wt;
    if (!ToWide(from, &wf) || !ToWide(to, &wt)) return Status::InvalidArgument("the file name is not valid UTF-8: " + to);
    // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
    if (!MoveFileExW(wf.c_str(), wt.c_str(), MOVEFILE_WRITE_THROUGH))
      return WinError("cannot name the new file", to, GetLastError());
    return Status::OK();
  }

  Status RemoveFile(const std::string& path) override {
    std::wstring w;
    if (!ToWide(path, &w)) return Status::InvalidArgument("the file name is not valid UTF-8: " + path);
    if (!DeleteFileW(w.c_str())) return WinError("cannot remove", path, GetLastError());
    return Status::OK();
  }

  void SleepMicros(int micros) override { Sleep(static_cast<DWORD>((micros + 999) / 1000)); }

  std::string ComputerName() override {
    char buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD n = sizeof buf;
    if (!GetComputerNameA(buf, &n) || n == 0) return "LOCALHOST";
    std::string name;
    for (DWORD i = 0; i < n && name.size() < 31; ++i)
      name += static_cast<unsigned char>(buf[i]) < 0x80 ? buf[i] : '_';
    return name;
  }

 private:
  // Failures after which reading may still work.
  static bool CannotWrite(DWORD err) {
    return err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION || err == ERROR_WRITE_PROTECT ||
           err == ERROR_LOCK_VIOLATION;
  }

  static Status Open(const std::string& path, bool writable, DWORD disposition, std::unique_ptr<File>* out,
                     DWORD* err_out) {
    std::wstring w;
    if (!ToWide(path, &w)) return Status::InvalidArgument("the file name is not valid UTF-8: " + path);
    // Other processes may read and write the file at the same time; the
    // byte-range locks keep them apart.
    HANDLE h = CreateFileW(w.c_str(), GENERIC_READ | (writable ? GENERIC_WRITE : 0),
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD err = GetLastError();
      *err_out = err;
      return WinError(disposition == CREATE_NEW ? "cannot create" : "cannot open", path, err);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      CloseHandle(h);
      return Status::IOError("cannot open " + path + ": it is a folder");
    }
    out->reset(new WinFile(h, path, writable));
    return Status::OK();
  }
};

}  // namespace

Env* Env::Default() {
  static WinEnv* env = new WinEnv;
  return env;
}

}  // namespace mdb

#endif  // _WIN32
