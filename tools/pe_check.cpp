// Checks a built Windows module against the project's single sources: its
// export table (the entry points, the key query, the worker offer and the motion carry's lending, nothing else), its
// imports (system DLLs only), and its resources (every PiPL byte-identical to
// the generator's, every string of the string table and nothing more, both
// dialog templates).
//
//   zoka_pe_check MODULE.aex
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/effect_factory.h"
#include "resources/module_pipls.h"
#include "resources/string_table.h"

namespace {

class PeFile {
public:
    explicit PeFile(std::vector<uint8_t> bytes) : b_(std::move(bytes)) {
        const uint32_t pe = U32(0x3C);
        const uint16_t sections = U16(pe + 6);
        const uint16_t optionalSize = U16(pe + 20);
        const uint32_t optional = pe + 24;
        const bool plus = U16(optional) == 0x20B;
        directories_ = optional + (plus ? 112 : 96);
        for (uint32_t s = 0; s < sections; ++s) {
            const uint32_t h = optional + optionalSize + s * 40;
            sections_.push_back(Section{U32(h + 12), U32(h + 8), U32(h + 20)});
        }
    }
    uint16_t U16(uint32_t at) const { return Take<uint16_t>(at); }
    uint32_t U32(uint32_t at) const { return Take<uint32_t>(at); }
    uint32_t DirectoryRva(int index) const { return U32(directories_ + 8 * index); }
    // The file offset of a relative virtual address.
    uint32_t Offset(uint32_t rva) const {
        for (const Section& s : sections_) {
            if (rva >= s.rva && rva < s.rva + s.size) return rva - s.rva + s.raw;
        }
        throw std::runtime_error("an address outside every section");
    }
    std::string Text(uint32_t rva) const {
        const uint32_t at = Offset(rva);
        return std::string(reinterpret_cast<const char*>(&b_.at(at)),
                           strnlen(reinterpret_cast<const char*>(&b_.at(at)), b_.size() - at));
    }
    std::vector<uint8_t> Bytes(uint32_t rva, uint32_t size) const {
        const uint32_t at = Offset(rva);
        if (at + size > b_.size()) throw std::runtime_error("data past the end of the file");
        return std::vector<uint8_t>(b_.begin() + at, b_.begin() + at + size);
    }

private:
    struct Section {
        uint32_t rva, size, raw;
    };
    template <typename T>
    T Take(uint32_t at) const {
        if (at + sizeof(T) > b_.size()) throw std::runtime_error("a read past the end of the file");
        T v;
        std::memcpy(&v, &b_[at], sizeof v);
        return v;
    }
    std::vector<uint8_t> b_;
    uint32_t directories_ = 0;
    std::vector<Section> sections_;
};

// Resources by type (a number, or a name), id and language.
struct ResourceKey {
    std::string type;
    uint32_t id;
    uint32_t language;
    auto operator<=>(const ResourceKey&) const = default;
};

class ResourceReader {
public:
    explicit ResourceReader(const PeFile& pe) : pe_(pe), base_(pe.DirectoryRva(2)) {}
    std::map<ResourceKey, std::vector<uint8_t>> All() {
        std::map<ResourceKey, std::vector<uint8_t>> out;
        for (const auto& [type, typeDir] : Entries(0)) {
            for (const auto& [name, nameDir] : Entries(typeDir & 0x7FFFFFFF)) {
                for (const auto& [language, data] : Entries(nameDir & 0x7FFFFFFF)) {
                    const uint32_t entry = pe_.Offset(base_ + data);
                    const uint32_t rva = pe_.U32(entry);
                    const uint32_t size = pe_.U32(entry + 4);
                    out[ResourceKey{type, static_cast<uint32_t>(std::stoul(name)),
                                    static_cast<uint32_t>(std::stoul(language))}] = pe_.Bytes(rva, size);
                }
            }
        }
        return out;
    }

private:
    // The entries of a directory: name (a number, or a string) and target.
    std::vector<std::pair<std::string, uint32_t>> Entries(uint32_t directory) {
        const uint32_t at = pe_.Offset(base_ + directory);
        const uint32_t count = pe_.U16(at + 12) + pe_.U16(at + 14);
        std::vector<std::pair<std::string, uint32_t>> entries;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t name = pe_.U32(at + 16 + 8 * i);
            const uint32_t target = pe_.U32(at + 20 + 8 * i);
            entries.emplace_back(name & 0x80000000 ? NameAt(name & 0x7FFFFFFF) : std::to_string(name),
                                 target);
        }
        return entries;
    }
    std::string NameAt(uint32_t offset) {
        const uint32_t at = pe_.Offset(base_ + offset);
        std::string name;
        for (uint16_t i = 0, n = pe_.U16(at); i < n; ++i) name += static_cast<char>(pe_.U16(at + 2 + 2 * i));
        return name;
    }
    const PeFile& pe_;
    uint32_t base_;
};

