#pragma once

// A fresh directory under /tmp for one test, removed afterwards, and a guard that runs a test
// from a chosen working directory. Shared by the asset and sequence tests.

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel_test_XXXXXX").string();
        char* made = ::mkdtemp(pattern.data());
        if (made == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

    // Writes `bytes` to Path()/relative, creating the folders on the way.
    std::string Write(const std::string& relative, const std::string& bytes) const {
        const std::string full = *this / relative;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream out(full, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << "cannot write " << full;
        return full;
    }
    std::string Write(const std::string& relative, const std::vector<std::uint8_t>& bytes) const {
        return Write(relative, std::string(bytes.begin(), bytes.end()));
    }

private:
    std::string path_;
};

// Runs the rest of a scope from `dir` as the working directory.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& dir) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~WorkingDirectory() {
        std::error_code ec;
        std::filesystem::current_path(saved_, ec);
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path saved_;
};

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
inline std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

struct CommandResult {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs `program` with `args` (shell words, quoted by the caller) from the working directory `cwd`;
// standard error goes through a file in `scratch`.
inline CommandResult RunCommand(const ScratchDir& scratch, const std::string& cwd, const std::string& program,
                                const std::string& args) {
    const std::string err_file = scratch / ".stderr";
    const std::string command = "cd '" + cwd + "' && '" + program + "' " + args + " 2>'" + err_file + "'";
    CommandResult result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.err = ReadFileBytes(err_file);
    return result;
}
