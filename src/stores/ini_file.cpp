#include "stores/ini_file.h"

#include <functional>
#include <optional>

#include "ini/reading_rules.h"
#include "platform/exception.h"
#include "platform/system.h"

namespace {

// Control characters of an identifier made visible in a message.
std::string printable(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string result;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            result += "\\r";
        } else if (c == '\n') {
            result += "\\n";
        } else if (byte < 0x20) {
            result += "\\x";
            result += kHex[byte >> 4];
            result += kHex[byte & 0x0F];
        } else {
            result += c;
        }
    }
    return result;
}

// "Невозможно записать в файл <file>: идентификатор "<key>" <reason>" and its
// variant for values, in the ANSI code page (1251).
std::string refusal_message(const std::string& fileName, std::string_view section,
                            std::string_view key, ini::ProfileEntryProblem problem) {
    std::string message =
        "\xCD\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE \xE7\xE0\xEF\xE8\xF1\xE0\xF2\xFC \xE2 "
        "\xF4\xE0\xE9\xEB " + fileName;
    if (problem == ini::ProfileEntryProblem::line_break_in_value) {
        // ": значение идентификатора "<key>" в секции <section> содержит перевод
        // строки или нулевой символ"
        message += ": \xE7\xED\xE0\xF7\xE5\xED\xE8\xE5 \xE8\xE4\xE5\xED\xF2\xE8\xF4\xE8\xEA\xE0"
                   "\xF2\xEE\xF0\xE0 \"" + printable(key) +
                   "\" \xE2 \xF1\xE5\xEA\xF6\xE8\xE8 " + std::string(section) +
                   " \xF1\xEE\xE4\xE5\xF0\xE6\xE8\xF2 \xEF\xE5\xF0\xE5\xE2\xEE\xE4 \xF1\xF2\xF0"
                   "\xEE\xEA\xE8 \xE8\xEB\xE8 \xED\xF3\xEB\xE5\xE2\xEE\xE9 \xF1\xE8\xEC\xE2\xEE\xEB";
        return message;
    }
    // ": идентификатор "<key>" "
    message += ": \xE8\xE4\xE5\xED\xF2\xE8\xF4\xE8\xEA\xE0\xF2\xEE\xF0 \"" + printable(key) + "\" ";
    switch (problem) {
        case ini::ProfileEntryProblem::empty_key:
            message += "\xEF\xF3\xF1\xF2";  // "пуст"
            break;
        case ini::ProfileEntryProblem::equals_in_key:
            message += "\xF1\xEE\xE4\xE5\xF0\xE6\xE8\xF2 \xE7\xED\xE0\xEA \"=\"";  // содержит знак "="
            break;
        case ini::ProfileEntryProblem::key_looks_like_section_or_comment:
            // начинается со знака "[" или ";"
            message += "\xED\xE0\xF7\xE8\xED\xE0\xE5\xF2\xF1\xFF \xF1\xEE \xE7\xED\xE0\xEA\xE0 "
                       "\"[\" \xE8\xEB\xE8 \";\"";
            break;
        default:
            // содержит перевод строки или нулевой символ
            message += "\xF1\xEE\xE4\xE5\xF0\xE6\xE8\xF2 \xEF\xE5\xF0\xE5\xE2\xEE\xE4 \xF1\xF2\xF0"
                       "\xEE\xEA\xE8 \xE8\xEB\xE8 \xED\xF3\xEB\xE5\xE2\xEE\xE9 \xF1\xE8\xEC\xE2\xEE\xEB";
            break;
    }
    return message;
}

// Called while a refusal of the document is handled: throws the store's
// message for the key and value (as given, before quoting) when they are
// what was refused, else the document's own exception again.
[[noreturn]] void throw_refusal(const std::string& fileName, std::string_view section, std::string_view key,
                                std::string_view value) {
    const auto problem = ini::check_profile_entry(key, value);
    if (problem == ini::ProfileEntryProblem::none) throw;
    throw Exception(refusal_message(fileName, section, key, problem));
}

// A value as it is written: in double quotes (made in `room`) when a reader
// would not get it back as it is.
std::string_view written_value(std::string_view value, std::string& room) {
    if (ini::profile_value_reads_back(value)) return value;
    room.assign("\"").append(value).append("\"");
    return room;
}

// The rows' values as WriteString writes them.
class QuotedRows : public ini::KeyRows {
public:
    explicit QuotedRows(const ini::KeyRows& rows) : rows_(rows) {}
    std::size_t count() const override { return rows_.count(); }
    std::string_view key(std::size_t row) const override { return rows_.key(row); }
    std::string_view value(std::size_t row, std::size_t column, std::string& room) const override {
        return written_value(rows_.value(row, column, room), quoted_);
    }

private:
    const ini::KeyRows& rows_;
    mutable std::string quoted_;
};

// A name the platform cannot expand is used as given.
std::string Resolved(const std::string& fileName) {
    std::string full = platform::full_path(fileName);
    return full.empty() ? fileName : full;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)), file_(Resolved(fileName_)) {}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) {
    if (auto value = file_.document().value(section, key)) return std::move(*value);
    std::string result(defaultValue);
    while (!result.empty() && result.back() == ' ') result.pop_back();
    return result;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    // The document checks the texts itself and changes nothing when it
    // refuses them; only then is the reason worked out, for the message.
    std::string quoted;
    try {
        file_.document().set_value(section, key, written_value(value, quoted));
    } catch (const Exception&) {
        throw_refusal(fileName_, section, key, value);
    }
}

void TIniFile::WriteRows(const std::vector<std::string>& sections, const ini::KeyRows& rows) {
    bool one_by_one = rows.count() > ini::AppendedSections::kMaxRows;
    for (const std::string& section : sections) one_by_one = one_by_one || file_.document().holds_section(section);
    if (one_by_one) {
        // Keys go among the lines already there (or a table of over 16
        // million rows goes in), one by one.
        for (const std::string& section : sections) file_.document().reserve(section, rows.count());
        std::string room;
        for (std::size_t row = 0; row < rows.count(); ++row) {
            for (std::size_t column = 0; column < sections.size(); ++column)
                WriteString(sections[column], rows.key(row), rows.value(row, column, room));
        }
        UpdateFile();
        return;
    }
    const QuotedRows quoted(rows);
    std::optional<ini::AppendedSections> appended;
    try {
        appended.emplace(sections, quoted);
    } catch (const ini::RefusedRow& refused) {
        std::string room;
        throw_refusal(fileName_, sections[refused.column()], rows.key(refused.row()),
                      rows.value(refused.row(), refused.column(), room));
    }
    SaveReportingFailure([&] { file_.save(*appended); });
}

void TIniFile::ReadSection(std::string_view section, std::vector<std::string>& keys) {
    keys = file_.document().key_names(section);
}

void TIniFile::EraseSection(std::string_view section) { file_.erase_section(section); }

void TIniFile::UpdateFile() {
    SaveReportingFailure([&] { file_.save(); });
}

void TIniFile::SaveReportingFailure(const std::function<void()>& save) {
    try {
        save();
    } catch (const Exception& e) {
        // The message of the INI store, and on its own line what the system
        // said.
        throw Exception("Unable to write to " + fileName_ + "\n" + e.Message(), e.Kind(), e.Reason());
    }
}
