#pragma once

#include "Outcome.h"

#include <string>

namespace qx {

Outcome<std::wstring> FindOrdinaryFile(const std::wstring& path);
Status CopyFileReplacing(const std::wstring& source, const std::wstring& destination);
Status DeleteFileAt(const std::wstring& path);
Outcome<std::wstring> RunningProgramFolder();

// The folder part of a full file name; a drive root keeps its separator ("Q:\").
std::wstring FolderOf(const std::wstring& fileName);

} // namespace qx
