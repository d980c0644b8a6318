// Process services on POSIX.

#include "platform/system.h"

#include "platform/code_page_posix.h"
#include "platform/text.h"
#include "platform/words.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace platform {
namespace {

using posix::from_native;
using posix::to_native;

std::mutex& handler_mutex() {
    static std::mutex mutex;
    return mutex;
}

ErrorBoxHandler& error_box_handler() {
    static ErrorBoxHandler handler;
    return handler;
}

std::string& program_path() {
    static std::string path;
    return path;
}

void write_line(std::FILE* stream, std::string_view ansi) {
    const std::string text = to_console(ansi);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

bool is_drive_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Resolves "." and ".." segments of a path after its root, appending the
// kept ones to `out`, which holds the root (its first `root` bytes) and any
// segments kept before; ".." never climbs above the root. Empty segments
// (doubled separators) go. A text may be given in parts: all but the last
// with `final` false, as if each part were followed by a separator.
class Segments {
public:
    // Writes straight into `out`'s buffer, which grows by what `add` may
    // need and is cut to what was written when the object goes.
    Segments(std::string& out, std::vector<std::size_t>& starts, std::size_t root, char separator,
             bool windows_names)
        : out_(out), length_(out.size()), starts_(starts), root_(root), separator_(separator),
          windows_names_(windows_names) {}
    ~Segments() { out_.resize(length_); }
    Segments(const Segments&) = delete;
    Segments& operator=(const Segments&) = delete;

    // False when the part ends in a lead byte whose pair the next part would
    // complete: then the parts cannot be taken one by one.
    bool add(std::string_view rest, bool final) {
        // Each segment kept takes at most its bytes and one separator, and a
        // final separator may follow.
        out_.resize(length_ + rest.size() + 2);
        std::size_t begin = 0;
        bool trailing = false;
        const bool double_byte = code_page_has_lead_bytes();
        for (std::size_t i = 0; i < rest.size(); ++i) {
            const auto c = static_cast<unsigned char>(rest[i]);
            trailing = false;
            if (double_byte && is_lead_byte(c)) {
                if (i + 1 < rest.size()) {
                    ++i;
                    continue;
                }
                if (!final) return false;
            }
            if (c == '\\' || c == '/') {
                flush(rest.substr(begin, i - begin), false);
                begin = i + 1;
                trailing = true;
            }
        }
        if (!final) {
            flush(rest.substr(begin), false);
            return true;
        }
        flush(rest.substr(begin), !trailing);
        if (trailing && !starts_.empty()) out_[length_++] = separator_;
        return true;
    }

private:
    void flush(std::string_view segment, bool last) {
        if (segment.empty() || (segment.size() == 1 && segment[0] == '.')) return;
        if (segment.size() == 2 && segment[0] == '.' && segment[1] == '.') {
            if (!starts_.empty()) {
                length_ = starts_.back() == root_ ? root_ : starts_.back() - 1;
                starts_.pop_back();
            }
            return;
        }
        if (windows_names_ && last) {
            // Windows drops trailing dots and blanks of the last element.
            while (!segment.empty() && (segment.back() == '.' || segment.back() == ' ')) segment.remove_suffix(1);
            if (segment.empty()) return;
        }
        if (!starts_.empty()) out_[length_++] = separator_;
        starts_.push_back(length_);
        std::memcpy(out_.data() + length_, segment.data(), segment.size());
        length_ += segment.size();
    }

    std::string& out_;
    std::size_t length_;  // of what out_ holds
    std::vector<std::size_t>& starts_;
    std::size_t root_;
    char separator_;
    bool windows_names_;
};

// The root followed by the normalised segments of `rest`.
std::string normalised(std::string root, std::string_view rest, char separator, bool windows_names) {
    static thread_local std::vector<std::size_t> starts;
    starts.clear();
    Segments(root, starts, root.size(), separator, windows_names).add(rest, true);
    return root;
}

// Where the next "\\" or "/" lies in text[from, size), or size.
std::size_t next_separator(const char* text, std::size_t from, std::size_t size) {
    return words::find_either(text, from, size, '\\', '/');
}

// True when a segment is kept as it stands: not empty, not "." or "..".
bool plain_segment(std::string_view segment) {
    if (segment.empty()) return false;
    if (segment[0] != '.' || segment.size() > 2) return true;
    return segment.size() == 2 && segment[1] != '.';
}

// Most paths of a table are plain: every segment kept as it stands, so that
// normalising one is writing it after its root or directory with
// `separator` for each separator. Appends such a path (after a separator
// when `separator_first`) and returns true; returns false for any other
// path, leaving `out` longer. With `windows_names`, a last segment that ends
// in "." or a blank is not plain (Windows drops those). For a code page
// without double-byte characters only.
bool append_plain_path(std::string& out, bool separator_first, std::string_view path, char separator,
                       bool windows_names) {
    if (separator_first) out.push_back(separator);
    const std::size_t at = out.size();
    out.append(path);
    char* const text = out.data() + at;
    const std::size_t size = path.size();
    std::size_t start = 0;
    for (std::size_t i = next_separator(text, 0, size); i < size; i = next_separator(text, i + 1, size)) {
        if (!plain_segment(std::string_view(text + start, i - start))) return false;
        text[i] = separator;
        start = i + 1;
    }
    // A final separator is kept: a segment comes before it.
    if (start == size) return true;
    const std::string_view last(text + start, size - start);
    return plain_segment(last) && !(windows_names && (last.back() == '.' || last.back() == ' '));
}

// A path with a drive letter, normalised as Windows does without touching
// the file system, into `out`, whose room is reused.
void full_drive_path(std::string_view path, std::string& out) {
    // "C:x.dat" is relative to C:'s current directory, taken as its root.
    std::string& root = out;
    root.assign(path.substr(0, 2));
    root.push_back('\\');
    if (!code_page_has_lead_bytes()) {
        // A separator after the drive is the root's own.
        std::string_view rest = path.substr(2);
        if (!rest.empty() && (rest[0] == '\\' || rest[0] == '/')) rest.remove_prefix(1);
        if (append_plain_path(root, false, rest, '\\', true)) return;
        root.resize(3);
    }
    out = normalised(std::move(root), path.substr(2), '\\', true);
}

// A "\\server\share" path, normalised as Windows does.
std::string full_unc_path(std::string_view path) {
    // "\\server\share" is the root.
    std::string rest(path.substr(2));
    std::string root = "\\\\";
    int parts = 0;
    std::size_t i = 0;
    for (; i < rest.size() && parts < 2; ++i) {
        if (rest[i] == '\\' || rest[i] == '/') {
            ++parts;
            if (parts < 2) root.push_back('\\');
            continue;
        }
        root.push_back(rest[i]);
    }
    if (parts < 2) return root;
    root.push_back('\\');
    return normalised(std::move(root), std::string_view(rest).substr(i), '\\', true);
}

}  // namespace

void write_console_line(std::string_view ansi) { write_line(stdout, ansi); }

void write_error_line(std::string_view ansi) { write_line(stderr, ansi); }

void show_error_box(std::string_view text, std::string_view caption) {
    ErrorBoxHandler handler;
    {
        std::lock_guard lock(handler_mutex());
        handler = error_box_handler();
    }
    if (handler) {
        handler(text, caption);
        return;
    }
    std::string line(caption);
    line += ": ";
    line += text;
    write_error_line(line);
}

ErrorBoxHandler set_error_box_handler(ErrorBoxHandler handler) {
    std::lock_guard lock(handler_mutex());
    ErrorBoxHandler previous = std::move(error_box_handler());
    error_box_handler() = std::move(handler);
    return previous;
}

void set_program_path(std::string_view argv0) { program_path() = std::string(argv0); }

std::string application_title() {
    std::string native;
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n > 0)
        native.assign(buffer.data(), static_cast<std::size_t>(n));
    else
        native = to_native(program_path());
    std::string name = from_native(native);
    const std::size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos) name.erase(dot);
    if (name.size() > 1) name = name.substr(0, 1) + lower_case(name.substr(1));
    return name;
}

