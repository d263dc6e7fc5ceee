#include "cli.h"

#include "host/Utf8.h"
#include "host/Win32Error.h"

#include <cstdio>

namespace qxdriver {
namespace {

void write_handle(DWORD which, std::string_view bytes) {
    const HANDLE out = GetStdHandle(which);
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written == 0)
            return;
        bytes.remove_prefix(written);
    }
}

} // namespace

namespace {

bool said_anything = false;

} // namespace

void write_stdout(std::string_view bytes) {
    said_anything = true;
    write_handle(STD_OUTPUT_HANDLE, bytes);
}

bool wrote_stdout() {
    return said_anything;
}
void write_stderr(std::string_view bytes) {
    write_handle(STD_ERROR_HANDLE, bytes);
}

std::string utf8(std::wstring_view text) {
    return qx::Utf8(text);
}

std::string json_string(std::wstring_view text) {
    const std::string bytes = utf8(text);
    std::string out = "\"";
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string hex32(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

std::string win32_error_text(DWORD error) {
    std::wstring text = qx::SystemErrorText(error);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return std::to_string(error) + (text.empty() ? "" : " (" + utf8(text) + ")");
}

long long parse_number(const std::wstring& text) {
    try {
        size_t used = 0;
        const long long value = std::stoll(text, &used, 10);
        if (used == text.size())
            return value;
    } catch (const std::exception&) {
    }
    throw Failure("not a number: " + utf8(text));
}

void require_args(const Invocation& call, size_t count, const char* usage) {
    if (call.args.size() != count)
        throw Failure(std::string("usage: qxdriver ") + usage);
}

} // namespace qxdriver
