#pragma once

#include <initializer_list>
#include <string>

namespace qx {

// One piece of a text being put together: a wide string, or an ASCII literal (the log's own
// words), widened as it is joined. The log's words kept narrow take half the room in the
// program, and joining every piece at once builds no temporary string per `+`.
class Piece {
public:
    Piece(const char* ascii) : ascii_(ascii) {}
    Piece(const wchar_t* wide) : wide_(wide), length_(std::char_traits<wchar_t>::length(wide)) {}
    Piece(const std::wstring& wide) : wide_(wide.data()), length_(wide.size()) {}

    std::size_t Length() const;
    void AppendTo(std::wstring& text) const;

private:
    const char* ascii_ = nullptr;
    const wchar_t* wide_ = nullptr;
    std::size_t length_ = 0;
};

using Pieces = std::initializer_list<Piece>;

std::wstring Joined(Pieces pieces);
void Append(std::wstring& text, Pieces pieces);

} // namespace qx