namespace {

// The current directory's name, remembered between changes: paths are
// expanded against it once per row of a table.
std::string& remembered_directory() {
    static std::string name;
    return name;
}

// The remembered directory as the start of a full path: its segments
// normalised once, not again for every path expanded against it.
struct DirectoryPrefix {
    std::string directory;  // what it was made from
    bool usable = false;    // false: expand from the whole text
    std::string out;
    std::vector<std::size_t> starts;
};

DirectoryPrefix& directory_prefix() {
    static DirectoryPrefix prefix;
    return prefix;
}

// The current directory's name; empty when it cannot be had.
const std::string& known_directory() {
    std::string& remembered = remembered_directory();
    if (!remembered.empty()) return remembered;
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return remembered;
        buffer.resize(buffer.size() * 2);
    }
    remembered = from_native(buffer.data());
    return remembered;
}

// A relative path against the current directory: as the directory, a
// separator and the path, normalised together after the first byte.
void full_relative_path(std::string_view path, std::string& out) {
    const std::string& directory = known_directory();
    DirectoryPrefix& prefix = directory_prefix();
    if (prefix.directory != directory || prefix.out.empty()) {
        prefix.directory = directory;
        prefix.out = "/";
        prefix.starts.clear();
        prefix.usable = true;
        if (!directory.empty())
            prefix.usable = Segments(prefix.out, prefix.starts, 1, '/', false)
                                .add(std::string_view(directory).substr(1), false);
    }
    if (!prefix.usable) {
        std::string absolute = directory;
        absolute.push_back('/');
        absolute += path;
        out = normalised("/", std::string_view(absolute).substr(1), '/', false);
        return;
    }
    out.clear();
    out.reserve(prefix.out.size() + path.size() + 2);
    if (!code_page_has_lead_bytes()) {
        // Leading ".." segments leave the directory's last segments out (never
        // its root); a plain rest follows what is left.
        std::size_t kept = prefix.starts.size();
        std::string_view rest = path;
        while (rest.size() > 3 && rest[0] == '.' && rest[1] == '.' && (rest[2] == '\\' || rest[2] == '/')) {
            rest.remove_prefix(3);
            if (kept > 0) --kept;
        }
        const std::size_t length = kept == prefix.starts.size() ? prefix.out.size()
                                   : prefix.starts[kept] == 1   ? 1
                                                                : prefix.starts[kept] - 1;
        out.append(prefix.out, 0, length);
        if (append_plain_path(out, kept > 0, rest, '/', false)) return;
    }
    out = prefix.out;
    static thread_local std::vector<std::size_t> starts;
    starts = prefix.starts;
    Segments(out, starts, 1, '/', false).add(path, true);
}

}  // namespace

