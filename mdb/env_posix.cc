// The file layer on POSIX systems.
#ifndef _WIN32

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "mdb/env.h"

namespace mdb {
namespace {

Status PosixError(const std::string& what, const std::string& path, int err) {
  std::string msg = what + " " + path + ": " + strerror(err);
  if (err == ENOENT) return Status::NotFound(msg);
  return Status::IOError(msg);
}

class PosixFile : public File {
 public:
  PosixFile(int fd, std::string path, bool writable)
      : fd_(fd), path_(std::move(path)), writable_(writable) {}
  ~PosixFile() override { close(fd_); }

  Status Read(uint64_t offset, size_t n, void* out) override {
    char* p = static_cast<char*>(out);
    while (n > 0) {
      ssize_t r = pread(fd_, p, n, static_cast<off_t>(offset));
      if (r < 0) {
        if (errno == EINTR) continue;
        return PosixError("cannot read", path_, errno);
      }
      if (r == 0) return Status::IOError("cannot read " + path_ + ": unexpected end of file");
      p += r;
      n -= static_cast<size_t>(r);
      offset += static_cast<uint64_t>(r);
    }
    return Status::OK();
  }

  Status Write(uint64_t offset, const void* data, size_t n) override {
    if (!writable_) return Status::IOError("cannot write " + path_ + ": opened read-only");
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
      ssize_t r = pwrite(fd_, p, n, static_cast<off_t>(offset));
      if (r < 0) {
        if (errno == EINTR) continue;
        return PosixError("cannot write", path_, errno);
      }
      p += r;
      n -= static_cast<size_t>(r);
      offset += static_cast<uint64_t>(r);
    }
    return Status::OK();
  }

  Status Size(uint64_t* size) override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return PosixError("cannot stat", path_, errno);
    *size = static_cast<uint64_t>(st.st_size);
    return Status::OK();
  }

  Status Truncate(uint64_t size) override {
    if (!writable_) return Status::IOError("cannot truncate " + path_ + ": opened read-only");
    while (ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) return PosixError("cannot truncate", path_, errno);
    }
    return Status::OK();
  }

  Status Sync() override {
#if defined(__APPLE__)
    int r = fcntl(fd_, F_FULLFSYNC);
    if (r != 0) r = fsync(fd_);
#elif defined(__linux__)
    // Size changes are flushed too, which is all the pager needs.
    int r = fdatasync(fd_);
#else
    int r = fsync(fd_);
#endif
    if (r != 0) return PosixError("cannot sync", path_, errno);
    return Status::OK();
  }

  Status Lock(uint64_t offset, uint64_t length, bool exclusive) override {
    return SetLock(offset, length, exclusive ? F_WRLCK : F_RDLCK);
  }
  Status Unlock(uint64_t offset, uint64_t length) override {
    return SetLock(offset, length, F_UNLCK);
  }

 private:
  Status SetLock(uint64_t offset, uint64_t length, short type) {
    struct flock fl;
    memset(&fl, 0, sizeof(fl));
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
#ifdef F_OFD_SETLK
    // Open-file-description locks belong to this open file, not to the
    // process, so two handles in one process exclude each other too and
    // closing another handle on the file does not drop them.
    int cmd = F_OFD_SETLK;
#else
    int cmd = F_SETLK;
#endif
    while (fcntl(fd_, cmd, &fl) != 0) {
      if (errno == EINTR) continue;
#ifdef F_OFD_SETLK
      if (errno == EINVAL && cmd == F_OFD_SETLK) {  // a kernel older than 3.15
        cmd = F_SETLK;
        continue;
      }
#endif
      if (errno == EAGAIN || errno == EACCES) return Status::Busy("the file is locked by another user: " + path_);
      return PosixError("cannot lock", path_, errno);
    }
    return Status::OK();
  }

 public:
  bool IsNamed(const std::string& path) override {
    struct stat mine, named;
    if (fstat(fd_, &mine) != 0 || stat(path.c_str(), &named) != 0) return false;
    return mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
  }

 private:

  int fd_;
  std::string path_;
  bool writable_;
};

// A new name lasts a power cut only once its directory is synced.
Status SyncDirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return PosixError("cannot open the folder of", path, errno);
  int rc = fsync(fd);
  int err = errno;
  close(fd);
  if (rc != 0) return PosixError("cannot sync the folder of", path, err);
  return Status::OK();
}

class PosixEnv : public Env {
 public:
  Status OpenFile(const std::string& path, bool writable, std::unique_ptr<File>* out) override {
    int fd = open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      if (writable && (err == EACCES || err == EPERM || err == EROFS || err == ETXTBSY) && access(path.c_str(), F_OK) == 0)
        return Status::ReadOnly("cannot open " + path + " for writing: " + strerror(err));
      return PosixError("cannot open", path, err);
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return Status::IOError("cannot open " + path + ": not a regular file");
    }
    out->reset(new PosixFile(fd, path, writable));
    return Status::OK();
  }

  Status CreateFile(const std::string& path, std::unique_ptr<File>* out) override {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return PosixError("cannot create", path, errno);
    out->reset(new PosixFile(fd, path, true));
    return Status::OK();
  }

  Status OpenOrCreateFile(const std::string& path, std::unique_ptr<File>* out, bool* created) override {
    *created = false;
    for (int attempt = 0; attempt < 100; ++attempt) {
      int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) {
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;  // another process made it first
        if (fd >= 0) *created = true;
      }
      if (fd < 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM || err == EROFS)
          return Status::ReadOnly("cannot open or create " + path + " for writing: " + strerror(err));
        return PosixError("cannot open", path, err);
      }
      out->reset(new PosixFile(fd, path, true));
      return Status::OK();
    }
    return Status::IOError("cannot open " + path + ": it keeps appearing and disappearing");
  }

  bool FileExists(const std::string& path) override { return access(path.c_str(), F_OK) == 0; }

  Status RenameNoReplace(const std::string& from, const std::string& to) override {
    // A hard link fails when the name exists; then the old name goes.
    if (link(from.c_str(), to.c_str()) != 0) return PosixError("cannot name the new file", to, errno);
    if (unlink(from.c_str()) != 0) return PosixError("cannot remove", from, errno);
    return SyncDirectoryOf(to);
  }

  Status RemoveFile(const std::string& path) override {
    if (unlink(path.c_str()) != 0) return PosixError("cannot remove", path, errno);
    return Status::OK();
  }

  void SleepMicros(int micros) override {
    std::this_thread::sleep_for(std::chrono::microseconds(micros));
  }

  // As Windows shows a computer's name: the host part, upper case.
  std::string ComputerName() override {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return "LOCALHOST";
    std::string name;
    for (const char* p = buf; *p != '\0' && *p != '.' && name.size() < 31; ++p) {
      const unsigned char c = static_cast<unsigned char>(*p);
      name += c < 0x80 && std::isprint(c) ? static_cast<char>(std::toupper(c)) : '_';
    }
    return name.empty() ? "LOCALHOST" : name;
  }
};

}  // namespace

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;
  return env;
}

}  // namespace mdb

#endif  // !_WIN32
