// The bundled example repository, built column by column, so that each
// case can change one thing and run the program.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "harness.h"

namespace vesk::test {

const std::string abi_digest = "74a4aa28d1cf9901d2d82f018cfe57f608d6c43905af89734b0f6ba7f76bf387";
const std::string signer_key = "AAAAC3NzaC1lZDI1NTE5AAAAIHopXc4yax1i29W+p6bMiEhqG3MPAE37edLmuArzhdrn";
// sha256sum of the delegation below, as the caller computes it.
const std::string delegation_digest = "78544670b904901f4af7e2d0a28b037d30067ab4f427f738154ddc30ee8f42ad";
const std::string digest1 = "cd429ae22456df90d52428ac696563bbbc1c7a59f2794ac9133d410e67ca392f";
const std::string digest2 = "8163fd1d07ab300ff8e58615796e3d031204aa315580043f1b8b55e8bd270910";
const std::string digest3 = "a618c62b1ecdacb139eeaf5708a0a8ab7477138a9dcb1237480d7012d495bd77";

using Line = std::vector<std::string>;
using Lines = std::vector<Line>;

inline Line package_row(const std::string &name, const std::string &version,
                        const std::string &rank, const std::string &digest, const std::string &size,
                        const std::string &dependencies, const std::string &description,
                        const std::string &date) {
  return {name, version, rank, digest, size, digest + ".vesk", "0.1", dependencies, "i586", "musl",
          abi_digest, "pentium-mmx-audited", description, "https://hello.example/", date};
}

inline std::string join(const Lines &lines) {
  std::string text;
  for (const Line &line : lines)
    for (size_t i = 0; i < line.size(); ++i) text += line[i] + (i + 1 < line.size() ? "\t" : "\n");
  return text;
}

enum HeaderColumn { kSerial = 3, kGenerated = 6, kExpiry = 7, kEpoch = 8, kDelegationSha = 9 };
enum RowColumn { kName, kVersion, kRank, kDigest, kSize, kFilename, kSystem, kDependencies,
                 kArchitecture, kLibrary, kRowAbi, kProfile, kDescription, kUpstream, kDate };

struct Repository {
  Lines delegation = {{"VESK-DELEGATION", "1", "core", "3", "100", "900", abi_digest, "i586",
                       "musl", "pentium-mmx-audited"},
                      {"signer", "ssh-ed25519", signer_key},
                      {"package", "hello"},
                      {"package", "hello-doc"}};
  Lines index = {
      {"VESK-INDEX", "2", "core", "42", abi_digest, "0.1", "450", "700", "3", delegation_digest},
      package_row("hello", "2.12p1+r2", "7", digest1, "913", "hello-doc=2.12", "Greeting program", "450"),
      package_row("hello", "2.11", "6", digest2, "877", "-", "Greeting program", "100"),
      package_row("hello-doc", "2.12", "1", digest3, "240", "-", "Manual for hello", "450")};
  std::string delegation_tail, index_tail;  // raw bytes after the lines
  std::string now = "500", repo = "core", abi = abi_digest, deleg_sha = delegation_digest;

  std::string delegation_text() const { return join(delegation) + delegation_tail; }
  std::string index_text() const { return join(index) + index_tail; }
  Line &header() { return index[0]; }
  Line &row(size_t number) { return index[number]; }  // rows count from 1
};

inline RunResult run_delegation_command(const Repository &repository) {
  TempDir dir;
  write_file(dir / "delegation", repository.delegation_text());
  return run_index({"delegation", repository.now, dir / "delegation"});
}

inline RunResult run_index_command(const Repository &repository) {
  TempDir dir;
  write_file(dir / "delegation", repository.delegation_text());
  write_file(dir / "index", repository.index_text());
  return run_index({"index", repository.now, repository.repo, repository.abi, repository.deleg_sha,
                    dir / "delegation", dir / "index"});
}

// One change to the valid repository and the message it must give.
using Change = std::function<void(Repository &)>;
struct RepositoryCase {
  const char *name;
  Change change;
  std::string message;  // empty: accepted
};

inline void expect_cases(const std::vector<RepositoryCase> &cases,
                         RunResult (*command)(const Repository &)) {
  for (const RepositoryCase &c : cases) {
    SCOPED_TRACE(c.name);
    Repository repository;
    c.change(repository);
    expect_index(command(repository), c.message);
  }
}

}  // namespace vesk::test
