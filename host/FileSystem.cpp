#include "host/FileSystem.h"

#include "host/ScopedWin.h"
#include "host/Win32Error.h"

#include <algorithm>
#include <vector>

namespace qx {

namespace {

constexpr DWORD kNotOrdinary =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

// The folder part of a full file name; a drive root keeps its separator ("Q:\").
std::wstring FolderOf(const std::wstring& fileName) {
    const auto separator = fileName.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        return std::wstring();
    }
    std::wstring folder = fileName.substr(0, separator);
    if (folder.size() == 2 && folder[1] == L':') {
        folder += L'\\';
    }
    return folder;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

Outcome<std::wstring> FindOrdinaryFile(const std::wstring& path) {
    // A name is looked up as it stands: "*" and "?" cannot occur in a real file name, and
    // FindFirstFileW would otherwise read them as a pattern.
    if (path.find_first_of(L"*?") != std::wstring::npos) {
        return std::wstring();
    }
    WIN32_FIND_DATAW found = {};
    const UniqueFind search(
        FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_NO_MORE_FILES) {
            return std::wstring();
        }
        return Win32Failure(error);
    }
    if ((found.dwFileAttributes & kNotOrdinary) != 0) {
        return std::wstring();
    }
    return std::wstring(found.cFileName);
}

namespace {

Status WriteAll(HANDLE file, const char* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        DWORD written = 0;
        if (!WriteFile(file, bytes + done, static_cast<DWORD>(size - done), &written, nullptr)) {
            return LastWin32Failure();
        }
        done += written;
    }
    return Completed();
}

// What a rename publishes next must already be on disk: flushed, a file's size can no longer
// reach the disk before its bytes do.
Status Flushed(HANDLE file) {
    if (!FlushFileBuffers(file)) {
        return LastWin32Failure();
    }
    return Completed();
}

OpenedFile CreateOrdinaryFile(const std::wstring& path) {
    return OpenFileHandle(path.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
}

} // namespace

// Copied here rather than by CopyFileW, which gives the copy the source's attributes (a
// read-only source from a CD or a locked-down share) and cannot flush it.
Status CopyFileFlushed(const std::wstring& source, const std::wstring& destination) {
    const UniqueFile from(OpenFileHandle(source.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!from) {
        return LastWin32Failure();
    }
    const UniqueFile to(CreateOrdinaryFile(destination));
    if (!to) {
        return LastWin32Failure();
    }
    constexpr DWORD kBlock = 1024 * 1024;
    std::vector<char> block(kBlock);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(from.get(), block.data(), kBlock, &read, nullptr)) {
            return LastWin32Failure();
        }
        if (read == 0) {
            return Flushed(to.get());
        }
        if (auto written = WriteAll(to.get(), block.data(), read); !written) {
            return written;
        }
    }
}

Status WriteWholeFileFlushed(const std::wstring& path, const std::string& bytes) {
    const UniqueFile file(CreateOrdinaryFile(path));
    if (!file) {
        return LastWin32Failure();
    }
    if (auto written = WriteAll(file.get(), bytes.data(), bytes.size()); !written) {
        return written;
    }
    return Flushed(file.get());
}

// Not ReplaceFileW: Wine's moves the old file aside first, and the name is then empty for a
// moment. Never MOVEFILE_COPY_ALLOWED: across volumes that would copy in place, and a kill
// could leave part of a file; the rename fails instead (ERROR_NOT_SAME_DEVICE).
Status MoveFileReplacingAt(const std::wstring& from, const std::wstring& to) {
    // Windows renames a read-only file without a word; the add-in someone protected stays.
    const DWORD attributes = GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return LastWin32Failure();
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        HostError error = Win32Failure(ERROR_ACCESS_DENIED);
        error.readOnly = true;
        return error;
    }
    if (!MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return LastWin32Failure();
    }
    return Completed();
}