std::string current_directory() { return known_directory(); }

std::string full_path(std::string_view path) {
    std::string out;
    full_path(path, out);
    return out;
}

void full_path(std::string_view path, std::string& out) {
    if (path.empty()) {
        out.clear();
        return;
    }
    const bool drive = path.size() >= 2 && path[1] == ':' && is_drive_letter(path[0]);
    const bool unc = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
    if (drive)
        full_drive_path(path, out);
    else if (unc)
        out = full_unc_path(path);
    else if (path[0] == '/' || path[0] == '\\')
        out = normalised("/", path.substr(1), '/', false);
    else
        full_relative_path(path, out);
}

bool path_too_long(std::string_view full_path) {
    return to_native(full_path).size() >= PATH_MAX || name_too_long(full_path);
}

bool name_too_long(std::string_view path) {
    // Names are split at the separators of both forms of path the program
    // takes on POSIX ("/" and "\\").
    const std::string native = to_native(path);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= native.size(); ++i) {
        if (i == native.size() || native[i] == '/' || native[i] == '\\') {
            if (i - start > NAME_MAX) return true;
            start = i + 1;
        }
    }
    return false;
}

// The current directory is remembered here whether or not it is held.
CurrentDirectoryHeld::CurrentDirectoryHeld() = default;
CurrentDirectoryHeld::~CurrentDirectoryHeld() = default;

