#include "assets/asset_pack.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <system_error>
#include <filesystem>

namespace {

std::uint32_t LoadU32(const unsigned char* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

std::uint64_t LoadU64(const unsigned char* p) {
    const std::uint64_t low = LoadU32(p);
    const std::uint64_t high = LoadU32(p + 4);
    return low | (high << 32);
}

void StoreU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void StoreU64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Size of a regular file through the file system; false for directories and missing files.
bool RegularFileSize(const std::string& path, std::uint64_t& size) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || ec) return false;
    const std::uintmax_t bytes = std::filesystem::file_size(path, ec);
    if (ec) return false;
    size = bytes;
    return true;
}

}  // namespace

std::string NormalizeAssetName(std::string name) {
    for (char& c : name) {
        if (c == '\\') c = '/';
    }
    std::size_t skip = 0;
    while (name.compare(skip, 2, "./") == 0) skip += 2;
    name.erase(0, skip);
    return name;
}

namespace {

// Calls `record(name, offset, size)` for each directory record in file order, the name's bytes
// valid only during the call, after telling `expect` how many records there can be at most. Every
// record and every data block must lie inside the file; the count is not trusted: a damaged count
// runs into the end of the file after a few records.
bool ForEachPackRecord(const std::string& path, const std::function<void(std::uint64_t)>& expect,
                       const std::function<bool(std::string_view, std::uint64_t, std::uint64_t)>& record) {
    std::uint64_t file_size = 0;
    if (path.empty() || !RegularFileSize(path, file_size)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;

    // Header: the magic and the entry count.
    unsigned char header[kPackHeaderBytes];
    if (file_size < kPackHeaderBytes) return false;
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return false;
    if (std::memcmp(header, kPackMagic, sizeof kPackMagic) != 0) return false;
    const std::uint32_t count = LoadU32(header + 8);
    // Each record takes at least 21 bytes of the file.
    if (expect) expect(std::min<std::uint64_t>(count, (file_size - kPackHeaderBytes) / (kPackEntryFixedBytes + 1)));

    std::string name;
    std::uint64_t p = kPackHeaderBytes;
    for (std::uint32_t i = 0; i < count; ++i) {
        unsigned char fixed[kPackEntryFixedBytes];
        if (p + kPackEntryFixedBytes > file_size) return false;
        if (!in.read(reinterpret_cast<char*>(fixed), sizeof fixed)) return false;
        const std::uint32_t name_length = LoadU32(fixed);
        const std::uint64_t offset = LoadU64(fixed + 4);
        const std::uint64_t size = LoadU64(fixed + 12);
        const bool name_fits = name_length != 0 && p + kPackEntryFixedBytes + name_length <= file_size;
        const bool data_fits = offset <= file_size && file_size - offset >= size;
        if (!name_fits || !data_fits) return false;

        name.resize(name_length);
        if (!in.read(name.data(), name_length)) return false;
        if (!record(name, offset, size)) return false;
        p += kPackEntryFixedBytes + name_length;
    }
    return true;
}

}  // namespace

bool ReadPackDirectory(const std::string& path, std::vector<PackDirectoryEntry>& out) {
    return ForEachPackRecord(path, {}, [&out](std::string_view name, std::uint64_t offset, std::uint64_t size) {
        out.push_back(PackDirectoryEntry{std::string(name), offset, size});
        return true;
    });
}

bool PackIndex::Load(const std::string& path) {
    path_ = path;
    names_.clear();
    records_.clear();
    names_.shrink_to_fit();
    records_.shrink_to_fit();

    // 1. Every record in file order, its normalised name appended to the one block. A name block
    //    beyond 4 GiB (only a hostile directory has one) counts as damage.
    const auto expect = [this](std::uint64_t records) { records_.reserve(static_cast<std::size_t>(records)); };
    const bool complete = ForEachPackRecord(path, expect, [this](std::string_view raw, std::uint64_t offset, std::uint64_t size) {
        const std::string name = NormalizeAssetName(std::string(raw));
        if (name.empty()) return true;
        if (names_.size() + name.size() > 0xFFFFFFFFu) return false;
        records_.push_back(Record{offset, size, static_cast<std::uint32_t>(names_.size()),
                                  static_cast<std::uint32_t>(name.size())});
        names_ += name;
        return true;
    });

    // 2. By name, and in file order among equal names (names were appended in file order); then
    //    the last of each name stays.
    std::sort(records_.begin(), records_.end(), [this](const Record& a, const Record& b) {
        const std::string_view name_a = NameOf(a);
        const std::string_view name_b = NameOf(b);
        return name_a != name_b ? name_a < name_b : a.name_at < b.name_at;
    });
    std::size_t kept = 0;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const bool last_of_name = i + 1 == records_.size() || NameOf(records_[i]) != NameOf(records_[i + 1]);
        if (last_of_name) records_[kept++] = records_[i];
    }
    records_.resize(kept);
    records_.shrink_to_fit();
    return complete;
}

