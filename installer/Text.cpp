#include "installer/Text.h"

#include <cstring>

namespace qx {

std::size_t Piece::Length() const {
    return ascii_ ? std::strlen(ascii_) : length_;
}

void Piece::AppendTo(std::wstring& text) const {
    if (!ascii_) {
        text.append(wide_, length_);
        return;
    }
    for (const char* c = ascii_; *c != '\0'; ++c) {
        text += static_cast<wchar_t>(*c);
    }
}

std::wstring Joined(Pieces pieces) {
    std::wstring text;
    Append(text, pieces);
    return text;
}

void Append(std::wstring& text, Pieces pieces) {
    std::size_t length = text.size();
    for (const Piece& piece : pieces) {
        length += piece.Length();
    }
    text.reserve(length);
    for (const Piece& piece : pieces) {
        piece.AppendTo(text);
    }
}

} // namespace qx
