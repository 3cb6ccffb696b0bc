// Reader of answers to several ranges in one request: the multipart/byteranges state machine and the cutting of a
// single range that holds several; portable, the transfer threads.
#include "updater/net/multipart.h"

#include <stdio.h>
#include <string.h>

#include "common/text.h"
#include "updater/net/transfer.h"

bool FormatRangeHeader(const ByteRange* ranges, size_t count, char* value, size_t size) {
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        int length = snprintf(value + used, size - used, "%s%llu-%llu", i ? "," : "bytes=",
                              (unsigned long long)ranges[i].offset,
                              (unsigned long long)(ranges[i].offset + ranges[i].length - 1));
        if (length < 0 || (size_t)length >= size - used) return false;
        used += (size_t)length;
    }
    return count > 0;
}

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// RFC 2046's characters of a boundary, besides letters and digits.
bool IsBoundaryChar(char c) {
    return (c >= '0' && c <= '9') || (FoldCase(c) >= 'a' && FoldCase(c) <= 'z') || strchr("'()+_,-./:=? ", c);
}

}  // namespace

bool MultipartBoundary(const char* contentType, char* boundary) {
    if (!contentType) return false;
    const char* p = contentType;
    while (IsBlank(*p)) ++p;
    if (!StartsWithIgnoringCase(p, "multipart/byteranges")) return false;
    p += strlen("multipart/byteranges");
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (*p != ';') return false;
        ++p;
        while (IsBlank(*p)) ++p;
        bool named = StartsWithIgnoringCase(p, "boundary=");
        p += strcspn(p, "=;");
        if (*p != '=') return false;
        ++p;
        const char* start = p;
        size_t length;
        if (*p == '"') {
            start = ++p;
            length = strcspn(p, "\"");
            if (p[length] != '"') return false;
            p += length + 1;
        } else {
            length = strcspn(p, " \t;");
            p += length;
        }
        if (!named) continue;
        if (length == 0 || length > 70 || start[length - 1] == ' ') return false;
        for (size_t i = 0; i < length; ++i) {
            if (!IsBoundaryChar(start[i])) return false;
        }
        memcpy(boundary, start, length);
        boundary[length] = '\0';
        return true;
    }
}

RangesAnswerReader::RangesAnswerReader(const ByteRange* ranges, size_t count, uint64_t fileLength, RangeOutput& out)
    : ranges_(ranges), count_(count < (size_t)MaxRangesPerRequest ? count : (size_t)MaxRangesPerRequest),
      fileLength_(fileLength), out_(out) {}

RangesAnswerReader::Kind RangesAnswerReader::Begin(int status, const char* contentType, const char* contentRange) {
    kind_ = Unusable;
    if (status != 206 || count_ == 0) return kind_;
    if (MultipartBoundary(contentType, boundary_)) {
        boundaryLength_ = strlen(boundary_);
        return kind_ = Multipart;
    }
    // One range: a server that coalesced the asked ranges, or answered only the first.
    uint64_t first, last;
    int64_t total;
    const ByteRange& end = ranges_[count_ - 1];
    if (ParseContentRange(contentRange, &first, &total, &last) && total == (int64_t)fileLength_ &&
        first == ranges_[0].offset && last < end.offset + end.length) {
        position_ = first;
        spanEnd_ = last + 1;
        kind_ = OneRange;
    }
    return kind_;
}

bool RangesAnswerReader::Fail(const char* problem) {
    if (!problem_) problem_ = problem;
    state_ = Failed;
    return false;
}

bool RangesAnswerReader::PassOneRange(const char* data, size_t size) {
    // What lies beyond the answer's own range fails it, once the ranges before have been passed on.
    bool tooLong = size > spanEnd_ - position_;
    if (tooLong) size = (size_t)(spanEnd_ - position_);
    while (size > 0) {
        // The next asked range that the answer holds whole and that does not end before the next byte.
        while (part_ < count_ && (ranges_[part_].offset + ranges_[part_].length <= position_ ||
                                  ranges_[part_].offset + ranges_[part_].length > spanEnd_)) {
            ++part_;
        }
        if (part_ == count_ || ranges_[part_].offset >= position_ + size) {
            position_ += size;
            break;
        }
        if (ranges_[part_].offset > position_) {
            size_t gap = (size_t)(ranges_[part_].offset - position_);
            data += gap;
            size -= gap;
            position_ += gap;
        }
        if (position_ == ranges_[part_].offset && !out_.Start(part_)) return Fail("the staging folder refused the file");
        uint64_t left = ranges_[part_].offset + ranges_[part_].length - position_;
        size_t piece = left < size ? (size_t)left : size;
        if (!out_.Write(part_, data, piece)) return Fail("the staging folder refused the file");
        data += piece;
        size -= piece;
        position_ += piece;
        if (piece == left) {
            arrived_[part_] = true;
            if (!out_.Done(part_)) return Fail("the staging folder refused the file");
        }
    }
    return tooLong ? Fail("the server answered another range") : true;
}

