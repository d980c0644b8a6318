#include "ini/profile_file.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "ini/name_folding.h"
#include "ini/reading_rules.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/path_parts.h"
#include "platform/text.h"

namespace ini {
namespace {

// Files are compared and written in pieces of this size.
constexpr std::size_t kChunk = 1 << 20;
// Pieces of the text at least this long are not copied into a piece of
// kChunk first.
constexpr std::size_t kDirectPiece = 16 * 1024;

using Producer = std::function<void(const platform::ContentSink&)>;

// True when the file holds exactly the bytes `produce` hands over (of
// `expected_size` bytes, when known); false too when it cannot be read.
bool file_holds(const std::string& path, const Producer& produce,
                std::optional<std::uint64_t> expected_size = std::nullopt) {
    try {
        const auto file = platform::file_system().open(path, platform::OpenMode::read);
        const std::uint64_t size = file->size();
        if (expected_size && *expected_size != size) return false;
        std::vector<char> buffer(kChunk);
        std::uint64_t offset = 0;
        bool same = true;
        produce([&](std::string_view piece) {
            while (same && !piece.empty()) {
                const std::size_t n = file->read_at(offset, buffer.data(), std::min(piece.size(), buffer.size()));
                if (n == 0 || std::memcmp(piece.data(), buffer.data(), n) != 0) same = false;
                offset += n;
                piece.remove_prefix(n);
            }
        });
        return same && offset == size;
    } catch (const Exception&) {
        return false;
    }
}

// Puts the content in the file: atomically, by a temporary renamed over
// it. A file that another program holds open without sharing its deletion
// (many programs open their INI files so, sharing reading and writing)
// cannot be renamed over, but the Windows profile functions still write it:
// in place. So does this, when and only when sharing refused the replace,
// under a rollback journal (so that a crash leaves the old text or the new
// one), and reads the file back: another program's writes in the meantime
// must not pass for ours.
void put_content(const std::string& path, const Producer& produce) {
    try {
        platform::write_stream_atomically(path, produce);
        return;
    } catch (const Exception&) {
        if (!platform::file_system().replace_blocked_by_sharing(path)) throw;
    }
    platform::write_stream_in_place(path, produce);
    if (!file_holds(path, produce))
        throw Exception(path + ": another program changed the file while it was written");
}

}  // namespace

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

ProfileFile::~ProfileFile() = default;

ProfileDocument& ProfileFile::document() {
    if (!document_) load();
    return *document_;
}

void ProfileFile::erase_section(std::string_view section) {
    if (document_) {
        document_->erase_section(section);
    } else {
        erase_on_load_.emplace_back(section);
    }
}

// An ANSI file (no byte-order mark) read piece by piece, leaving out the
// sections erased before the load: the document that loading the whole file
// and erasing them gives. False, having loaded nothing, for a file of
// another encoding or too large for a document, which are loaded whole.
bool ProfileFile::load_ansi_without_erased() {
    const auto file = platform::file_system().open(path_, platform::OpenMode::read);
    if (file->size() > ProfileDocument::kMaxText) return false;
    std::vector<std::string> erased;
    for (const std::string& name : erase_on_load_) erased.push_back(fold(name));
    const auto is_erased = [&erased](std::string_view name) {
        return std::find(erased.begin(), erased.end(), fold(name)) != erased.end();
    };

    std::string kept;
    std::string block;  // whole lines, then the start of one
    std::uint64_t offset = 0;
    bool erasing = false;
    for (bool end = false; !end;) {
        const std::size_t carried = block.size();
        block.resize(carried + kChunk);
        const std::size_t read = file->read_at(offset, block.data() + carried, kChunk);  // short only at the end
        block.resize(carried + read);
        end = read < kChunk;
        if (offset == 0 && profile_encoding_of(block) != ProfileEncoding::ansi) return false;
        offset += read;
        // The whole lines: up to the last line break, or to the end.
        std::size_t whole = block.size();
        if (!end) {
            while (whole > 0 && !is_line_break(block[whole - 1])) --whole;
            if (whole == 0) continue;  // a line longer than a piece: read on
        }
        const std::string_view lines(block.data(), whole);
        std::size_t section_start = 0;
        for_each_header(lines, [&](std::size_t pos, std::string_view name) {
            if (!erasing) kept.append(lines.substr(section_start, pos - section_start));
            section_start = pos;
            erasing = is_erased(name);
            erased_on_load_ = erased_on_load_ || erasing;
        });
        if (!erasing) kept.append(lines.substr(section_start));
        block.erase(0, whole);
    }
    // An erased section ends the text only after a line break, so the kept
    // text ends where the file does or with a line break: its end is the
    // file's for the end-of-file mark.
    drop_end_of_file_mark(kept);
    document_.emplace(std::move(kept));
    return true;
}

void ProfileFile::load() {
    try {
        // An in-place save that a crash interrupted leaves a mix of old and
        // new text; its journal puts the old one back.
        platform::recover_file(path_);
    } catch (const Exception&) {
        existed_ = platform::file_system().kind(path_) != platform::FileKind::missing;
        unreadable_ = true;
        document_.emplace();
        return;
    }
    switch (platform::file_system().kind(path_)) {
        case platform::FileKind::missing:
            document_.emplace();
            return;
        case platform::FileKind::file:
            existed_ = true;
            try {
                if (!erase_on_load_.empty() && load_ansi_without_erased()) return;
                ProfileText loaded = decode_profile(platform::read_whole_file(path_));
                encoding_ = loaded.encoding;
                document_.emplace(std::move(loaded.text), loaded.escapes);
                for (const std::string& section : erase_on_load_) document_->erase_section(section);
            } catch (const Exception&) {
                erased_on_load_ = false;
                // Unreadable, or too large to be an INI file.
                unreadable_ = true;
                document_.emplace();
            }
            return;
        case platform::FileKind::directory:
        case platform::FileKind::other:
            existed_ = true;
            unreadable_ = true;
            document_.emplace();
            return;
    }
}

void ProfileFile::produce(const platform::ContentSink& sink, const AppendedSections* appended) const {
    std::string buffer(byte_order_mark(encoding_));
    buffer.reserve(kChunk);
    const auto add = [&](std::string_view piece) {
        if (!buffer.empty() && buffer.size() + piece.size() > kChunk) {
            sink(buffer);
            buffer.clear();
        }
        // ANSI text is handed on as it lies unless it comes in small pieces.
        if (piece.size() >= kDirectPiece && encoding_ == ProfileEncoding::ansi) {
            if (!buffer.empty()) {
                sink(buffer);
                buffer.clear();
            }
            sink(piece);
        } else {
            encode_profile(piece, encoding_, buffer);
        }
    };
    document_->visit([&](std::string_view piece) {
        add(piece);
        return true;
    });
    if (appended != nullptr) appended->visit(add);
    if (!buffer.empty()) sink(buffer);
}

void ProfileFile::save() { save_text(nullptr); }

void ProfileFile::save(const AppendedSections& appended) {
    if (appended.size() == 0) {
        save_text(nullptr);
        return;
    }
    document().end_with_line_break();
    save_text(&appended);
}

void ProfileFile::save_text(const AppendedSections* appended) {
    if (!document_ && erase_on_load_.empty()) return;
    document();
    if (unreadable_) {
        // Writing now would replace a file whose content we never saw.
        throw Exception(path_ + ": not a readable file");
    }
    if (!document_->modified() && !erased_on_load_ && appended == nullptr) {
        if (!existed_ && platform::file_system().kind(platform::directory_or_dot(path_)) != platform::FileKind::directory) {
            throw Exception(path_ + ": the directory does not exist");
        }
        return;
    }
    const Producer content = [this, appended](const platform::ContentSink& sink) { produce(sink, appended); };
    // ANSI text is written as it stands: its size is known beforehand.
    std::optional<std::uint64_t> size;
    if (encoding_ == ProfileEncoding::ansi) size = document_->size() + (appended ? appended->size() : 0);
    if (existed_ && file_holds(path_, content, size)) return;
    if (existed_) {
        // A read-only file is refused, as the Windows functions refuse it,
        // though a rename over it would succeed on POSIX.
        platform::file_system().open(path_, platform::OpenMode::read_write);
    }
    put_content(path_, content);
    existed_ = true;
}

}  // namespace ini
