#pragma once

#include "host/Outcome.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qx {

// Excel's application object as the host holds it; the sequence only stores and passes it on.
class ExcelApplication {
public:
    virtual ~ExcelApplication() = default;
};
using ExcelApplicationHandle = std::unique_ptr<ExcelApplication>;

// How long Excel may take to answer one call, or to start and offer its objects, before the
// program stops waiting for it.
inline constexpr unsigned kExcelAnswerLimitSeconds = 10;

// What a copy wrote, as a digest of its bytes: the file later found at its place is compared with
// it rather than with the copy's source, which may have changed or gone since.
struct FileDigest {
    std::string bytes;
    bool operator==(const FileDigest& other) const { return bytes == other.bytes; }
    bool operator!=(const FileDigest& other) const { return bytes != other.bytes; }
};

// One value of a registry key: its name and its bytes as stored.
struct RegistryValue {
    std::wstring name;
    std::string bytes;
};

// Message-box answers, as the platform numbers them.
enum : std::int16_t { kAnswerYes = 6, kAnswerNo = 7 };

// Everything the installer sequence and the success window need from the outside world.
// Each operation completes or fails with the platform's error; none shows or logs a failure.
class HostServices {
public:
    virtual ~HostServices() = default;

    // Whether the program runs under the account that owns the desktop (the shell's): false
    // for LocalSystem, or for another user's credentials; an elevated run of the same user is
    // that user. Fails when it cannot tell, for instance before the shell has started.
    virtual Outcome<bool> RunsAsDesktopUser() = 0;

    // The Excel the user already has open, as it registered itself for other programs to
    // reach. Fails (notFound) when none has; starts nothing. Every call into it is bounded:
    // one that Excel keeps rejecting (a dialog open, a cell being edited) fails after a while.
    virtual Outcome<ExcelApplicationHandle> AttachToRunningExcel() = 0;
    // Whether an Excel main window of another process is on the desktop: Excel is open even
    // before it has registered itself, and then cannot be reached.
    virtual bool ExcelWindowOpen() = 0;
    // Creates Excel's automation object: a hidden Excel of the program's own, ending with it.
    virtual Outcome<ExcelApplicationHandle> AcquireExcelApplication() = 0;
    // Excel's start-up folder, as Excel reports it. Fails when the handle is empty.
    virtual Outcome<std::wstring> ReadStartupPath(const ExcelApplicationHandle& excel) = 0;
    // Excel's version as it reports it ("16.0"): where its settings are kept.
    virtual Outcome<std::wstring> ReadExcelVersion(const ExcelApplicationHandle& excel) = 0;
    // Opens the add-in at `path` in that Excel as its start-up would: opens the file, then
    // runs its auto-open macros.
    virtual Status OpenAddin(const ExcelApplicationHandle& excel, const std::wstring& path) = 0;
    // Takes the add-in named `name` ("QxButton.xla") out of that Excel: runs its auto-close
    // macros, then closes it without saving. Fails (notFound) when it is not open there.
    virtual Status CloseAddin(const ExcelApplicationHandle& excel, const std::wstring& name) = 0;

