// What every suite does with files and programs: a private folder that goes
// with the test, a file's bytes in and out, and a shell command's output.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/wait.h>

namespace kelvarin::testsupport {

// A folder of its own under the temporary folder, removed with everything in it.
class TempDir {
public:
  explicit TempDir(std::string_view prefix = "kelvarin") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string file(std::string_view name) const { return (path_ / name).string(); }
  std::string path() const { return path_.string(); }

private:
  std::filesystem::path path_;
};

// The file's bytes; empty when it cannot be read (a folder among others).
inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// What a shell command wrote on its standard output, and its exit status (-1
// when it did not exit normally).
struct CommandRun {
  int status = -1;
  std::string output;
};

inline CommandRun runCommand(const std::string& command) {
  CommandRun run;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[8192];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

} // namespace kelvarin::testsupport