bool PackIndex::Find(std::string_view name, PackEntry& entry) const {
    const auto it = std::lower_bound(records_.begin(), records_.end(), name,
                                     [this](const Record& r, std::string_view key) { return NameOf(r) < key; });
    if (it == records_.end() || NameOf(*it) != name) return false;
    entry = PackEntry{path_, it->offset, it->size};
    return true;
}

void PackIndex::ForEach(const std::function<void(std::string_view, const PackEntry&)>& visit) const {
    for (const Record& r : records_) visit(NameOf(r), PackEntry{path_, r.offset, r.size});
}

bool IndexPack(const std::string& path, PackIndex& index) { return index.Load(path); }

bool ReadPackEntry(const PackEntry& entry, std::vector<std::uint8_t>& out) {
    out.clear();
    if (entry.size > kMaxAssetBytes) return false;
    std::ifstream in(entry.pack_path, std::ios::binary);
    if (!in) return false;
    if (entry.size == 0) return true;
    // The pack may have changed since it was indexed: a seek or read past its end fails here.
    if (entry.offset > static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max())) return false;
    out.resize(static_cast<std::size_t>(entry.size));
    in.seekg(static_cast<std::streamoff>(entry.offset));
    if (!in || !in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(entry.size))) {
        out.clear();
        return false;
    }
    return true;
}

bool EncodePack(const std::vector<PackSource>& sources, std::vector<std::uint8_t>& out, std::string* error) {
    out.clear();
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        out.clear();
        return false;
    };
    if (sources.size() > std::numeric_limits<std::uint32_t>::max()) return fail("too many entries");

    // Names first: the directory size fixes where the data blocks start.
    std::vector<std::string> names;
    names.reserve(sources.size());
    std::uint64_t directory_end = kPackHeaderBytes;
    for (const PackSource& source : sources) {
        std::string name = NormalizeAssetName(source.name);
        if (name.empty()) return fail("empty entry name for '" + source.name + "'");
        if (name.size() > std::numeric_limits<std::uint32_t>::max()) return fail("entry name too long");
        directory_end += kPackEntryFixedBytes + name.size();
        names.push_back(std::move(name));
    }

    // Header and directory, then the data blocks back to back in entry order.
    out.insert(out.end(), kPackMagic, kPackMagic + sizeof kPackMagic);
    StoreU32(out, static_cast<std::uint32_t>(sources.size()));
    std::uint64_t data_offset = directory_end;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const std::uint64_t size = sources[i].bytes.size();
        StoreU32(out, static_cast<std::uint32_t>(names[i].size()));
        StoreU64(out, data_offset);
        StoreU64(out, size);
        out.insert(out.end(), names[i].begin(), names[i].end());
        data_offset += size;
    }
    for (const PackSource& source : sources) out.insert(out.end(), source.bytes.begin(), source.bytes.end());
    return true;
}

bool WritePack(const std::string& path, const std::vector<PackSource>& sources, std::string* error) {
    std::vector<std::uint8_t> bytes;
    if (!EncodePack(sources, bytes, error)) return false;

    // Write beside the target and rename, so a failed write never leaves a half pack behind.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            if (error) *error = "cannot write " + temporary;
            return false;
        }
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            if (error) *error = "cannot write " + temporary;
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        if (error) *error = "cannot replace " + path;
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
