#include "open_workbooks.h"

#include "event_log.h"

#include <memory>
#include <vector>

namespace standin {
namespace {

// Touched only on the server's one apartment thread.
std::vector<std::unique_ptr<OpenWorkbook>> workbooks;

bool same_name(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring file_name_of(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

bool is_addin(const std::wstring& name) {
    return name.size() > 4 && same_name(std::wstring_view(name).substr(name.size() - 4), L".xla");
}

} // namespace

OpenWorkbook* open_workbook(const std::wstring& path, DWORD& error) {
    const std::wstring name = file_name_of(path);
    if (OpenWorkbook* open = find_workbook(name))
        return open;
    qx::UniqueFile file(qx::OpenFileHandle(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (!file) {
        error = GetLastError();
        log_event(L"could not open " + path + L": error " + std::to_wstring(error));
        return nullptr;
    }
    log_event(L"opened " + path);
    workbooks.push_back(std::make_unique<OpenWorkbook>(OpenWorkbook{name, path, std::move(file)}));
    return workbooks.back().get();
}

OpenWorkbook* find_workbook(std::wstring_view name) {
    for (const auto& workbook : workbooks) {
        if (same_name(workbook->name, name))
            return workbook.get();
    }
    return nullptr;
}

bool close_workbook(std::wstring_view name) {
    for (auto workbook = workbooks.begin(); workbook != workbooks.end(); ++workbook) {
        if (same_name((*workbook)->name, name)) {
            log_event(L"closed " + (*workbook)->full_name);
            workbooks.erase(workbook);
            return true;
        }
    }
    return false;
}

long count_workbooks() {
    long count = 0;
    for (const auto& workbook : workbooks) {
        if (!is_addin(workbook->name))
            ++count;
    }
    return count;
}

void open_addins_in(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    const qx::UniqueFind search(FindFirstFileW((folder + L"\\*.xla").c_str(), &found));
    if (!search)
        return;
    do {
        DWORD error = 0;
        open_workbook(folder + L"\\" + found.cFileName, error);
    } while (FindNextFileW(search.get(), &found));
}

} // namespace standin
