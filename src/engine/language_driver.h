#pragma once
// The language driver of a table: how its text reaches the caller and back,
// and in which order its keys sort. The old engine hands table text over as
// its drivers do, and so do we:
//  - ANSI drivers (Windows code pages), code page 0 and every driver we do
//    not know: the bytes pass through unchanged, both ways. Russian tables
//    labelled "DBWINUS0"/1252 hold Windows-1251 text, and their programs
//    show it as such (seen in tables the old engine wrote).
//  - OEM drivers (DOS code pages): the text is converted between the DOS
//    code page and the Windows code page that the driver pairs it with
//    (866 with 1251, 437 and 850 with 1252, 852 with 1250, ...), whatever
//    the process's own ANSI code page is.

#include "engine/format.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

// The key orders the engine can keep when it inserts.
enum class SortOrder {
    bytes,   // "ascii": byte by byte
    ancyrr,  // Cyrillic over Windows-1251
    cyrr,    // Cyrillic over DOS 866
    other,   // any other: the engine does not insert keys
};

// One language driver the engine recognises: the three facts a header
// holds about it, and what follows from them.
struct DriverInfo {
    const char* id;           // the sort-order id string
    std::uint8_t sort_order;  // the sort-order byte
    int code_page;            // the header's code page
    int ansi_partner;         // 0: an ANSI driver; else the Windows code page of an OEM driver
    SortOrder order;
};

class LanguageDriver {
public:
    // From the header's sort-order byte, sort-order id and code page
    // together; level 3 and 3.5 headers hold only the byte.
    static LanguageDriver identify(const TableHeader& header);
    static LanguageDriver identify(bool level4, std::uint8_t sort_order, const std::string& id,
                                   int code_page);
    // The label of a new table: the recognised driver `id` (with the given
    // code page when the id goes with several); when `id` is empty, the one
    // that goes with the code page (1251 "ancyrr", 866 "cyrr", 437
    // "ascii"), else the byte order "ascii" over that code page. Throws
    // Exception for an id the engine does not recognise.
    static LanguageDriver for_new_table(const std::string& id, int code_page);

    // What a header stores for the driver.
    std::uint8_t sort_order() const { return sort_order_; }
    const std::string& id() const { return id_; }
    int code_page() const { return code_page_; }
    // The id, or "#" and the byte when the header names none: for messages.
    std::string name() const;
    bool recognised() const { return info_ != nullptr; }
    bool converts() const { return translation_ != nullptr; }
    SortOrder order() const;

    // Stored bytes as the caller sees them. Never fails: a DOS character
    // without a partner in the Windows code page reads as a look-alike
    // ("+" for box corners, "a" for alpha), never as "?".
    std::string read(std::string_view stored) const;
    // The same, converting the text where it lies.
    void read_in_place(std::string& text) const { read_in_place(text.data(), text.size()); }
    void read_in_place(char* text, std::size_t size) const;
    // The caller's view of every stored byte.
    const std::array<unsigned char, 256>& read_table() const;
    // The caller's text as stored bytes. Throws Exception, beginning with
    // `subject` (e.g. "Column NAME of table T.DB"), when a character has no
    // partner in the driver's DOS code page.
    std::string write(std::string_view text, const std::string& subject) const;

private:
    struct Translation;  // the tables of an OEM driver
    const DriverInfo* info_ = nullptr;
    const Translation* translation_ = nullptr;
    std::uint8_t sort_order_ = 0;
    std::string id_;
    int code_page_ = 0;
};

}  // namespace engine
