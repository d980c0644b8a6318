// Makes and shows the sample path table of the README.
//
//   sample_table create DIR   writes DIR/PATHS.DB: a password-protected, keyed
//                             table without DESCRIPTION, with Cyrillic names
//                             and relative, absolute and empty paths
//   sample_table show TABLE   prints the table's columns and rows

#include "engine/engine.h"
#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/system.h"
#include "platform/text.h"

#include <cstdio>
#include <string>

namespace {

const char kPassword[] = "TRAX_OPR";


struct Row {
    const char* id;
    const char* name;
    const char* file;
};

void create(const std::string& directory) {
    const std::string path = directory + "/PATHS.DB";
    engine::TableSpec definition;
    definition.fields = {{"MASTER_ID", 'A', 8}, {"MASTER_NAME", 'A', 60}, {"MASTER_FILE", 'A', 128}};
    definition.key_fields = 1;
    definition.code_page = 1251;
    definition.password = kPassword;
    engine::create_table(path, definition);

    const Row rows[] = {
        {"AB", "Лицевые счета", "..\\DATA\\AB.DAT"},
        {"CD", "Курсы валют", "LIB\\CD.DAT"},
        {"EF", "Архив за 1998 год", "D:\\OLD\\EF.DAT"},
        {"GH", "Справочник кодов", ""},
        {"IJ", "Отчёты", "REPORTS\\"},
    };
    engine::SessionPassword password(kPassword);
    engine::Table table;
    table.set_table_name(path);
    table.open();
    for (const Row& row : rows) {
        table.insert();
        table.field_by_name("MASTER_ID").set_as_string(row.id);
        table.field_by_name("MASTER_NAME").set_as_string(cp1251(row.name));
        table.field_by_name("MASTER_FILE").set_as_string(row.file);
        table.post();
    }
    platform::write_console_line(path);
}

void show(const std::string& path) {
    engine::SessionPassword password(kPassword);
    engine::Table table;
    table.set_table_name(path);
    table.open();
    std::string header;
    for (int i = 0; i < table.field_count(); ++i) header += (i ? " | " : "") + table.field(i).name();
    platform::write_console_line(header);
    for (; !table.eof(); table.next()) {
        std::string line;
        for (int i = 0; i < table.field_count(); ++i) line += (i ? " | " : "") + table.field(i).as_string();
        platform::write_console_line(line);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sample_table create DIR | sample_table show TABLE\n");
        return 2;
    }
    try {
        const std::string command = argv[1];
        const std::string argument = platform::from_command_line(argv[2]);
        if (command == "create")
            create(argument);
        else if (command == "show")
            show(argument);
        else
            throw Exception("unknown command " + command);
        return 0;
    } catch (const Exception& e) {
        platform::write_error_line(e.Message());
        return 1;
    }
}
