#pragma once
// Escape-code parsers of the terminal: byte stream -> code and parameters,
// and code and parameters -> byte sequence (keys and status replies).
// Plain C++: the terminal engine and the tests use them directly.
#include <cstdint>
#include <string>
#include <vector>

enum TEscapeCode {
    ecUnknown = 0,
    ecNotCompleted,
    ecCursorUp,
    ecCursorDown,
    ecCursorLeft,
    ecCursorRight,
    ecCursorHome,
    ecCursorMove,
    ecReverseLineFeed,
    ecAppCursorLeft,
    ecAppCursorRight,
    ecAppCursorUp,
    ecAppCursorDown,
    ecEraseLineToEnd,
    ecEraseScreenToEnd,
    ecEraseLine,
    ecEraseScreen,
    ecSetTab,
    ecClearTab,
    ecClearAllTabs,
    ecIdentify,
    ecIdentifyResponse,
    ecQueryDevice,
    ecReportDeviceOk,
    ecReportDeviceFailure,
    ecQueryCursorPos,
    ecReportCursorPos,
    ecAttributes,
    ecSetMode,
    ecResetMode,
    ecResetDevice,
    ecSaveCaretAndAttr,
    ecRestoreCaretAndAttr,
    ecSaveCaret,
    ecRestoreCaret,
    ecScreenTest,
};

enum FeedResult { frPlain = 0, frCodeReady = 1, frCollecting = 2 };

using TParamList = std::vector<std::string>;

class TEscapeCodes {
public:
    // A device that sends ESC "[" and then never a final letter would
    // otherwise grow the sequence without bound; past this many characters
    // after ESC the sequence ends as ecUnknown.
    static constexpr std::size_t MaxSequenceLength = 256;

    TEscapeCodes() = default;
    virtual ~TEscapeCodes() = default;
    TEscapeCodes(const TEscapeCodes&) = delete;
    TEscapeCodes& operator=(const TEscapeCodes&) = delete;

    virtual FeedResult FeedChar(char c);
    // Empty when the emulation has no sequence for the code.
    virtual std::string SequenceFor(TEscapeCode code, const TParamList* params) const = 0;

    // The n-th entry (from 1) as a decimal integer; 1 when the list is
    // missing or short, or the entry is not a (32-bit) integer.
    static int ParamValue(int n, const TParamList* params);

    TParamList ParamList;
    char LastChar = 0;
    TEscapeCode LastCode = ecUnknown;
    std::string SeqText;
    bool InEscape = false;

protected:
    // Classifies SeqText after a character was appended.
    virtual TEscapeCode Classify() = 0;
    // Called when a sequence ends, to clear emulation-specific flags.
    virtual void EndSequence() { InEscape = false; }
};

class TEscapeCodesVT100 : public TEscapeCodes {
public:
    std::string SequenceFor(TEscapeCode code, const TParamList* params) const override;
    bool InControlSequence = false;

    // The parameter splitting rule of control sequences (";5" stays one
    // parameter); exposed for the tests.
    static TParamList SplitParams(const std::string& text);

protected:
    TEscapeCode Classify() override;
    void EndSequence() override;

private:
    TEscapeCode ClassifyControlSequence();
};

class TEscapeCodesVT52 : public TEscapeCodes {
public:
    std::string SequenceFor(TEscapeCode code, const TParamList* params) const override;

protected:
    TEscapeCode Classify() override;
};