bool RangesAnswerReader::Feed(const char* data, size_t size) {
    if (kind_ == OneRange && state_ != Failed) return PassOneRange(data, size);
    if (kind_ != Multipart || state_ == Failed) return Fail(problem_ ? problem_ : "the server answered another range");
    while (size > 0) {
        if (state_ == PartBody) {
            size_t piece = remaining_ < size ? (size_t)remaining_ : size;
            if (!out_.Write(part_, data, piece)) return Fail("the staging folder refused the file");
            data += piece;
            size -= piece;
            remaining_ -= piece;
            if (remaining_ == 0) {
                state_ = AfterPart;
                lineLength_ = 0;
            }
            continue;
        }
        if (state_ == Epilogue) {
            // What follows the last boundary is ignored, within the frame's bound.
            frameBytes_ += size;
            if (frameBytes_ > MultipartFrameBytes) return Fail("the multipart answer goes on after its end");
            return true;
        }
        const char* newline = (const char*)memchr(data, '\n', size);
        size_t take = newline ? (size_t)(newline - data) + 1 : size;
        frameBytes_ += take;
        if (lineLength_ + take > sizeof line_ || frameBytes_ > MultipartFrameBytes) {
            return Fail("the multipart answer is malformed");
        }
        memcpy(line_ + lineLength_, data, take);
        lineLength_ += take;
        data += take;
        size -= take;
        if (!newline) continue;
        // The lines around the parts end in CR LF, as RFC 2046 has it; a bare LF is no line end there (it is where
        // a part came one byte short). The part lengths come from Content-Range, so no line end is looked for inside
        // the data.
        size_t length = lineLength_ - 1;
        bool crlf = length > 0 && line_[length - 1] == '\r';
        if (crlf) --length;
        lineLength_ = 0;
        if (!Line(line_, length, crlf)) return false;
    }
    return true;
}

bool RangesAnswerReader::DelimiterLine(const char* line, size_t length, bool* last) const {
    // "--BOUNDARY", or "--BOUNDARY--" for the last, then blanks (transport padding).
    if (length < 2 + boundaryLength_ || line[0] != '-' || line[1] != '-' ||
        memcmp(line + 2, boundary_, boundaryLength_) != 0) {
        return false;
    }
    size_t at = 2 + boundaryLength_;
    *last = length >= at + 2 && line[at] == '-' && line[at + 1] == '-';
    if (*last) at += 2;
    while (at < length && IsBlank(line[at])) ++at;
    return at == length;
}

bool RangesAnswerReader::Line(const char* line, size_t length, bool crlf) {
    bool last = false;
    switch (state_) {
    case Preamble:
        if (!DelimiterLine(line, length, &last)) return true;  // the preamble is ignored
        if (!crlf) return Fail("the multipart answer is malformed");
        break;
    case AfterPart:
        // The line end right after a part's data: only then is the part whole.
        if (length != 0 || !crlf) return Fail("a part of the multipart answer has another length than its range");
        arrived_[part_] = true;
        if (!out_.Done(part_)) return Fail("the staging folder refused the file");
        state_ = Delimiter;
        return true;
    case Delimiter:
        if (!crlf || !DelimiterLine(line, length, &last)) return Fail("the multipart answer is malformed");
        break;
    case PartHead:
        if (!crlf) return Fail("the multipart answer is malformed");
        return PartHeadLine(line, length);
    default:
        return Fail("the multipart answer is malformed");
    }
    state_ = last ? Epilogue : PartHead;
    frameBytes_ = 0;
    headHasRange_ = false;
    return true;
}

bool RangesAnswerReader::PartHeadLine(const char* line, size_t length) {
    if (length == 0) {
        if (!headHasRange_) return Fail("a part of the multipart answer names no range");
        if (!out_.Start(part_)) return Fail("the staging folder refused the file");
        state_ = PartBody;
        return true;
    }
    char value[MultipartLineBytes];
    if (length < 14 || !StartsWithIgnoringCase(line, "content-range:")) return true;  // other headers are ignored
    size_t start = 14;
    while (start < length && IsBlank(line[start])) ++start;
    memcpy(value, line + start, length - start);
    value[length - start] = '\0';
    uint64_t first, last;
    int64_t total;
    if (headHasRange_ || !ParseContentRange(value, &first, &total, &last)) {
        return Fail("the multipart answer is malformed");
    }
    if (total != (int64_t)fileLength_) return Fail("the server's file has another length than its block index");
    size_t i = 0;
    while (i < count_ && !(ranges_[i].offset == first && ranges_[i].offset + ranges_[i].length == last + 1)) ++i;
    if (i == count_) return Fail("the server answered another range");
    if (arrived_[i]) return Fail("the server answered a range twice");
    headHasRange_ = true;
    part_ = i;
    remaining_ = ranges_[i].length;
    return true;
}

const char* RangesAnswerReader::End() {
    if (problem_) return problem_;
    if (kind_ == OneRange) {
        if (position_ != spanEnd_) Fail("a range arrived cut short");
    } else if (kind_ != Multipart) {
        Fail("the server answered another range");
    } else if (state_ != Epilogue) {
        Fail(state_ == PartBody || state_ == AfterPart ? "a range arrived cut short"
                                                       : "the multipart answer has no final boundary");
    } else {
        for (size_t i = 0; i < count_; ++i) {
            if (!arrived_[i]) Fail("the server left out a range asked for");
        }
    }
    return problem_;
}
