// kestrel_pack: builds, lists and unpacks the show's asset pack (data/assets.pack).
//
// Entry names are the relative paths the show asks for (data/kestrel/kestrel_sequence.txt, ...):
// each file's path relative to the root directory (the working directory unless --root is
// given), whatever form the path was given in (relative, absolute, with ./ or ..).

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "assets/asset_pack.h"
#include "assets/asset_store.h"

namespace fs = std::filesystem;

namespace {

const char* kUsage =
    "Usage: kestrel_pack create OUT.pack [--root DIR] FILE|DIR...\n"
    "         Pack files and folders (recursively). Entry names are the paths relative to DIR\n"
    "         (default: the working directory), e.g. data/kestrel/kestrel_sequence.txt.\n"
    "       kestrel_pack list PACK\n"
    "         Print the size and name of every entry.\n"
    "       kestrel_pack extract PACK NAME OUT\n"
    "         Write the entry NAME to the file OUT (\"-\" for standard output).\n";

int UsageError(const std::string& message) {
    if (!message.empty()) std::fprintf(stderr, "kestrel_pack: %s\n", message.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "kestrel_pack: %s\n", message.c_str());
    return 1;
}

// The entry name of `file`: its path relative to `root`, both made absolute and lexically
// normal. Empty when the file does not lie under the root.
std::string EntryNameFor(const fs::path& file, const fs::path& root) {
    std::error_code ec;
    const fs::path absolute_file = fs::absolute(file, ec).lexically_normal();
    if (ec) return {};
    const fs::path absolute_root = fs::absolute(root, ec).lexically_normal();
    if (ec) return {};
    const fs::path relative = absolute_file.lexically_relative(absolute_root);
    const std::string name = relative.generic_string();
    if (name.empty() || name == "." || name.compare(0, 2, "..") == 0) return {};
    return NormalizeAssetName(name);
}

struct PackInput {
    fs::path file;
    std::string name;
};

// True when `a` and `b` are the same file system entry (both must exist).
bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const bool same = fs::equivalent(a, b, ec);
    return !ec && same;
}

int Create(const std::vector<std::string>& args) {
    if (args.empty()) return UsageError("create needs an output pack and at least one file or folder");
    const fs::path out_path = args[0];
    fs::path root = ".";
    std::vector<std::string> paths;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--root") {
            if (i + 1 >= args.size()) return UsageError("--root needs a directory");
            root = args[++i];
            continue;
        }
        paths.push_back(args[i]);
    }
    if (paths.empty()) return UsageError("create needs at least one file or folder");
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return Fail("root " + root.string() + " is not a directory");

    // Gather the files: folders recursively in name order, skipping the pack being written.
    const fs::path temporary_path = out_path.string() + ".tmp";
    std::vector<PackInput> inputs;
    std::map<std::string, fs::path> seen;
    auto add_file = [&](const fs::path& file) -> int {
        if (SameFile(file, out_path) || SameFile(file, temporary_path)) return 0;
        const std::string name = EntryNameFor(file, root);
        if (name.empty()) return Fail(file.string() + " is not inside the root " + root.string());
        const auto previous = seen.find(name);
        if (previous != seen.end()) {
            if (SameFile(previous->second, file)) return 0;
            return Fail("two files give the entry name " + name + ": " + previous->second.string() + " and " +
                        file.string());
        }
        seen[name] = file;
        inputs.push_back({file, name});
        return 0;
    };
    for (const std::string& given : paths) {
        fs::path path = given;
        // A Windows-style path names the same file with forward slashes here.
        if (!fs::exists(path, ec) && given.find('\\') != std::string::npos) {
            path = NormalizeAssetName(given);
        }
        if (fs::is_directory(path, ec)) {
            std::vector<fs::path> files;
            for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
                if (it->is_regular_file(ec)) files.push_back(it->path());
            }
            if (ec) return Fail("cannot read folder " + given + ": " + ec.message());
            for (const fs::path& file : files) {
                if (const int status = add_file(file)) return status;
            }
        } else if (fs::is_regular_file(path, ec)) {
            if (const int status = add_file(path)) return status;
        } else {
            return Fail("no such file or folder: " + given);
        }
    }

    // Entries in name order, so the same files give the same pack whatever order they were named in.
    std::sort(inputs.begin(), inputs.end(), [](const PackInput& a, const PackInput& b) { return a.name < b.name; });

    // Read every file and write the pack in one go.
    std::vector<PackSource> sources;
    sources.reserve(inputs.size());
    for (const PackInput& input : inputs) {
        PackSource source;
        source.name = input.name;
        if (!ReadWholeFile(input.file.string(), source.bytes)) return Fail("cannot read " + input.file.string());
        sources.push_back(std::move(source));
    }
    std::string error;
    if (!WritePack(out_path.string(), sources, &error)) return Fail(error);
    std::printf("wrote %s: %zu entries\n", out_path.string().c_str(), sources.size());
    return 0;
}

int List(const std::vector<std::string>& args) {
    if (args.size() != 1) return UsageError("list needs exactly one pack");
    std::vector<PackDirectoryEntry> directory;
    const bool complete = ReadPackDirectory(args[0], directory);
    for (const PackDirectoryEntry& entry : directory) {
        std::printf("%12llu  %s\n", static_cast<unsigned long long>(entry.size),
                    NormalizeAssetName(entry.name).c_str());
    }
    if (!complete) {
        if (!AssetStore::Exists(args[0])) return Fail("cannot open " + args[0]);
        if (directory.empty()) return Fail(args[0] + " is not a pack or its first entry is damaged");
        return Fail(args[0] + " is damaged after " + std::to_string(directory.size()) + " entries");
    }
    return 0;
}

int Extract(const std::vector<std::string>& args) {
    if (args.size() != 3) return UsageError("extract needs a pack, an entry name and an output file");
    const std::string& pack_path = args[0];
    const std::string name = NormalizeAssetName(args[1]);
    const std::string& out_path = args[2];

    // The same lookup as the show: normalised names, a later entry replaces an earlier one.
    PackIndex index;
    const bool complete = IndexPack(pack_path, index);
    PackEntry entry;
    if (!index.Find(name, entry)) {
        if (!complete) return Fail(pack_path + " is not a pack or is damaged");
        return Fail("no entry " + name + " in " + pack_path);
    }
    if (!complete) std::fprintf(stderr, "kestrel_pack: warning: %s is damaged; entries after the damage are unreadable\n", pack_path.c_str());
    std::vector<std::uint8_t> bytes;
    if (!ReadPackEntry(entry, bytes)) return Fail("cannot read entry " + name);

    const bool to_stdout = out_path == "-";
    std::FILE* out = to_stdout ? stdout : std::fopen(out_path.c_str(), "wb");
    if (!out) return Fail("cannot write " + out_path);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    const bool closed = to_stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
    if (!written || !closed) return Fail("cannot write " + out_path);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return UsageError("");
    const std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "create") return Create(args);
    if (command == "list") return List(args);
    if (command == "extract") return Extract(args);
    return UsageError("unknown command '" + command + "'");
}
