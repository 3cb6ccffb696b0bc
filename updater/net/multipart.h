// Reader of the answer to a request for several byte ranges at once (a multipart/byteranges body, or one range
// that holds some of them), fed the body in pieces of any size as it arrives; portable, the transfer threads.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "updater/delta/block_index.h"

enum {
    // Ranges asked for in one request at most: their "Range: bytes=A-B,..." header stays under about 2.5 KB even
    // with 19-digit offsets, well inside what servers take (8 KB per header line is a common default).
    MaxRangesPerRequest = 60,
    // A multipart answer's lines (boundaries and part headers) at most, and the bytes around its parts (preamble,
    // a part's header, epilogue) at most: what a server needs for them is far less.
    MultipartLineBytes = 512,
    MultipartFrameBytes = 4096,
};

// Where the bytes of the asked ranges go: each range's bytes in order from its first, once.
struct RangeOutput {
    virtual bool Start(size_t range) = 0;  // the range's first byte comes next
    virtual bool Write(size_t range, const char* data, size_t size) = 0;
    virtual bool Done(size_t range) = 0;  // the range arrived whole
};

// The "bytes=A-B,C-D,..." value of a Range header asking for count ranges; false when it does not fit in size.
bool FormatRangeHeader(const ByteRange* ranges, size_t count, char* value, size_t size);

// The boundary of a "multipart/byteranges; boundary=..." Content-Type (a token or a quoted string of 1 to 70
// characters) into boundary (71 bytes); false for any other type.
bool MultipartBoundary(const char* contentType, char* boundary);

class RangesAnswerReader {
public:
    // ranges: what was asked, in file order and apart, of a file of fileLength bytes.
    RangesAnswerReader(const ByteRange* ranges, size_t count, uint64_t fileLength, RangeOutput& out);

    enum Kind {
        Multipart,  // a multipart/byteranges 206: every part must be an asked range, each asked range a part
        OneRange,   // a 206 for one range from the first asked byte: the asked ranges it holds whole are cut from it
        Unusable,   // anything else (200, 416, ...): its body is not read; the ranges are to be asked one by one
    };
    // The answer's status and its Content-Type and Content-Range values (null when absent).
    Kind Begin(int status, const char* contentType, const char* contentRange);
    // The next piece of the body; false once the answer turned out wrong (Problem tells why) or the output failed.
    bool Feed(const char* data, size_t size);
    // After the body ended: null when it was complete (for OneRange: every byte of its range arrived), otherwise
    // what was wrong with it.
    const char* End();

    const char* Problem() const { return problem_; }
    bool Arrived(size_t range) const { return range < count_ && arrived_[range]; }

private:
    enum State { Preamble, PartHead, PartBody, AfterPart, Delimiter, Epilogue, Failed };
    bool Fail(const char* problem);
    bool Line(const char* line, size_t length, bool crlf);
    bool DelimiterLine(const char* line, size_t length, bool* last) const;
    bool PartHeadLine(const char* line, size_t length);
    bool PassOneRange(const char* data, size_t size);

    const ByteRange* ranges_;
    size_t count_;
    uint64_t fileLength_;
    RangeOutput& out_;
    Kind kind_ = Unusable;
    State state_ = Preamble;
    const char* problem_ = nullptr;
    bool arrived_[MaxRangesPerRequest] = {};
    char boundary_[71] = "";
    size_t boundaryLength_ = 0;
    char line_[MultipartLineBytes];
    size_t lineLength_ = 0;
    size_t frameBytes_ = 0;      // bytes of the current preamble, part head or epilogue so far
    bool headHasRange_ = false;  // the part's head named an asked range: part_ and remaining_ hold it
    size_t part_ = 0;
    uint64_t remaining_ = 0;
    uint64_t position_ = 0;      // OneRange: the file offset of the next body byte
    uint64_t spanEnd_ = 0;       // OneRange: one past the answer's last byte
};