std::u16string Utf16FromAnsi(const char* text) {
    std::u16string out;
    for (const char* p = text; *p; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte >= 0x80 && byte < 0xA0) throw std::runtime_error("a text outside Latin-1");
        out += static_cast<char16_t>(byte);
    }
    return out;
}

int failures = 0;
void Check(bool ok, const std::string& what) {
    if (!ok) {
        std::printf("FAILED: %s\n", what.c_str());
        ++failures;
    }
}

void CheckExports(const PeFile& pe) {
    const uint32_t dir = pe.Offset(pe.DirectoryRva(0));
    std::set<std::string> names;
    for (uint32_t i = 0, n = pe.U32(dir + 24); i < n; ++i) {
        names.insert(pe.Text(pe.U32(pe.Offset(pe.U32(dir + 32)) + 4 * i)));
    }
    std::set<std::string> expected{"ZokaDescribeEffect", "ZokaOfferWorkers", "ZokaLendMotionCarry"};
    for (const auto& e : zoka::RegisteredEffects()) expected.insert(e.entryName);
    Check(names == expected,
          "the exports are the 21 entry points, the key query, the worker offer and the motion carry's lending");
    std::printf("exports: %zu names\n", names.size());
}

void CheckImports(const PeFile& pe) {
    const std::set<std::string> system{"KERNEL32.dll", "USER32.dll", "msvcrt.dll"};
    for (uint32_t at = pe.Offset(pe.DirectoryRva(1)); pe.U32(at + 12) != 0; at += 20) {
        const std::string dll = pe.Text(pe.U32(at + 12));
        Check(system.count(dll) == 1, "an import of " + dll + ", which is no system DLL");
        std::printf("imports: %s\n", dll.c_str());
    }
}

void CheckResources(const PeFile& pe) {
    const auto resources = ResourceReader(pe).All();
    size_t pipls = 0;
    for (const auto& pipl : zoka::ModulePipls()) {
        const auto it = resources.find(ResourceKey{"PIPL", static_cast<uint32_t>(pipl.id), 1033});
        Check(it != resources.end() && it->second == pipl.data,
              "PiPL " + std::to_string(pipl.id) + " as the generator writes it");
        ++pipls;
    }
    std::map<uint32_t, std::u16string> strings;
    for (const auto& [key, data] : resources) {
        if (key.type != "6") continue;
        Check(key.language == 1033, "string block " + std::to_string(key.id) + " in language 1033");
        size_t at = 0;
        for (uint32_t i = 0; i < 16; ++i) {
            const uint16_t length = static_cast<uint16_t>(data.at(at) | data.at(at + 1) << 8);
            std::u16string text;
            for (uint16_t c = 0; c < length; ++c) {
                text += static_cast<char16_t>(data.at(at + 2 + 2 * c) | data.at(at + 3 + 2 * c) << 8);
            }
            if (length > 0) strings[(key.id - 1) * 16 + i] = text;
            at += 2 + 2u * length;
        }
    }
    std::map<uint32_t, std::u16string> expected;
    for (const zoka::StringEntry& e : zoka::StringTable()) expected[e.id] = Utf16FromAnsi(e.text);
    Check(strings == expected, "the string table holds exactly the table's texts");
    for (const uint32_t dialog : {101u, 141u}) {
        Check(resources.count(ResourceKey{"5", dialog, 1033}) == 1,
              "dialog " + std::to_string(dialog));
    }
    const auto contains = [&](uint32_t dialog, const char* text) {
        const auto it = resources.find(ResourceKey{"5", dialog, 1033});
        if (it == resources.end()) return false;
        const std::u16string wanted = Utf16FromAnsi(text);
        const std::u16string data(reinterpret_cast<const char16_t*>(it->second.data()),
                                  it->second.size() / 2);
        return data.find(wanted) != std::u16string::npos;
    };
    for (const char* button : {"*** Save", "*** Load", "*** Delete", "*** Cancel"}) {
        Check(contains(101, button), std::string("dialog 101 has ") + button);
    }
    for (const char* button : {"(OK)", "(Cancel)"}) {
        Check(contains(141, button), std::string("dialog 141 has ") + button);
    }
    std::printf("resources: %zu PiPLs, %zu strings, dialogs 101 and 141\n", pipls, strings.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zoka_pe_check MODULE.aex\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    try {
        const PeFile pe(std::move(bytes));
        CheckExports(pe);
        CheckImports(pe);
        CheckResources(pe);
    } catch (const std::exception& e) {
        std::printf("FAILED: %s is no readable module: %s\n", argv[1], e.what());
        return 1;
    }
    std::printf(failures == 0 ? "%s: every check passed\n" : "%s: checks failed\n", argv[1]);
    return failures == 0 ? 0 : 1;
}
