// The file system on Windows: kernel handles owned by RAII wrappers,
// positioned reads and writes, FlushFileBuffers for durability and
// MoveFileExW with write-through for the atomic replace. Paths go to the W
// functions through wide_path, so that files whose paths pass MAX_PATH (an
// INI file or a temporary beside a table whose path nearly reaches it) open
// as well as any other.

#include "platform/file_system.h"

#include <algorithm>
#include <limits>

#include "platform/win32.h"

namespace platform {
namespace {

using win32::c_string;
using win32::fail;
using win32::fail_last;
using win32::wide_path;

// ReadFile and WriteFile take a DWORD count; larger requests go in pieces.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

OVERLAPPED at_offset(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

class Win32File final : public File {
public:
    Win32File(std::string path, win32::FileHandle handle) : path_(std::move(path)), handle_(std::move(handle)) {}

    std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
        auto* out = static_cast<char*>(buffer);
        std::size_t done = 0;
        while (done < n) {
            const auto chunk = static_cast<DWORD>(std::min(n - done, kMaxChunk));
            OVERLAPPED position = at_offset(offset + done);
            DWORD got = 0;
            if (!ReadFile(handle_.get(), out + done, chunk, &got, &position)) {
                const DWORD error = GetLastError();
                if (error == ERROR_HANDLE_EOF) break;
                fail("Cannot read file", path_, error);
            }
            if (got == 0) break;
            done += got;
        }
        return done;
    }

    void write_at(std::uint64_t offset, const void* data, std::size_t n) override {
        const auto* in = static_cast<const char*>(data);
        std::size_t done = 0;
        while (done < n) {
            const auto chunk = static_cast<DWORD>(std::min(n - done, kMaxChunk));
            OVERLAPPED position = at_offset(offset + done);
            DWORD put = 0;
            if (!WriteFile(handle_.get(), in + done, chunk, &put, &position)) fail_last("Cannot write file", path_);
            if (put == 0) fail("Cannot write file", path_, ERROR_WRITE_FAULT);
            done += put;
        }
    }

    std::uint64_t size() override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(handle_.get(), &size)) fail_last("Cannot examine file", path_);
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    void truncate(std::uint64_t size) override {
        LARGE_INTEGER position{};
        position.QuadPart = static_cast<LONGLONG>(size);
        if (!SetFilePointerEx(handle_.get(), position, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_.get()))
            fail_last("Cannot truncate file", path_);
    }

    void sync() override {
        if (!FlushFileBuffers(handle_.get())) fail_last("Cannot flush file", path_);
    }

private:
    std::string path_;
    win32::FileHandle handle_;
};

class Win32FileSystem final : public FileSystem {
public:
    std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
        DWORD access = GENERIC_READ | GENERIC_WRITE;
        DWORD disposition = OPEN_EXISTING;
        switch (mode) {
            case OpenMode::read: access = GENERIC_READ; break;
            case OpenMode::read_write: break;
            case OpenMode::create: disposition = CREATE_ALWAYS; break;
            case OpenMode::create_new: disposition = CREATE_NEW; break;
        }
        // Others may read, write, rename and delete the file while it is
        // open, as on POSIX: a replace by rename never waits for a reader.
        win32::FileHandle handle(CreateFileW(wide_path(path).c_str(), access,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle.valid()) fail_last("Cannot open file", path);
        return std::make_unique<Win32File>(path, std::move(handle));
    }

    FileKind kind(const std::string& path) override {
        if (path.empty() || path.find_first_of("*?") != std::string::npos) return FileKind::missing;
        const DWORD attributes = GetFileAttributesW(wide_path(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::missing;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::directory;
        if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::other;
        return FileKind::file;
    }

    void rename(const std::string& from, const std::string& to) override {
        // A read-only file is not to be replaced, as WritePrivateProfileStringA
        // refuses to write one; Windows' MoveFileExA refuses too, Wine's not.
        const std::wstring target_path = wide_path(to);
        const DWORD target = GetFileAttributesW(target_path.c_str());
        if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY) != 0)
            fail("Cannot rename \"" + from + "\" to", to, ERROR_ACCESS_DENIED);
        // Write-through: the call returns once the new name is on disk.
        if (!MoveFileExW(wide_path(from).c_str(), target_path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            fail_last("Cannot rename \"" + from + "\" to", to);
    }

    void remove(const std::string& path) override {
        if (DeleteFileW(wide_path(path).c_str())) return;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
        fail("Cannot remove file", path, error);
    }

    void sync_directory(const std::string&) override {
        // Nothing to do: renames are written through (MOVEFILE_WRITE_THROUGH)
        // and Windows has no handle on a directory's entries to flush.
    }

    std::vector<std::string> list_directory(const std::string& directory) override {
        std::string pattern = directory;
        if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/' && pattern.back() != ':')
            pattern += '\\';
        pattern += '*';
        WIN32_FIND_DATAW found{};
        const win32::FindHandle search(FindFirstFileW(wide_path(pattern).c_str(), &found));
        std::vector<std::string> names;
        if (!search.valid()) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return names;
            fail("Cannot read directory", directory, error);
        }
        do {
            const std::wstring_view name = found.cFileName;
            if (name != L"." && name != L"..") names.push_back(win32::narrow(name));
        } while (FindNextFileW(search.get(), &found));
        if (const DWORD error = GetLastError(); error != ERROR_NO_MORE_FILES) fail("Cannot read directory", directory, error);
        return names;
    }

    bool replace_blocked_by_sharing(const std::string& path) override {
        // Delete access is what a rename over the file needs; a handle that
        // does not share it refuses it to every other opener.
        const win32::FileHandle probe(CreateFileW(wide_path(path).c_str(), DELETE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return !probe.valid() && GetLastError() == ERROR_SHARING_VIOLATION;
    }

    void copy_permissions(const std::string& from, const std::string& to) override {
        // Access control lists come from the directory, as for any new file;
        // the attributes that users set on a file by hand are carried over.
        // Read-only is not: a read-only target cannot be replaced anyway.
        const DWORD source = GetFileAttributesW(wide_path(from).c_str());
        if (source == INVALID_FILE_ATTRIBUTES) return;
        constexpr DWORD kCopied = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        if ((source & kCopied) == 0) return;
        const std::wstring target_path = wide_path(to);
        const DWORD target = GetFileAttributesW(target_path.c_str());
        if (target == INVALID_FILE_ATTRIBUTES) fail_last("Cannot examine file", to);
        DWORD wanted = (target & ~kCopied) | (source & kCopied);
        wanted &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
        if (!SetFileAttributesW(target_path.c_str(), wanted)) fail_last("Cannot set permissions of file", to);
    }
};

}  // namespace

FileSystem& os_file_system() {
    static Win32FileSystem system;
    return system;
}

}  // namespace platform
