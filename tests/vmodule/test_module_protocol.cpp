// The module's protocol state machine on its own: byte streams in, replies out.
#include <QtTest>

#include <random>

#include "tools/vmodule/module_protocol.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Feeds every byte and collects all replies.
Bytes Feed(TModuleProtocol& p, const Bytes& in, bool* written = nullptr)
{
    Bytes out;
    for (uint8_t b : in) {
        const auto r = p.Feed(b);
        out.insert(out.end(), r.reply.begin(), r.reply.end());
        if (written && r.memoryWritten) *written = true;
    }
    return out;
}

Bytes Block(uint8_t salt)
{
    Bytes v(32);
    for (int i = 0; i < 32; ++i) v[size_t(i)] = uint8_t(salt + i * 3);
    return v;
}

Bytes WriteFlash(uint8_t blockAddress, const Bytes& data)
{
    Bytes f{0x30, blockAddress};
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

}  // namespace

class TestModuleProtocol : public QObject {
    Q_OBJECT

private slots:
    void simpleCommands()
    {
        TModuleProtocol p;
        QCOMPARE(Feed(p, {0x0F}), (Bytes{0x43, 0x32, 0x2E, 0x31, 0x30}));
        QCOMPARE(Feed(p, {0x01}), Bytes{0x6B});
        QVERIFY(!p.Connected());
        QCOMPARE(Feed(p, {0x00, 0x00, 0x00}), Bytes{0x6B});
        QVERIFY(p.Connected());
        QCOMPARE(Feed(p, {0x02}), Bytes{0x6B});
        QCOMPARE(Feed(p, {0x03}), Bytes{0x62});
        QCOMPARE(Feed(p, {0x60}), (Bytes{0x00, 0x00}));
        // NOP and bytes that start no command draw nothing and leave the
        // module ready for the next command.
        QCOMPARE(Feed(p, {0xFF, 0xFF, 0x04, 0x7E, 0x41, 0xC3}), Bytes{});
        QVERIFY(!p.InFrame());
        QCOMPARE(Feed(p, {0x02}), Bytes{0x6B});
    }

    void connectAnswersOnlyItsAddresses()
    {
        TModuleProtocol p;
        QCOMPARE(p.UnitAddress(), uint16_t(0xFFFE));
        QCOMPARE(Feed(p, {0x00, 0xFE, 0xFF}), Bytes{0x6B});  // low byte first
        QCOMPARE(Feed(p, {0x00, 0xFF, 0xFE}), Bytes{});
        QVERIFY(!p.Connected());
        p.SetUnitAddress(0x12AB);
        QCOMPARE(Feed(p, {0x00, 0xAB, 0x12}), Bytes{0x6B});
        QCOMPARE(Feed(p, {0x00, 0x00, 0x00}), Bytes{0x6B});
        // The address bytes are data: 0xFF inside a frame is no NOP.
        QCOMPARE(Feed(p, {0x00, 0xFF}), Bytes{});
        QVERIFY(p.InFrame());
        QCOMPARE(Feed(p, {0xFF}), Bytes{});
        QVERIFY(!p.InFrame());
    }

    void readFlashBlocks()
    {
        TModuleProtocol p;
        TModuleProtocol::Memory m;
        for (int i = 0; i < 256; ++i) m[size_t(i)] = uint8_t(i);
        p.SetMemory(m);
        for (int block = 0; block < 8; ++block) {
            const Bytes r = Feed(p, {0x31, uint8_t(block * 32 + 31)});
            QCOMPARE(r.size(), size_t(33));
            QCOMPARE(r[0], uint8_t(0x5F));
            QCOMPARE(r[1], uint8_t(block * 32));
            QCOMPARE(r[32], uint8_t(block * 32 + 31));
        }
        // Address 1, length 0F: header 0x4F and the first 16 bytes of block 1.
        const Bytes r = Feed(p, {0x31, 0x2F});
        QCOMPARE(r.size(), size_t(17));
        QCOMPARE(r[0], uint8_t(0x4F));
        QCOMPARE(r[1], uint8_t(0x20));
        QCOMPARE(r[16], uint8_t(0x2F));
    }

    void eraseNeedsTheRegisterWrite()
    {
        TModuleProtocol p;
        TModuleProtocol::Memory m;
        m.fill(0x00);
        p.SetMemory(m);
        bool written = false;
        QCOMPARE(Feed(p, {0x40}, &written), (Bytes{0x6B, 0x6E}));
        QVERIFY(!written);
        QCOMPARE(p.GetMemory(), m);
        // Another value in register 4 does not unlock it either.
        QCOMPARE(Feed(p, {0x20, 0x40, 0xAB}), Bytes{0x6B});
        QCOMPARE(Feed(p, {0x40}), (Bytes{0x6B, 0x6E}));
        // What block programming writes before the erase: register 4, one byte, 0xAA.
        QCOMPARE(Feed(p, {0x20, 0x40, 0xAA}), Bytes{0x6B});
        QCOMPARE(p.GetRegisters()[4], uint8_t(0xAA));
        QCOMPARE(Feed(p, {0x40}, &written), (Bytes{0x6B, 0x6B}));
        QVERIFY(written);
        for (int i = 0; i < 256; ++i) QCOMPARE(p.GetMemory()[size_t(i)], uint8_t(i < 128 ? 0xFF : 0x00));
        // The configuration erase takes blocks 4-7 only.
        p.SetMemory(m);
        QCOMPARE(Feed(p, {0x48}), (Bytes{0x6B, 0x6B}));
        for (int i = 0; i < 256; ++i) QCOMPARE(p.GetMemory()[size_t(i)], uint8_t(i < 128 ? 0x00 : 0xFF));
    }

