// The workbooks this Excel has open, each file held as Excel holds it (read, and others may
// only read it: neither write nor delete it) until it is closed.
#pragma once

#include "host/ScopedWin.h"

#include <string>
#include <string_view>

namespace standin {

struct OpenWorkbook {
    std::wstring name;      // the file name, by which Workbooks.Item finds it
    std::wstring full_name; // the path it was opened by
    qx::UniqueFile file;
};

// Opens the file at `path`, or hands back the open workbook of that name. Null, with the
// system's error, when the file cannot be opened.
OpenWorkbook* open_workbook(const std::wstring& path, DWORD& error);
// Null when no workbook of that name is open; names compare as Windows compares file names.
OpenWorkbook* find_workbook(std::wstring_view name);
// Lets go of the file. False when no workbook of that name is open.
bool close_workbook(std::wstring_view name);
// Workbooks.Count, which does not count add-ins.
long count_workbooks();
// Opens every add-in in `folder`, as Excel does with its start-up folder when it starts.
void open_addins_in(const std::wstring& folder);

} // namespace standin
