#pragma once
// ProfileFile: one INI file on disk. It loads a ProfileDocument on first use
// and saves it atomically (a temporary file beside the original, flushed,
// renamed over it), so the file on disk is always either its old or its new
// content. The save keeps what the file is (platform::write_stream_atomically):
// a symbolic link stays a link to the file it names, owner, group and mode
// stay, and a file with several names is written in place under a rollback
// journal. A file that another program holds open so that it cannot be
// renamed over is written in place too, as the Windows private-profile
// functions write every file. Files in UTF-16 or UTF-8 with a byte-order mark
// stay in their encoding (profile_encoding.h).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ini/appended_sections.h"
#include "ini/document.h"
#include "ini/profile_encoding.h"
#include "platform/file_system.h"

namespace ini {

// One INI file: loaded when first needed, saved on request.
class ProfileFile {
public:
    explicit ProfileFile(std::string path);
    ~ProfileFile();
    ProfileFile(const ProfileFile&) = delete;
    ProfileFile& operator=(const ProfileFile&) = delete;

    const std::string& path() const { return path_; }

    // The document; a missing file (or one that cannot be read) is empty.
    // An in-place save that a crash interrupted is put back first.
    ProfileDocument& document();

    // ProfileDocument::erase_section. Before the file is loaded, the
    // sections are left out while it is read, so that a large section that
    // is about to be replaced is never in memory.
    void erase_section(std::string_view section);

    // Writes the document back when it was modified and differs from what
    // the file holds, in the file's encoding. Refuses (throws Exception)
    // without touching the disk when the file exists but could not be read
    // or is not writable; otherwise the file is replaced atomically, keeping
    // its links, owner and mode (or refusing when the system will not keep
    // the owner), or written in place when another program's handle refuses
    // the replacement. Throws the file system's Exception, with its kind and
    // reason, when the write fails; after a failed atomic replace the file
    // keeps its old content.
    void save();

    // The same for the document followed by the appended sections (which
    // the document must not hold), made as they are written. With no rows
    // it is save().
    void save(const AppendedSections& appended);

private:
    void load();
    bool load_ansi_without_erased();
    void save_text(const AppendedSections* appended);
    // The file's bytes for the document and what is appended to it, handed
    // to the sink in pieces.
    void produce(const platform::ContentSink& sink, const AppendedSections* appended) const;

    std::string path_;
    ProfileEncoding encoding_ = ProfileEncoding::ansi;
    std::optional<ProfileDocument> document_;
    bool existed_ = false;
    bool unreadable_ = false;
    // Sections erased before the file was loaded, and whether the file held
    // any of them.
    std::vector<std::string> erase_on_load_;
    bool erased_on_load_ = false;
};

}  // namespace ini
