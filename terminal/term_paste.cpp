#include "terminal/term_paste.h"

#include <algorithm>

void TTermPaste::Add(const std::u16string& text)
{
    if (at_ > 0 && at_ == bytes_.size()) Cancel();  // drop what was sent
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r') {
            bytes_.push_back('\r');
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        } else if (c == u'\n') {
            bytes_.push_back('\r');
        } else if (c <= 0xFF) {
            bytes_.push_back(static_cast<char>(c));
        }
    }
}

std::string TTermPaste::Take(std::size_t max)
{
    const std::size_t n = std::min(max, Remaining());
    std::string s = bytes_.substr(at_, n);
    at_ += n;
    if (at_ == bytes_.size()) Cancel();
    return s;
}

void TTermPaste::Cancel()
{
    bytes_.clear();
    at_ = 0;
}