    void writesOnlyClearBits()
    {
        TModuleProtocol p;
        bool written = false;
        const Bytes first = Block(0x11);
        QCOMPARE(Feed(p, WriteFlash(0x3F, first), &written), Bytes{0x6B});
        QVERIFY(written);
        const auto& m = p.GetMemory();
        for (int i = 0; i < 32; ++i) QCOMPARE(m[size_t(32 + i)], first[size_t(i)]);
        QCOMPARE(m[31], uint8_t(0xFF));
        QCOMPARE(m[64], uint8_t(0xFF));
        // A second write without an erase ANDs into what is there.
        const Bytes second = Block(0xC4);
        QCOMPARE(Feed(p, WriteFlash(0x3F, second)), Bytes{0x6B});
        for (int i = 0; i < 32; ++i) QCOMPARE(p.GetMemory()[size_t(32 + i)], uint8_t(first[size_t(i)] & second[size_t(i)]));
        // A short write (length 03: four bytes) from the start of block 2.
        QCOMPARE(Feed(p, {0x30, 0x43, 0x01, 0x02, 0x03, 0x04}), Bytes{0x6B});
        QCOMPARE(p.GetMemory()[64], uint8_t(0x01));
        QCOMPARE(p.GetMemory()[67], uint8_t(0x04));
        QCOMPARE(p.GetMemory()[68], uint8_t(0xFF));
    }

    void configurationProgramming()
    {
        // The whole block-programming sequence for the configuration memory.
        TModuleProtocol p;
        TModuleProtocol::Memory m;
        m.fill(0x00);
        p.SetMemory(m);
        Bytes replies = Feed(p, {0x01, 0x00, 0x00, 0x00, 0x20, 0x40, 0xAA, 0x48});
        QCOMPARE(replies, (Bytes{0x6B, 0x6B, 0x6B, 0x6B, 0x6B}));
        const uint8_t blocks[4] = {0x9F, 0xBF, 0xDF, 0xFF};
        for (int n = 0; n < 4; ++n) {
            QCOMPARE(Feed(p, {0xFF, 0x0F}).size(), size_t(5));
            QCOMPARE(Feed(p, {0x01, 0x00, 0x00, 0x00}), (Bytes{0x6B, 0x6B}));
            QCOMPARE(Feed(p, WriteFlash(blocks[n], Block(uint8_t(n * 40)))), Bytes{0x6B});
        }
        for (int n = 0; n < 4; ++n)
            for (int i = 0; i < 32; ++i)
                QCOMPARE(p.GetMemory()[size_t(128 + n * 32 + i)], Block(uint8_t(n * 40))[size_t(i)]);
        for (int i = 0; i < 128; ++i) QCOMPARE(p.GetMemory()[size_t(i)], uint8_t(0x00));
    }

    void registers()
    {
        TModuleProtocol p;
        // Write Registers from 3, two bytes (length 01).
        QCOMPARE(Feed(p, {0x20, 0x31, 0x01, 0x02}), Bytes{0x6B});
        QCOMPARE(p.GetRegisters()[3], uint8_t(0x01));
        QCOMPARE(p.GetRegisters()[4], uint8_t(0x02));
        // Read Registers from 2, four bytes: the second command byte first.
        QCOMPARE(Feed(p, {0x21, 0x23}), (Bytes{0x23, 0x00, 0x01, 0x02, 0x00}));
        // Set RF Channel lands in register 5; Read A/D reads registers 6 and 7.
        QCOMPARE(Feed(p, {0x20, 0x50, 0x0C}), Bytes{0x6B});
        QCOMPARE(p.GetRegisters()[5], uint8_t(0x0C));
        QCOMPARE(Feed(p, {0x20, 0x61, 0x55, 0x66}), Bytes{0x6B});
        QCOMPARE(Feed(p, {0x21, 0x61}), (Bytes{0x61, 0x55, 0x66}));
        // A run past register 7 wraps to register 0; bits 3 and 7 are not address.
        QCOMPARE(Feed(p, {0x20, 0xF9, 0x77, 0x88}), Bytes{0x6B});
        QCOMPARE(p.GetRegisters()[7], uint8_t(0x77));
        QCOMPARE(p.GetRegisters()[0], uint8_t(0x88));
        QCOMPARE(Feed(p, {0x21, 0x77}).size(), size_t(9));
    }

