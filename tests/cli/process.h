#pragma once
// Runs a real program to completion and captures what it printed, for tests of the executable.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct ProcessResult {
  int status = -1;  // exit status; 128 + signal number when killed by a signal
  std::string out;  // standard output
  std::string err;  // standard error
};

inline std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh, empty directory under the system's temporary directory, removed when the test ends.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel_test_XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path / name; }
  std::filesystem::path path;
};

// Runs argv[0] with the given arguments in `cwd`. `unset_env` names variables removed from the
// child's environment. Output goes through files in `cwd`, so any amount of it is safe to capture.
inline ProcessResult RunProcess(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                                const std::vector<std::string>& unset_env = {}) {
  const std::filesystem::path out_path = cwd / ".stdout";
  const std::filesystem::path err_path = cwd / ".stderr";
  ProcessResult result;
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(126);
    dup2(out, 1);
    dup2(err, 2);
    for (const std::string& name : unset_env) unsetenv(name.c_str());
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = ReadFileText(out_path);
  result.err = ReadFileText(err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return result;
}
