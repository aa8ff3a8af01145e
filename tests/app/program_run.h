#pragma once
// Support for tests that run the terminal program itself: scratch folders,
// file contents, and a scripted run with its exit status.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace odefit::testing {

namespace fs = std::filesystem;

inline std::vector<std::string> Lines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::string Text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A fresh empty folder for one test, removed by the destructor.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : path_(fs::temp_directory_path() / ("odefit-" + name + "-" + std::to_string(::getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchFolder() { fs::remove_all(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Returns `text` in single quotes, for a shell command line.
inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  quoted += text;
  quoted += "'";
  return quoted;
}

// Runs `command` in a shell; returns its exit status, or -1 when it did not exit.
inline int RunShell(const std::string& command) {
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Runs `program --console` in `folder` with `answers` as standard input, leaving
// stdout.txt and stderr.txt there; returns the exit status.
inline int RunScripted(const std::string& program, const fs::path& folder, const fs::path& answers) {
  return RunShell("cd " + Quoted(folder.string()) + " && " + Quoted(program) + " --console < " +
                  Quoted(answers.string()) + " > stdout.txt 2> stderr.txt");
}

}  // namespace odefit::testing
