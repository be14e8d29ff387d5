#pragma once
// The module's 128-byte flash image: the one store behind the hex grid, the
// character grid, the file and the module transfer.
#include <QObject>
#include <QString>
#include <array>
#include <cstdint>

class TFlashImage : public QObject {
    Q_OBJECT
public:
    static constexpr int Size = 128;
    using Bytes = std::array<uint8_t, Size>;

    explicit TFlashImage(QObject* parent = nullptr);

    uint8_t Byte(int address) const { return bytes_[static_cast<size_t>(address)]; }
    const Bytes& Data() const { return bytes_; }

    // Out-of-range addresses are ignored. Every store emits Changed once.
    void SetByte(int address, uint8_t b);
    void SetRange(int first, const uint8_t* data, int count);
    void Assign(const Bytes& bytes);
    void Fill(uint8_t b);

    // The byte as the hex grid shows it: two upper-case digits.
    QString HexText(int address) const;
    // The byte as the character grid shows it (code 0 shows nothing).
    QString CharText(int address) const;

signals:
    // Addresses first .. first + count - 1 were stored (possibly unchanged).
    void Changed(int first, int count);

private:
    Bytes bytes_{};
};

// The character a byte is shown as: Latin-1 for printable codes, the classic
// OEM pictures for control codes, nothing for code 0.
QString FlashDisplayChar(uint8_t b);
// The byte a typed character stands for; -1 when it stands for none.
int FlashByteForChar(QChar ch);