Outcome<std::uint32_t> ClearHiddenSystemReadOnly(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return LastWin32Failure();
    }
    constexpr DWORD kUnwanted =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if ((attributes & kUnwanted) == 0) {
        return std::uint32_t{0};
    }
    const DWORD wanted = attributes & ~kUnwanted;
    if (!SetFileAttributesW(path.c_str(), wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL)) {
        return LastWin32Failure();
    }
    return std::uint32_t{attributes & kUnwanted};
}

Status RestoreAttributes(const std::wstring& path, std::uint32_t attributes) {
    const DWORD current = GetFileAttributesW(path.c_str());
    if (current == INVALID_FILE_ATTRIBUTES) {
        return LastWin32Failure();
    }
    // "Normal" is valid only alone.
    if (!SetFileAttributesW(path.c_str(), (current & ~FILE_ATTRIBUTE_NORMAL) | attributes)) {
        return LastWin32Failure();
    }
    return Completed();
}

Status DeleteFileAt(const std::wstring& path) {
    if (!DeleteFileW(path.c_str())) {
        HostError error = LastWin32Failure();
        // Access is denied for a file in use by some programs, and for a read-only one.
        if (error.number == ERROR_ACCESS_DENIED) {
            const DWORD attributes = GetFileAttributesW(path.c_str());
            error.readOnly = attributes != INVALID_FILE_ATTRIBUTES &&
                             (attributes & FILE_ATTRIBUTE_READONLY) != 0;
        }
        return error;
    }
    return Completed();
}

Status CreateFolderWithParents(const std::wstring& path) {
    if (IsFolder(path)) {
        return Completed();
    }
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        return Completed();
    }
    const DWORD error = GetLastError();
    if (error != ERROR_PATH_NOT_FOUND) {
        // ERROR_ALREADY_EXISTS here means a file stands where the folder should be.
        return Win32Failure(error);
    }
    const std::wstring parent = FolderOf(path);
    if (parent.empty() || parent.size() >= path.size()) {
        return Win32Failure(error);
    }
    if (auto madeParent = CreateFolderWithParents(parent); !madeParent) {
        return madeParent;
    }
    if (!CreateDirectoryW(path.c_str(), nullptr) && !IsFolder(path)) {
        return LastWin32Failure();
    }
    return Completed();
}

Outcome<std::string> ReadWholeFile(const std::wstring& path) {
    // Shared as widely as possible: Excel keeps a loaded add-in open.
    const UniqueFile file(OpenFileHandle(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (!file) {
        return LastWin32Failure();
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size)) {
        return LastWin32Failure();
    }
    // An add-in is kilobytes; anything near this size is not one to hold in memory.
    constexpr LONGLONG kLargestHeld = 256LL * 1024 * 1024;
    if (size.QuadPart > kLargestHeld) {
        return Win32Failure(ERROR_FILE_TOO_LARGE);
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                      &read, nullptr)) {
            return LastWin32Failure();
        }
        if (read == 0) {
            break; // shorter than it was a moment ago
        }
        done += read;
    }
    bytes.resize(done);
    return bytes;
}

