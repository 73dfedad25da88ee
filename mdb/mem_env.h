// An Env that keeps files in memory, for fuzzing and tests: no disk, no
// other processes, so locks always succeed.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "mdb/env.h"

namespace mdb {

class MemEnv : public Env {
 public:
  MemEnv();
  ~MemEnv() override;

  Status OpenFile(const std::string& path, bool writable, std::unique_ptr<File>* out) override;
  Status CreateFile(const std::string& path, std::unique_ptr<File>* out) override;
  Status OpenOrCreateFile(const std::string& path, std::unique_ptr<File>* out, bool* created) override;
  bool FileExists(const std::string& path) override;
  Status RenameNoReplace(const std::string& from, const std::string& to) override;
  Status RemoveFile(const std::string& path) override;
  void SleepMicros(int micros) override {}
  std::string ComputerName() override { return "MEMORY"; }

  // Puts or replaces a file's whole contents.
  void SetFile(const std::string& path, std::string contents);
  // A file's contents; empty when it does not exist.
  std::string GetFile(const std::string& path) const;

 private:
  struct Store;
  std::shared_ptr<Store> store_;
};

}  // namespace mdb
