// Helpers for the reader's tests: fixture files, temporary copies, CSV.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace readertest {

std::string FixturesDir();
// Every *.mdb fixture, sorted by name.
std::vector<std::string> FixtureFiles();
// The password a fixture needs ("" for none).
std::u16string FixturePassword(const std::string& path);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
// A fresh directory under the system's temporary directory.
std::string TempDir(const std::string& name);

// Runs a shell command; its standard output, and its exit code in *rc.
std::string RunCommand(const std::string& cmd, int* rc);
bool HaveCommand(const std::string& name);
std::string ShellQuote(const std::string& s);

// Parses CSV with double-quoted fields (doubled quotes, embedded newlines).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text);

}  // namespace readertest