Outcome<bool> IsOnNetworkFolder(const std::wstring& folder) {
    std::wstring local = folder;
    for (const wchar_t* prefix : {L"\\\\?\\UNC\\", L"\\\\.\\UNC\\"}) {
        if (local.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    for (const wchar_t* prefix : {L"\\\\?\\", L"\\\\.\\"}) {
        if (local.rfind(prefix, 0) == 0) {
            local.erase(0, 4);
        }
    }
    if (local.rfind(L"\\\\", 0) == 0) {
        return true;
    }
    if (local.size() < 2 || local[1] != L':') {
        return false;
    }
    const wchar_t root[] = {local[0], L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_REMOTE;
}

namespace {

OpenedFile OpenToCompare(const std::wstring& path) {
    return OpenFileHandle(path.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN);
}

// Fills `block` from the file; fewer bytes only at its end.
Outcome<DWORD> ReadBlock(HANDLE file, std::vector<char>& block) {
    DWORD filled = 0;
    while (filled < block.size()) {
        DWORD read = 0;
        if (!ReadFile(file, block.data() + filled, static_cast<DWORD>(block.size() - filled), &read,
                      nullptr)) {
            return LastWin32Failure();
        }
        if (read == 0) {
            break;
        }
        filled += read;
    }
    return filled;
}

} // namespace

Outcome<bool> SameBytesAfterScan(const std::wstring& first, const std::wstring& second) {
    // A security program scans a file as it is closed, and takes one it distrusts away a moment
    // later; the rename that put the add-in in place was that close.
    constexpr DWORD kScanMs = 500;
    Sleep(kScanMs);
    const UniqueFile a(OpenToCompare(first));
    if (!a) {
        return LastWin32Failure();
    }
    const UniqueFile b(OpenToCompare(second));
    if (!b) {
        return LastWin32Failure();
    }
    LARGE_INTEGER sizeA = {};
    LARGE_INTEGER sizeB = {};
    if (!GetFileSizeEx(a.get(), &sizeA) || !GetFileSizeEx(b.get(), &sizeB)) {
        return LastWin32Failure();
    }
    if (sizeA.QuadPart != sizeB.QuadPart) {
        return false;
    }
    constexpr DWORD kBlock = 256 * 1024;
    std::vector<char> blockA(kBlock);
    std::vector<char> blockB(kBlock);
    for (;;) {
        const auto readA = ReadBlock(a.get(), blockA);
        if (!readA) {
            return readA.error();
        }
        const auto readB = ReadBlock(b.get(), blockB);
        if (!readB) {
            return readB.error();
        }
        if (readA.value() != readB.value() ||
            !std::equal(blockA.begin(), blockA.begin() + readA.value(), blockB.begin())) {
            return false;
        }
        if (readA.value() < kBlock) {
            return true;
        }
    }
}

// A folder opened for writing, as a folder only opens with backup semantics; flushing it writes
// its entries, and the journal before them.
Status FlushFolderEntries(const std::wstring& path) {
    const UniqueFile folder(OpenFileHandle(path.c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (!folder) {
        return LastWin32Failure();
    }
    return Flushed(folder.get());
}

Outcome<bool> FileExistsAt(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const HostError error = LastWin32Failure();
        if (error.notFound) {
            return false;
        }
        return error;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

namespace {

// The long form of a path that exists (a user folder "LINXIA~1" as "Lin Xiaoming"), so that
// one folder spelled two ways compares equal; the path as given where it cannot be expanded.
std::wstring LongPathOf(const std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return path;
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

// A drive root keeps its separator ("C:\").
std::wstring WithoutTrailingSeparator(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) {
        path.pop_back();
    }
    return path;
}

// As Windows compares file names: case-insensitively, letter by letter, in any script.
bool SameFileName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

Outcome<bool> IsInsideTemporaryFolder(const std::wstring& folder) {
    wchar_t temporary[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH) {
        return LastWin32Failure();
    }
    const std::wstring parent = LongPathOf(WithoutTrailingSeparator({temporary, length}));
    const std::wstring inside = WithoutTrailingSeparator(LongPathOf(folder));
    if (inside.size() < parent.size() || !SameFileName(inside.substr(0, parent.size()), parent)) {
        return false;
    }
    // A sibling such as "Temp2" is not inside "Temp".
    return inside.size() == parent.size() || parent.back() == L'\\' ||
           inside[parent.size()] == L'\\';
}

Outcome<std::wstring> RunningProgramFolder() {
    // No MAX_PATH limit: the buffer grows until the whole name fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return LastWin32Failure();
        }
        if (length < buffer.size()) {
            const std::wstring folder = FolderOf(std::wstring(buffer.data(), length));
            if (folder.empty()) {
                return Win32Failure(ERROR_BAD_PATHNAME);
            }
            return folder;
        }
        if (buffer.size() >= 32768) {
            return Win32Failure(ERROR_FILENAME_EXCED_RANGE);
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace qx
