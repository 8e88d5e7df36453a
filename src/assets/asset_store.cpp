#include "assets/asset_store.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <unistd.h>

#include "assets/stb_image_impl.h"

namespace {

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

// Directory part of a path: trailing separators stripped, the last component dropped, then the
// separators before it stripped. "bin/kestrel_prod" -> "bin", "kestrel_prod" -> "", "/x" -> "".
std::string DirectoryOf(std::string path) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    path.erase(slash);
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

std::string TrimSpaces(const std::string& text) {
    const char* space = " \t\r\n";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

bool StartsWithPack(const std::string& target) { return target.compare(0, 5, "pack:") == 0; }

}  // namespace

std::string RunningExecutableDirectory() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    return DirectoryOf(std::string(buffer, static_cast<std::size_t>(length)));
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
    out.clear();
    if (path.empty()) return false;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return false;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxAssetBytes) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    if (size == 0) return true;
    out.resize(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size))) {
        out.clear();
        return false;
    }
    return true;
}

void AssetStore::SetBase(const std::string& exe_path) {
    base = exe_path;
    // The directory part of argv[0], as the program was started.
    exe_dir = DirectoryOf(base);
    // A bare name was found through PATH and says nothing about where the program lies; the
    // kernel knows where the running program is.
    if (!base.empty() && base.find('/') == std::string::npos) exe_dir = RunningExecutableDirectory();
    manifest_loaded = false;
    manifest.clear();
}

void AssetStore::SetExecutableDirectory(const std::string& dir) {
    exe_dir = dir;
    manifest_loaded = false;
    manifest.clear();
}

bool AssetStore::Exists(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    return std::filesystem::exists(path, ec) && !ec;
}

std::string AssetStore::Locate(const std::string& name) const {
    if (name.empty()) return name;
    if (Exists(name)) return name;
    if (!IsAbsolute(name) && !exe_dir.empty()) {
        std::string beside = exe_dir + "/" + name;
        if (Exists(beside)) return beside;
    }
    return name;
}

std::string AssetStore::ResolvePath(const std::string& name) {
    if (name.empty()) return name;
    const std::string located = Locate(name);
    if (Exists(located)) return located;
    if (IsAbsolute(name)) return name;

    LoadManifest();
    const auto mapping = manifest.find(Normalize(name));
    if (mapping != manifest.end() && !StartsWithPack(mapping->second)) {
        const std::string& target = mapping->second;
        const std::string target_located = Locate(target);
        return Exists(target_located) ? target_located : target;
    }
    return name;
}

bool AssetStore::ReadAsset(const std::string& name, std::vector<std::uint8_t>& out) {
    out.clear();
    if (name.empty()) return false;

    // 1. Loose file, here or next to the executable.
    if (ReadWholeFile(Locate(name), out)) return true;

    // 2. The manifest's redirection.
    const std::string normalized = Normalize(name);
    LoadManifest();
    const auto mapping = manifest.find(normalized);
    if (mapping != manifest.end()) {
        const std::string& target = mapping->second;
        bool found = false;
        if (StartsWithPack(target)) {
            // Entries read before a damage in that pack are still served.
            std::string pack;
            IndexPackAt(target.substr(5), pack);
            found = ReadFromPack(pack, normalized, out);
        } else {
            found = ReadWholeFile(Locate(target), out);
        }
        if (found) return true;
    }

    // 3. The default pack.
    std::string pack;
    IndexPackAt(kDefaultPackName, pack);
    return ReadFromPack(pack, normalized, out);
}

bool AssetStore::ReadText(const std::string& name, std::string& out) {
    std::vector<std::uint8_t> bytes;
    if (!ReadAsset(name, bytes)) return false;
    out.assign(bytes.begin(), bytes.end());
    return true;
}

bool AssetStore::LoadImage(const std::string& name, Image& out, std::string* message) {
    out.width = 0;
    out.height = 0;
    out.rgba.clear();
    auto report = [&](const std::string& text) {
        if (message) *message = text;
    };

    std::vector<std::uint8_t> bytes;
    if (!ReadAsset(name, bytes)) {
        report("missing " + name);
        return false;
    }
    if (bytes.size() >= (std::size_t{1} << 31)) {
        report("too large " + name);
        return false;
    }
    std::string reason;
    if (!DecodeImageRgba8(bytes.data(), bytes.size(), out, reason)) {
        report("could not decode " + name + (reason.empty() ? "" : ": " + reason));
        return false;
    }
    report("loaded " + name);
    return true;
}

bool AssetStore::IndexPackAt(const std::string& pack_name, std::string& located) {
    located = Locate(pack_name);
    if (loaded_packs.count(located)) return true;
    // A damaged pack keeps the entries read before the damage and is not recorded as loaded, so
    // the next call reads the file again.
    PackIndex& index = entries[located];
    const bool complete = IndexPack(located, index);
    if (index.Empty()) entries.erase(located);
    if (complete) loaded_packs.insert(located);
    return complete;
}

bool AssetStore::LoadPackIndex(const std::string& pack_name) {
    std::string located;
    return IndexPackAt(pack_name, located);
}

bool AssetStore::ReadFromPack(const std::string& located_pack, const std::string& name,
                              std::vector<std::uint8_t>& out) {
    out.clear();
    const auto pack = entries.find(located_pack);
    if (pack == entries.end()) return false;
    PackEntry entry;
    if (!pack->second.Find(name, entry)) return false;
    return ReadPackEntry(entry, out);
}

void AssetStore::LoadManifest() {
    if (manifest_loaded) return;
    manifest_loaded = true;
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(Locate(kManifestName), bytes)) return;
    ParseManifest(std::string(bytes.begin(), bytes.end()), manifest);
}

void ParseManifest(const std::string& text, std::map<std::string, std::string>& manifest) {
    std::size_t line_start = 0;
    while (line_start <= text.size()) {
        std::size_t line_end = text.find('\n', line_start);
        if (line_end == std::string::npos) line_end = text.size();
        std::string line = text.substr(line_start, line_end - line_start);
        line_start = line_end + 1;

        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line = TrimSpaces(line);
        const std::size_t equals = line.find('=');
        if (line.empty() || equals == std::string::npos) continue;
        const std::string name = AssetStore::Normalize(TrimSpaces(line.substr(0, equals)));
        const std::string target = TrimSpaces(line.substr(equals + 1));
        if (!name.empty() && !target.empty()) manifest[name] = target;
    }
}
