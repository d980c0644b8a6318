#pragma once
// AppendedSections: new sections at the end of an INI file whose lines are
// made while the file is written, never held. A table of n keys written to
// two sections would otherwise sit in memory as 2n lines, their records and
// their index, beside the table itself.
//
// The text is the one that set_value of each row's key to each section in
// turn (row by row, the sections in order within a row) gives for sections
// the file does not hold: each section's header ("[NAME]", CRLF) where its
// first key goes, then one "key=value" line, ended by CRLF, per key. A key
// that matches an earlier row's key (name_folding.h) is that key: the line
// stays where the first row put it, spelled as there, with the value of the
// last such row.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"

namespace ini {

// The keys to write: one per row, and one value per section.
class KeyRows {
public:
    virtual ~KeyRows() = default;
    virtual std::size_t count() const = 0;
    virtual std::string_view key(std::size_t row) const = 0;
    // The row's value for the section at `column`, as it is to be written.
    // It may be made in `room`, which the caller keeps until its next call.
    virtual std::string_view value(std::size_t row, std::size_t column, std::string& room) const = 0;
};

// A key or value that set_value would refuse (check_profile_entry): the
// first such, in the order of the writes.
class RefusedRow : public Exception {
public:
    RefusedRow(std::string message, std::size_t row, std::size_t column)
        : Exception(std::move(message), ErrorKind::refused), row_(row), column_(column) {}
    std::size_t row() const { return row_; }
    std::size_t column() const { return column_; }

private:
    std::size_t row_;
    std::size_t column_;
};

class AppendedSections {
public:
    // The most rows it takes (more throw Exception); a section's keys are
    // then written one by one.
    static constexpr std::size_t kMaxRows = 0xFFFFFE;

    // Checks every key and value, in the order of the writes, and throws
    // RefusedRow for the first that set_value would refuse, or Exception as
    // set_value does for an invalid section name or an entry too large.
    // Keeps the rows by reference: they must outlive this and not change.
    AppendedSections(std::vector<std::string> sections, const KeyRows& rows);

    // The size of the text in bytes.
    std::uint64_t size() const { return size_; }

    // Hands the text to `piece` in consecutive pieces of up to a megabyte,
    // in order.
    void visit(const std::function<void(std::string_view)>& piece) const;

private:
    // What row `row` writes: its own value, another's, or nothing.
    static constexpr std::uint32_t kNoLine = 0xFFFFFFFFu;
    std::uint32_t source(std::size_t row) const {
        return sources_.empty() ? static_cast<std::uint32_t>(row) : sources_[row];
    }

    std::vector<std::string> sections_;
    const KeyRows& rows_;
    // Empty when no two keys match; otherwise, per row, the row whose value
    // its line holds, or kNoLine for a row whose key an earlier row wrote.
    std::vector<std::uint32_t> sources_;
    std::uint64_t size_ = 0;
};

}  // namespace ini
