// Writes seed inputs for the reader fuzzer: small tables of every level,
// keyed and not, encrypted and not, made by our own engine.
//   engine_fuzz_seeds <directory>

#include "engine/engine.h"
#include "platform/file_system.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

std::string read(const std::string& path) {
    if (!std::filesystem::exists(path)) return {};
    return platform::read_whole_file(path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string out = argv[1];
    std::filesystem::create_directories(out);
    const std::string work = out + "/.work";
    std::filesystem::create_directories(work);
    engine::Session::instance().add_password("TRAX_OPR");
    int n = 0;
    for (int level : {3, 4, 5, 7}) {
        for (bool keyed : {false, true}) {
            for (bool encrypted : {false, true}) {
                const std::string path = work + "/T" + std::to_string(n) + ".DB";
                engine::TableSpec definition;
                definition.level = level;
                definition.block_size_kb = 1;
                definition.code_page = level >= 5 ? 1251 : 866;
                definition.fields = {{"ID", 'A', 8}, {"N", 'I', 0}, {"X", 'N', 0}, {"D", 'D', 0}, {"L", 'L', 0}};
                if (level >= 5) definition.fields.push_back({"T", '@', 0});
                definition.key_fields = keyed ? 1 : 0;
                definition.password = encrypted ? "TRAX_OPR" : "";
                engine::create_table(path, definition);
                engine::Table table;
                table.set_table_name(path);
                table.open();
                for (int i = 0; i < 12; ++i) {
                    table.insert();
                    table.field(0).set_as_string("K" + std::to_string((i * 7) % 12));
                    table.field(1).set_as_string(std::to_string(i * 1000 - 5));
                    table.field(2).set_as_string(std::to_string(i) + ".5");
                    table.field(3).set_as_string("01.02.2003");
                    table.field(4).set_as_string(i % 2 ? "True" : "False");
                    table.post();
                }
                table.close();
                const std::string db = read(path);
                const std::size_t length = db.size() > 0xFFFF ? 0xFFFF : db.size();
                std::string seed;
                seed += static_cast<char>(length & 0xFF);
                seed += static_cast<char>(length >> 8);
                seed += db.substr(0, length);
                std::FILE* f = std::fopen((out + "/seed" + std::to_string(n) + ".bin").c_str(), "wb");
                if (f == nullptr) return 1;
                std::fwrite(seed.data(), 1, seed.size(), f);
                std::fclose(f);
                ++n;
            }
        }
    }
    std::filesystem::remove_all(work);
    std::printf("%d seeds in %s\n", n, out.c_str());
    return 0;
}