    void sendSerialData()
    {
        TModuleProtocol p;
        QCOMPARE(Feed(p, {0x50, 0x00, 0x41}), Bytes{0x6B});
        QCOMPARE(p.LastSerialData(), Bytes{0x41});
        // The header's block bits are ignored; 32 bytes at most.
        Bytes f{0x50, 0xFF};
        for (int i = 0; i < 32; ++i) f.push_back(uint8_t(i));
        QCOMPARE(Feed(p, f), Bytes{0x6B});
        QCOMPARE(p.LastSerialData().size(), size_t(32));
    }

    void quirks()
    {
        TModuleProtocol p;
        TProtocolQuirks q;
        q.readFlashHeader = 0x60;
        q.extraReplyByte = true;
        q.versionReplyLength = 6;
        q.versionFirstByte = 0x44;
        p.SetQuirks(q);
        const Bytes flash = Feed(p, {0x31, 0x1F});
        QCOMPARE(flash.size(), size_t(34));
        QCOMPARE(flash[0], uint8_t(0x60));
        QCOMPARE(flash.back(), uint8_t(0x00));
        QCOMPARE(Feed(p, {0x0F}), (Bytes{0x44, 0x32, 0x2E, 0x31, 0x30, 0x00, 0x00}));
        QCOMPARE(Feed(p, {0x01}), (Bytes{0x6B, 0x00}));
        QCOMPARE(Feed(p, {0xFF}), Bytes{});  // no reply stays no reply
        q = TProtocolQuirks{};
        q.versionReplyLength = 0;
        p.SetQuirks(q);
        QCOMPARE(Feed(p, {0x0F}), Bytes{});
        q.versionReplyLength = 100000;
        p.SetQuirks(q);
        QCOMPARE(Feed(p, {0x0F}).size(), size_t(64));
        q.versionReplyLength = -3;
        q.readFlashHeader = 0x1234;  // only the low byte goes out
        p.SetQuirks(q);
        QCOMPARE(Feed(p, {0x0F}), Bytes{});
        QCOMPARE(Feed(p, {0x31, 0x00})[0], uint8_t(0x34));
    }

    void corruptWriteStoresOneByteWrongly()
    {
        TModuleProtocol p;
        TProtocolQuirks q;
        q.corruptWriteAddress = 0xC5;  // block 6, offset 5
        p.SetQuirks(q);
        const Bytes data = Block(0x20);
        QCOMPARE(Feed(p, WriteFlash(0xDF, data)), Bytes{0x6B});
        for (int i = 0; i < 32; ++i) {
            const uint8_t expected = i == 5 ? uint8_t(data[5] ^ 0x01) : data[size_t(i)];
            QCOMPARE(p.GetMemory()[size_t(0xC0 + i)], expected);
        }
        // Other blocks are written faithfully, and reading shows the wrong byte.
        QCOMPARE(Feed(p, WriteFlash(0x1F, data)), Bytes{0x6B});
        for (int i = 0; i < 32; ++i) QCOMPARE(p.GetMemory()[size_t(i)], data[size_t(i)]);
        QCOMPARE(Feed(p, {0x31, 0xDF})[1 + 5], uint8_t(data[5] ^ 0x01));
    }

    void abortFrameResynchronises()
    {
        TModuleProtocol p;
        QCOMPARE(Feed(p, {0x30, 0x1F, 0x01, 0x02}), Bytes{});
        QVERIFY(p.InFrame());
        p.AbortFrame();
        QVERIFY(!p.InFrame());
        QCOMPARE(Feed(p, {0x02}), Bytes{0x6B});
        QCOMPARE(p.GetMemory()[0], uint8_t(0xFF));
    }

    void garbageNeverBreaksIt()
    {
        // Arbitrary bytes: no crash, replies bounded, frames bounded, and a
        // clean command afterwards is understood once any frame is closed.
        std::mt19937 rng(12345);
        for (int run = 0; run < 200; ++run) {
            TModuleProtocol p;
            TProtocolQuirks q;
            q.extraReplyByte = run % 2;
            q.versionReplyLength = int(rng() % 80) - 8;
            q.readFlashHeader = int(rng() % 300) - 40;
            p.SetQuirks(q);
            for (int i = 0; i < 2000; ++i) {
                const auto r = p.Feed(uint8_t(rng()));
                QVERIFY(r.reply.size() <= 65);
            }
            p.AbortFrame();
            const auto before = p.GetMemory();
            const Bytes s = Feed(p, {0x02});
            QCOMPARE(s.size(), size_t(q.extraReplyByte ? 2 : 1));
            QCOMPARE(s[0], uint8_t(0x6B));
            QCOMPARE(p.GetMemory(), before);
        }
    }
};

QTEST_APPLESS_MAIN(TestModuleProtocol)
#include "test_module_protocol.moc"
