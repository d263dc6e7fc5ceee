#pragma once

#include "host/HostServices.h"
#include "host/Outcome.h"

#include <string>

namespace qx {

Outcome<std::wstring> FindOrdinaryFile(const std::wstring& path);
// Both write the bytes, then flush them to disk before they complete. The copy hands back the
// digest of the bytes it wrote, and fails (sourceChanged) when the source changed, or could no
// longer be read, while it was copied.
Outcome<FileDigest> CopyFileFlushed(const std::wstring& source, const std::wstring& destination);
Status WriteWholeFileFlushed(const std::wstring& path, const std::string& bytes);
// One rename, replacing `to`, written through to disk; fails (readOnly) for a read-only `from`.
Status MoveFileReplacingAt(const std::wstring& from, const std::wstring& to);
// Hands back the attributes it cleared (0: none).
Outcome<std::uint32_t> ClearHiddenSystemReadOnly(const std::wstring& path);
// Adds `attributes` to the file's own: those ClearHiddenSystemReadOnly took away.
Status RestoreAttributes(const std::wstring& path, std::uint32_t attributes);
Status DeleteFileAt(const std::wstring& path);
Status CreateFolderWithParents(const std::wstring& path);
Outcome<std::string> ReadWholeFile(const std::wstring& path);
Outcome<std::wstring> RunningProgramFolder();
// Any file at `path`, whatever its attributes; a folder is not one.
Outcome<bool> FileExistsAt(const std::wstring& path);
// Whether `folder` is on another computer: a network path, or a drive Windows reports as remote.
Outcome<bool> IsOnNetworkFolder(const std::wstring& folder);
// Waits the moment a security program takes to quarantine a new file, then tells whether the
// file still holds the bytes `staged` digests; a scanner still holding it is waited for a little
// longer. Fails (notFound) when it is gone, (quarantined) when a security program refuses it.
Outcome<bool> SameBytesAfterScan(const std::wstring& path, const FileDigest& staged);
// Writes the folder's entries through to disk.
Status FlushFolderEntries(const std::wstring& path);
// Whether `folder` is the user's temporary folder or inside it.
Outcome<bool> IsInsideTemporaryFolder(const std::wstring& folder);

} // namespace qx
