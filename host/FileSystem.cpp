#include "host/FileSystem.h"

#include "host/FileNames.h"
#include "host/ScopedWin.h"
#include "host/Win32Error.h"

#include <memory>
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

// False when a write fails, GetLastError() saying why.
bool WriteAll(HANDLE file, const char* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        DWORD written = 0;
        if (!WriteFile(file, bytes + done, static_cast<DWORD>(size - done), &written, nullptr)) {
            return false;
        }
        done += written;
    }
    return true;
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

// What tells a file's bytes apart from the same file's a moment later, short of reading them
// again: its size and when it was last written.
struct FileState {
    DWORD sizeHigh;
    DWORD sizeLow;
    DWORD writtenHigh;
    DWORD writtenLow;
    bool operator==(const FileState&) const = default;
};

// False when it cannot be read, GetLastError() saying why.
bool ReadState(HANDLE file, FileState& state) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) {
        return false;
    }
    state = {information.nFileSizeHigh, information.nFileSizeLow,
             information.ftLastWriteTime.dwHighDateTime, information.ftLastWriteTime.dwLowDateTime};
    return true;
}

// Reads `file` to its end into its SHA-256 digest, and into `copy` when one is given: 0, or the
// error that stopped it; `reading` tells whether that was a read of `file`. The system's own
// provider computes the digest.
DWORD DigestInto(HANDLE file, HANDLE copy, FileDigest& digest, bool& reading) {
    const UniqueCryptProvider provider(AcquireHashingProvider());
    if (!provider) {
        return GetLastError();
    }
    const UniqueCryptHash hash(CreateCryptHash(provider.get(), CALG_SHA_256));
    if (!hash) {
        return GetLastError();
    }
    constexpr DWORD kBlock = 1024 * 1024;
    const std::unique_ptr<char[]> block(new char[kBlock]);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, block.get(), kBlock, &got, nullptr)) {
            reading = true;
            return GetLastError();
        }
        if (got == 0) {
            break;
        }
        if (!CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(block.get()), got, 0) ||
            (copy && !WriteAll(copy, block.get(), got))) {
            return GetLastError();
        }
    }
    constexpr DWORD kDigestBytes = 32;
    digest.bytes.assign(kDigestBytes, '\0');
    DWORD size = kDigestBytes;
    return CryptGetHashParam(hash.get(), HP_HASHVAL, reinterpret_cast<BYTE*>(digest.bytes.data()),
                             &size, 0)
               ? 0
               : GetLastError();
}

// Copies `source` to `destination` through its digest: 0, or the error that stopped it;
// `changed` tells that the source changed, or could no longer be read, while it was copied.
DWORD CopyDigesting(const std::wstring& source, const std::wstring& destination, FileDigest& copied,
                    bool& changed) {
    const UniqueFile from(OpenFileHandle(source.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN));
    FileState before;
    if (!from || !ReadState(from.get(), before)) {
        return GetLastError();
    }
    const UniqueFile to(CreateOrdinaryFile(destination));
    if (!to) {
        return GetLastError();
    }
    if (const DWORD error = DigestInto(from.get(), to.get(), copied, changed); error != 0) {
        return error;
    }
    changed = true;
    FileState after;
    if (!ReadState(from.get(), after)) {
        return GetLastError();
    }
    if (!(after == before)) {
        // Windows' own words for a file altered from outside while it was open.
        return ERROR_FILE_INVALID;
    }
    changed = false;
    return FlushFileBuffers(to.get()) ? 0 : GetLastError();
}

} // namespace

// Copied here rather than by CopyFileW, which gives the copy the source's attributes (a
// read-only source from a CD or a locked-down share) and cannot flush it. The digest is taken of
// the very bytes written, as they are written: the add-in later found in place is compared with
// them, and the source, on a share, may have changed or gone by then. Opened without write
// sharing, a local source cannot change under the copy; one on a share can, when another
// computer writes it or the connection drops: a read that fails, or its size and last-write
// time read again at the end, tell.
Outcome<FileDigest> CopyFileFlushed(const std::wstring& source, const std::wstring& destination) {
    FileDigest copied;
    bool changed = false;
    if (const DWORD error = CopyDigesting(source, destination, copied, changed); error != 0) {
        // Copied from a source that changed or could no longer be read, the bytes are no file
        // that ever existed whole. A security program's refusal keeps its own meaning.
        HostError failure = Win32Failure(error);
        failure.sourceChanged = changed && !failure.quarantined;
        return failure;
    }
    return copied;
}

Status WriteWholeFileFlushed(const std::wstring& path, const std::string& bytes) {
    const UniqueFile file(CreateOrdinaryFile(path));
    if (!file) {
        return LastWin32Failure();
    }
    if (!WriteAll(file.get(), bytes.data(), bytes.size())) {
        return LastWin32Failure();
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

} // namespace

Outcome<bool> SameBytesAfterScan(const std::wstring& path, const FileDigest& staged) {
    // A resident security program looks at a file as it is closed or renamed into place, and
    // takes away one it distrusts a moment later; the rename that put the add-in in place was
    // that moment. Half a second is the price every install pays, and a pause nobody notices:
    // by then a scanner acting on the new file has opened it, and has either taken it away or
    // changed it, or is met still reading it (below). One that acts later still, no wait short
    // of the user's patience could catch.
    constexpr DWORD kScanMs = 500;
    // A scanner still reading the add-in holds it without sharing it. It is looked at again
    // every 50 ms, so compared soon after the scanner lets go, for two seconds more: a file held
    // longer is held by something that is not finishing a look at a new file, and the read-back
    // then fails truthfully (a sharing violation) rather than keep the user waiting.
    constexpr DWORD kHeldAtMostMs = 2000;
    constexpr DWORD kLookAgainMs = 50;
    Sleep(kScanMs);
    UniqueFile file(OpenToCompare(path));
    for (DWORD waited = 0;
         !file && GetLastError() == ERROR_SHARING_VIOLATION && waited < kHeldAtMostMs;
         waited += kLookAgainMs) {
        Sleep(kLookAgainMs);
        file.reset(OpenToCompare(path));
    }
    FileDigest found;
    bool reading = false;
    if (const DWORD error = file ? DigestInto(file.get(), nullptr, found, reading) : GetLastError();
        error != 0) {
        return Win32Failure(error);
    }
    return found == staged;
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
