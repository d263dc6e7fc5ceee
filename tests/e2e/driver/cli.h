// Shared plumbing for the driver's commands: arguments, output, failures, waiting.
#pragma once

#include "host/WinApi.h"

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qxdriver {

// Thrown for anything that should end the run with exit code 1 and a reason on stderr.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& reason) : std::runtime_error(reason) {}
};

struct Invocation {
    DWORD timeout_ms = 10000;
    std::vector<std::wstring> args; // after the command name
};

using Command = int (*)(const Invocation&);

// Raw UTF-8 bytes: the test reads them through a pipe, so no code page may touch them.
void write_stdout(std::string_view bytes);
bool wrote_stdout();
void write_stderr(std::string_view bytes);

std::string json_string(std::wstring_view text);
std::string utf8(std::wstring_view text);
std::string hex32(unsigned long value);
std::string win32_error_text(DWORD error);

// A whole decimal number, or Failure.
long long parse_number(const std::wstring& text);
void require_args(const Invocation& call, size_t count, const char* usage);

constexpr DWORD poll_interval_ms = 20;

class Deadline {
public:
    explicit Deadline(DWORD timeout_ms)
        : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms)) {}
    bool passed() const { return std::chrono::steady_clock::now() >= end_; }
    DWORD remaining_ms() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end_ - std::chrono::steady_clock::now());
        return left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    }

private:
    std::chrono::steady_clock::time_point end_;
};

} // namespace qxdriver