bool set_current_directory(std::string_view directory) {
    if (directory.empty()) return false;
    if (chdir(to_native(directory).c_str()) != 0) return false;
    remembered_directory().clear();
    return true;
}

bool file_exists(std::string_view path) {
    if (path.empty()) return false;
    struct stat info {};
    if (stat(to_native(path).c_str(), &info) != 0) return false;
    return S_ISREG(info.st_mode);
}

std::string unique_name_tag() {
    static std::atomic<unsigned> counter{0};
    const auto clock = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char tag[64];
    std::snprintf(tag, sizeof tag, "%08lx-%08x-%010llx", static_cast<unsigned long>(getpid()), counter++,
                  clock & 0xFFFFFFFFFFull);
    return tag;
}

void sleep_milliseconds(unsigned milliseconds) {
    timespec wanted{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wanted, &wanted) != 0 && errno == EINTR) {
    }
}

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Advises the whole 2 MB pages of [first, last) to be backed by huge pages.
void advise_huge_pages(std::uintptr_t first, std::uintptr_t last) {
#if defined(MADV_HUGEPAGE)
    first = (first + kHugePage - 1) / kHugePage * kHugePage;
    last = last / kHugePage * kHugePage;
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)first;
    (void)last;
#endif
}

}  // namespace

void expect_large_block(void* data, std::size_t size) {
    if (size < 4 * kHugePage) return;
    const auto first = reinterpret_cast<std::uintptr_t>(data);
    advise_huge_pages(first, first + size);
}

// The rows of a table are many small objects, each on pages touched for
// the first time: under a hypervisor the first touch of every 4 KB page
// is a fault that costs more than what is written there. With glibc's
// heap, the memory expected is made one region of the heap, advised to be
// backed by 2 MB pages (transparent huge pages, on "madvise" or "always"):
// the heap grows by that much at its next growth, which a few small
// blocks bring about, and those blocks then go back to it.
void expect_memory(std::size_t bytes) {
#if defined(__GLIBC__)
    constexpr std::size_t kMost = std::size_t{1} << 30;
    if (bytes < 8 * kHugePage) return;
    static std::atomic<bool> done{false};
    if (done.exchange(true)) return;
    bytes = std::min(bytes, kMost);
    // Blocks from the heap, not from mappings of their own, up to the
    // largest that glibc allows; the top of the heap is never given back
    // while the process runs (what the rows leave untouched costs nothing).
    if (mallopt(M_MMAP_THRESHOLD, 32 << 20) == 0 || mallopt(M_TRIM_THRESHOLD, INT_MAX) == 0) return;
    // The next growth of the heap adds `bytes`; the later ones only what
    // they need (glibc's default pad), so that where memory is not
    // overcommitted a failed reservation costs nothing but itself.
    constexpr int kDefaultTopPad = 128 * 1024;
    if (mallopt(M_TOP_PAD, static_cast<int>(bytes)) == 0) return;
    const auto brk_now = [] { return reinterpret_cast<std::uintptr_t>(sbrk(0)); };
    const std::uintptr_t before = brk_now();
    constexpr std::size_t kProbe = 64 * 1024;
    std::array<void*, 128> probes{};  // enough to use up what the heap has free on top
    std::size_t n = 0;
    while (n < probes.size() && brk_now() == before) {
        probes[n] = std::malloc(kProbe);
        if (probes[n] == nullptr) break;
        ++n;
    }
    const std::uintptr_t after = brk_now();
    mallopt(M_TOP_PAD, kDefaultTopPad);
    if (before != static_cast<std::uintptr_t>(-1) && after > before) advise_huge_pages(before, after);
    for (std::size_t i = 0; i < n; ++i) std::free(probes[i]);
#else
    (void)bytes;
#endif
}

}  // namespace platform
