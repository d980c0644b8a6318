#include "driver/convert_table.h"

#include "driver/duplicates.h"
#include "driver/usage.h"
#include "model/path_text.h"
#include "platform/exception.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/text.h"

#include <string_view>

int ConvertTable(int argc, const char* const argv[], const StoreFactory& stores) {
    if (argc != 2) {
        platform::write_console_line(platform::program_message("Неверное количество параметров (должно быть 2)"));
        return -1;
    }
    // A table named like an option is given with a directory: ./--help.
    const std::string_view option = argv[1];
    if (option == "--help" || option == "-h") {
        for (const std::string& line : HelpLines()) platform::write_console_line(line);
        return 0;
    }
    if (option == "--version") {
        platform::write_console_line(VersionLine());
        return 0;
    }

    TDatFileDescList list;
    // Declared in this order, the INI store is deleted before the table
    // store, on the normal path and when an exception leaves.
    std::unique_ptr<TDatFilePath> tableStore = stores.MakeTableStore();
    std::unique_ptr<TDatFilePath> iniStore = stores.MakeIniStore();

    const std::string argument = platform::from_command_line(argv[1]);
    list.Name = FileNamePart(argument);
    platform::write_console_line(list.Name);
    list.Path = ExpandFileName(argument);
    platform::write_console_line(list.Path);

    // Refused before anything is read or upgraded: a table that the Windows
    // programs beside it cannot open, or whose INI file could not be written.
    if (platform::path_too_long(list.Path)) throw Exception(platform::program_message("Слишком длинный путь ") + list.Path);
    const std::string iniPath = ReplaceExtension(list.Path, "INI");
    if (platform::name_too_long(iniPath)) throw Exception(platform::program_message("Слишком длинный путь ") + iniPath);

    // A path that names no table must not erase the INI file and report
    // success: a typo would lose the user's data.
    if (!platform::file_exists(list.Path))
        throw Exception(platform::program_message("Не найден файл таблицы ") + list.Path);

    tableStore->ReadAll(list.Path, list);
    ChangeListExtension(list, "INI");
    iniStore->WriteAll(list.Path, list);
    // Rows that become one INI key are not an error, but the user would not
    // see that all but the last of them are gone from the INI file.
    for (const DuplicateIdentifier& duplicate : FindDuplicateIdentifiers(list))
        platform::write_error_line(DuplicateWarning(duplicate));
    return 0;
}
