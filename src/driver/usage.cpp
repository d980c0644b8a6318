#include "driver/usage.h"

#include "platform/messages.h"

#ifndef P2I_VERSION
#error "P2I_VERSION is defined by the build: the project's version"
#endif

namespace {

// Only ASCII and Cyrillic survive the message literals (platform/cp1251.h):
// no typographic dashes or quotes.
constexpr const char* kHelp[] = {
    "path2ini - преобразует таблицу путей в INI-файл.",
    "",
    "Использование:",
    "  path2ini ТАБЛИЦА",
    "  path2ini --help | -h",
    "  path2ini --version",
    "",
    "ТАБЛИЦА - путь к файлу таблицы путей (таблица Paradox, .DB) со столбцами",
    "MASTER_ID, MASTER_NAME и MASTER_FILE, абсолютный или относительно текущего",
    "каталога. Программа выводит имя и полный путь таблицы, читает все ее строки",
    "и пишет рядом с таблицей INI-файл с тем же именем и расширением .INI",
    "(PATHS.DB дает PATHS.INI). Идентификаторы не различают регистр букв: из",
    "нескольких строк с одним идентификатором записывается последняя.",
    "",
    "Что меняется на диске:",
    "  - в таблицу без столбца DESCRIPTION этот столбец добавляется (один раз);",
    "  - в INI-файле секции NAME и PATH записываются заново, секция PRIORITY",
    "    удаляется, остальные секции сохраняются без изменений.",
    "При ошибке INI-файл не изменяется.",
    "",
    "Коды завершения:",
    "  0    INI-файл записан;",
    "  -1   неверное количество параметров (в Linux 255);",
    "  3    ошибка; причина выводится в поток ошибок.",
};

}  // namespace

std::vector<std::string> HelpLines() {
    std::vector<std::string> lines;
    for (const char* line : kHelp) lines.push_back(platform::program_message(line));
    return lines;
}

std::string VersionLine() { return std::string("path2ini ") + P2I_VERSION; }
