// Helpers for the reader's tests: fixture files, temporary copies, CSV.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "mdb/mdb.h"

namespace readertest {

std::string FixturesDir();
// Every *.mdb fixture, sorted by name.
std::vector<std::string> FixtureFiles();
// Every *.mdb of ../shared/fixtures/realworld (files from public projects),
// sorted by name.
std::string RealWorldDir();
std::vector<std::string> RealWorldFiles();
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

// The other readers: mdbtools' mdb-export and the npm package mdb-reader
// (tests/node). Fails, never skips, when one is missing (natively).
std::string NodeScript();
void RequireOracles();
// One table as the engine reads it (through `db`) and as both other readers
// read the file at `path`: the same rows, cell by cell (dates to the second,
// numbers to their printed precision, rows in any order).
void ExpectReadersAgree(mdb::Database* db, const std::string& path, const std::u16string& password,
                        const std::u16string& table);
// The same for several user tables, reading the file with mdb-reader once
// (and leaving the stored row counts to the checker: Access leaves some stale).
void ExpectReadersAgreeOnTables(mdb::Database* db, const std::string& path, const std::u16string& password,
                                const std::vector<std::u16string>& tables);

}  // namespace readertest
