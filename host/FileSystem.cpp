#include "host/FileSystem.h"

#include "host/FileNames.h"
#include "host/ScopedWin.h"
#include "host/Sha256.h"
#include "host/Win32Error.h"

#include <utility>
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

namespace {

// What tells a file's bytes apart from the same file's a moment later, short of reading them
// again: its size and when it was last written.
struct FileState {
    ULONGLONG size = 0;
    FILETIME lastWrite = {};
    bool operator==(const FileState& other) const {
        return size == other.size && lastWrite.dwLowDateTime == other.lastWrite.dwLowDateTime &&
               lastWrite.dwHighDateTime == other.lastWrite.dwHighDateTime;
    }
};

Outcome<FileState> StateOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file, &information)) {
        return LastWin32Failure();
    }
    FileState state;
    state.size = (ULONGLONG{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    state.lastWrite = information.ftLastWriteTime;
    return state;
}

// The source could not be read to its end as it was when the copy began: what was copied is no
// file that ever existed whole. A security program's refusal keeps its own meaning.
HostError SourceChanged(HostError error) {
    error.sourceChanged = !error.quarantined;
    return error;
}

} // namespace

// Copied here rather than by CopyFileW, which gives the copy the source's attributes (a
// read-only source from a CD or a locked-down share) and cannot flush it. The digest is taken of
// the very bytes written, as they are written: the add-in later found in place is compared with
// them, and the source, on a share, may have changed or gone by then. Opened without write
// sharing, a local source cannot change under the copy; one on a share can, when another
// computer writes it or the connection drops: its size and last-write time, read again at the
// end, and the count of bytes read, tell.
Outcome<FileDigest> CopyFileFlushed(const std::wstring& source, const std::wstring& destination) {
    const UniqueFile from(OpenFileHandle(source.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!from) {
        return LastWin32Failure();
    }
    const auto before = StateOf(from.get());
    if (!before) {
        return before.error();
    }
    const UniqueFile to(CreateOrdinaryFile(destination));
    if (!to) {
        return LastWin32Failure();
    }
    Sha256 digest;
    if (auto started = digest.Start(); !started) {
        return started.error();
    }
    constexpr DWORD kBlock = 1024 * 1024;
    std::vector<char> block(kBlock);
    ULONGLONG copied = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(from.get(), block.data(), kBlock, &read, nullptr)) {
            return SourceChanged(LastWin32Failure());
        }
        if (read == 0) {
            break;
        }
        copied += read;
        if (auto added = digest.Add(block.data(), read); !added) {
            return added.error();
        }
        if (auto written = WriteAll(to.get(), block.data(), read); !written) {
            return written.error();
        }
    }
    const auto after = StateOf(from.get());
    if (!after) {
        return SourceChanged(after.error());
    }
    if (!(after.value() == before.value()) || copied != before.value().size) {
        // Windows' own words for a file altered from outside while it was open.
        return SourceChanged(Win32Failure(ERROR_FILE_INVALID));
    }
    if (auto flushed = Flushed(to.get()); !flushed) {
        return flushed.error();
    }
    auto finished = digest.Finish();
    if (!finished) {
        return finished.error();
    }
    return FileDigest{std::move(finished.value())};
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

Outcome<FileDigest> DigestOfFile(HANDLE file) {
    Sha256 digest;
    if (auto started = digest.Start(); !started) {
        return started.error();
    }
    constexpr DWORD kBlock = 256 * 1024;
    std::vector<char> block(kBlock);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, block.data(), kBlock, &read, nullptr)) {
            return LastWin32Failure();
        }
        if (read == 0) {
            break;
        }
        if (auto added = digest.Add(block.data(), read); !added) {
            return added.error();
        }
    }
    auto finished = digest.Finish();
    if (!finished) {
        return finished.error();
    }
    return FileDigest{std::move(finished.value())};
}

} // namespace

Outcome<bool> SameBytesAfterScan(const std::wstring& path, const FileDigest& staged) {
    // A resident security program looks at a file as it is closed or renamed into place, and
    // takes away one it distrusts a moment later; the rename that put the add-in in place was
    // that moment. Half a second is long enough for such a program to have read a file of an
    // add-in's size (kilobytes) and acted on it, and short enough that nobody waits for it on
    // every install. One still reading it then holds it open without sharing it: the retry
    // below waits for that.
    constexpr DWORD kScanMs = 500;
    // A scan of an add-in lasts well under a second; a file still held two seconds on is held
    // by something that is not finishing a scan, and the read-back fails truthfully (sharing
    // violation) instead of waiting on. Looked at again every 50 ms, the add-in is compared
    // soon after the scanner lets go.
    constexpr DWORD kHeldAtMostMs = 2000;
    constexpr DWORD kLookAgainMs = 50;
    Sleep(kScanMs);
    const DWORD since = GetTickCount();
    UniqueFile file(OpenToCompare(path));
    while (!file) {
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION || GetTickCount() - since >= kHeldAtMostMs) {
            return Win32Failure(error);
        }
        Sleep(kLookAgainMs);
        file.reset(OpenToCompare(path));
    }
    const auto found = DigestOfFile(file.get());
    if (!found) {
        return found.error();
    }
    return found.value() == staged;
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

Outcome<bool> IsInsideTemporaryFolder(const std::wstring& folder) {
    wchar_t temporary[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH) {
        return LastWin32Failure();
    }
    // A sibling such as "Temp2" is not inside "Temp".
    return LongLocationCovers(LongFormOf({temporary, length}), LongFormOf(folder), true);
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