    // The name of the ordinary file at `path`, or "" when there is none (hidden and system
    // files and folders do not count). Fails only when the path itself is rejected.
    virtual Outcome<std::wstring> FindFile(const std::wstring& path) = 0;
    // Copies the source's bytes over whatever is at `destination`, and flushes them to disk
    // before it completes: a completed copy survives a power cut. Hands back the digest of the
    // bytes it wrote. One that breaks off leaves part of the destination. Like Windows, may
    // refuse a hidden or read-only destination. Fails (sourceChanged) when the source changed,
    // or could no longer be read, while it was copied (a share that dropped).
    virtual Outcome<FileDigest> CopyFile(const std::wstring& source,
                                         const std::wstring& destination) = 0;
    // Renames `from` to `to` in one step, replacing `to`, written through to disk before it
    // completes: whoever looks at `to` finds the old file or the new one, never a part. Fails,
    // changing nothing, when the two are on different volumes, when `to` is hidden or
    // read-only, and (readOnly) when `from` is read-only: someone protected it.
    virtual Status MoveFileReplacing(const std::wstring& from, const std::wstring& to) = 0;
    // Writes the folder's entries to disk: a file that left it stays gone after a power cut.
    virtual Status FlushFolder(const std::wstring& path) = 0;
    // Clears the hidden, system and read-only attributes, and hands back those it cleared (0:
    // none), as the platform numbers them. Fails (notFound) when there is no such file.
    virtual Outcome<std::uint32_t> MakeFileOrdinary(const std::wstring& path) = 0;
    // Sets again attributes that MakeFileOrdinary cleared: what a failed install puts back.
    virtual Status RestoreFileAttributes(const std::wstring& path, std::uint32_t attributes) = 0;
    virtual Status DeleteFile(const std::wstring& path) = 0;
    // Creates the folder and any missing parent; completes at once when it already exists.
    virtual Status CreateFolder(const std::wstring& path) = 0;
    // A file's whole contents, and writing them over whatever is there, flushed to disk as a
    // copy is: what an update needs to put the earlier add-in back.
    virtual Outcome<std::string> ReadFileBytes(const std::wstring& path) = 0;
    virtual Status WriteFileBytes(const std::wstring& path, const std::string& bytes) = 0;
    // Whether a file (of any attributes) is at `path`; folders do not count.
    virtual Outcome<bool> FileExists(const std::wstring& path) = 0;
    // The running program's folder; a trailing separator only for a drive root.
    virtual Outcome<std::wstring> ApplicationFolder() = 0;
    // Whether `folder` is the user's temporary folder or inside it, both taken by their long
    // names and compared as Windows compares file names. Windows deletes what is there.
    virtual Outcome<bool> IsInTemporaryFolder(const std::wstring& folder) = 0;
    // Whether `folder` is on another computer: a network path, or a drive Windows reports as
    // remote.
    virtual Outcome<bool> IsOnNetwork(const std::wstring& folder) = 0;
    // Waits the moment a security program takes to look at a new file and take it away, then
    // tells whether the file at `path` still holds the bytes `staged` digests. A scanner still
    // holding the file (a sharing violation) is waited for a little longer. Fails (notFound)
    // when the file is gone, (quarantined) when a security program refuses to open it.
    virtual Outcome<bool> SameBytesAfterScan(const std::wstring& path,
                                             const FileDigest& staged) = 0;
    // Whether two paths are the same name as Windows compares file names: without regard to
    // case, by the system's own upper-case rules, in every script. Nothing is resolved.
    virtual bool SameFileName(const std::wstring& first, const std::wstring& second) = 0;
    // Whether a trusted location, as a policy writes it (environment variables, short names,
    // any case, with or without a trailing separator), covers `folder`: it is that folder or,
    // `withSubfolders`, one above it. Both are expanded and taken by their long names, the part
    // that exists where the whole does not, and compared as Windows compares file names. Fails
    // when either cannot be resolved (an environment variable this run does not have).
    virtual Outcome<bool> LocationCovers(const std::wstring& location, const std::wstring& folder,
                                         bool withSubfolders) = 0;

    virtual Status SaveSetting(const std::wstring& application, const std::wstring& section,
                               const std::wstring& key, const std::wstring& value) = 0;
    // Fails (notFound) when the key or its section is absent.
    virtual Outcome<std::wstring> ReadSetting(const std::wstring& application,
                                              const std::wstring& section,
                                              const std::wstring& key) = 0;
    // Removes the section with all its keys; the application entry stays. Fails (notFound)
    // when the section is absent.
    virtual Status DeleteSetting(const std::wstring& application, const std::wstring& section) = 0;
    // Removes one key; fails (notFound) when it is absent.
    virtual Status DeleteSettingKey(const std::wstring& application, const std::wstring& section,
                                    const std::wstring& key) = 0;
    // Writes what was saved in the section to disk: until then a power cut may lose it.
    virtual Status FlushSettings(const std::wstring& application, const std::wstring& section) = 0;

    // The current user's registry, a key named by its path under HKEY_CURRENT_USER: where
    // Excel and Office's policies keep their settings. Each fails (notFound) when the key or
    // the value is absent, or the value is of another type.
    virtual Outcome<std::uint32_t> ReadUserNumber(const std::wstring& key,
                                                  const std::wstring& name) = 0;
    virtual Outcome<std::wstring> ReadUserText(const std::wstring& key,
                                               const std::wstring& name) = 0;
    virtual Outcome<std::vector<std::wstring>> ListUserSubkeys(const std::wstring& key) = 0;
    virtual Outcome<std::vector<RegistryValue>> ListUserValues(const std::wstring& key) = 0;
    virtual Status DeleteUserValue(const std::wstring& key, const std::wstring& name) = 0;

    // Modal boxes titled "Setup": Yes/No with the warning icon; OK with the information icon;
    // OK with the warning icon for a failure the user must hear about.
    virtual Outcome<std::int16_t> AskYesNo(const std::wstring& prompt) = 0;
    virtual Status Inform(const std::wstring& prompt) = 0;
    virtual Status Warn(const std::wstring& prompt) = 0;

    // Opens the success window, non-modal, unless it is already open; returns at once.
    virtual Status ShowSuccessWindow() = 0;
    // Closes the success window; its unload handling runs.
    virtual void UnloadWindow() = 0;
    // Ends the program: no further event of the program's own is handled, and everything the
    // program holds (Excel included) is released.
    virtual void EndProgram() = 0;

    // Appends a line to the log an administrator asked for, dated by the host; nothing when
    // none was asked for.
    virtual void Log(const std::wstring& line) = 0;
};

} // namespace qx
