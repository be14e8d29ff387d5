#pragma once
// A paste waiting to be typed into the port: line ends made into the
// carriage return the Enter key sends, characters without an 8-bit code
// left out (as typing them sends nothing), handed out in slices.
#include <cstddef>
#include <string>

class TTermPaste {
public:
    static constexpr std::size_t SliceBytes = 256;

    // Appends text given as UTF-16 code units.
    void Add(const std::u16string& text);
    bool Pending() const { return at_ < bytes_.size(); }
    std::size_t Remaining() const { return bytes_.size() - at_; }
    // The next at most max characters.
    std::string Take(std::size_t max = SliceBytes);
    void Cancel();

private:
    std::string bytes_;
    std::size_t at_ = 0;
};
