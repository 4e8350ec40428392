#include "cli/WriteSummary.h"

#include "cli/JsonValue.h"
#include "cli/Progress.h"

#include <cstdio>

namespace {

std::string Hex(uint32_t v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

std::string Fixed(double v, int decimals) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    // snprintf follows LC_NUMERIC; JSON and the summary want a point.
    for (char* p = buf; *p; ++p)
        if (*p == ',') *p = '.';
    return buf;
}

template <typename T>
std::string OrNull(const std::optional<T>& v) {
    return v ? std::to_string(*v) : "null";
}

// The length of the valid UTF-8 sequence at s[i], or 0 when there is none.
size_t Utf8Length(const std::string& s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t len;
    uint32_t cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        len = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        len = 4, cp = c & 0x07;
    else
        return 0;
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    return len;
}

std::string VerifyJson(const VerifySummary& v) {
    std::string j = "{\"mode\":" + JsonString(v.mode);
    j += ",\"ok\":";
    j += v.ok ? "true" : "false";
    j += ",\"message\":" + JsonString(v.message);
    j += ",\"bytes_compared\":" + OrNull(v.bytesCompared);
    j += ",\"expected_sum\":" + OrNull(v.expectedSum);
    j += ",\"actual_sum\":" + OrNull(v.actualSum);
    j += ",\"address\":" + OrNull(v.address);
    j += ",\"expected\":" + OrNull(v.expectedByte);
    j += ",\"actual\":" + OrNull(v.actualByte);
    return j + "}";
}

}  // namespace

std::string VerifyResultText(const VerifySummary& v) {
    if (v.ok) {
        std::string t = "verify OK (" + v.mode;
        if (v.bytesCompared) t += ", " + std::to_string(*v.bytesCompared) + " bytes";
        if (v.actualSum) t += ", sum " + Hex(*v.actualSum, 8);
        return t + ")";
    }
    std::string t = "verify FAILED (" + v.mode;
    if (v.address) {
        t += ", at " + Hex(*v.address, 8);
        if (v.expectedByte && v.actualByte)
            t += ": expected " + Hex(*v.expectedByte, 2) + ", read " + Hex(*v.actualByte, 2);
    } else if (v.expectedSum && v.actualSum) {
        t += ": expected sum " + Hex(*v.expectedSum, 8) + ", read " + Hex(*v.actualSum, 8);
    } else if (!v.message.empty()) {
        t += ": " + v.message;
    }
    return t + ")";
}

const char* WriteEndName(WriteEnd end) {
    switch (end) {
    case WriteEnd::Done: return "done";
    case WriteEnd::Cancelled: return "cancelled";
    case WriteEnd::FileRefused: return "file-refused";
    case WriteEnd::TargetFailed: return "target-failed";
    case WriteEnd::LinkFailed: return "link-failed";
    case WriteEnd::VerifyFailed: return "verify-failed";
    case WriteEnd::Interrupted: return "interrupted";
    case WriteEnd::Crashed: return "crashed";
    }
    return "target-failed";
}

uint64_t WriteSummary::BytesWritten() const {
    const uint64_t image = imageBytes.value_or(0);
    if (end == WriteEnd::Done || end == WriteEnd::VerifyFailed) return image;
    const uint64_t acked = programmedTo.value_or(0);
    return acked < image ? acked : image;
}

double WriteSummary::BytesPerSecond() const {
    return elapsedSeconds > 0 ? static_cast<double>(BytesWritten()) / elapsedSeconds : 0;
}

std::string JsonString(const std::string& bytes) {
    std::string j = "\"";
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        const size_t len = Utf8Length(bytes, i);
        if (len == 0) {
            j += "\\ufffd";
            ++i;
            continue;
        }
        if (len > 1) {
            j.append(bytes, i, len);
            i += len;
            continue;
        }
        ++i;
        switch (c) {
        case '"': j += "\\\""; break;
        case '\\': j += "\\\\"; break;
        case '\b': j += "\\b"; break;
        case '\f': j += "\\f"; break;
        case '\n': j += "\\n"; break;
        case '\r': j += "\\r"; break;
        case '\t': j += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                j += buf;
            } else {
                j += static_cast<char>(c);
            }
        }
    }
    return j + "\"";
}

std::string SummaryJson(const WriteSummary& s) {
    std::string j = "{\"file\":" + JsonString(s.file);
    j += ",\"port\":" + JsonString(s.port);
    j += ",\"outcome\":" + JsonString(WriteEndName(s.end));
    j += ",\"stage\":" + OrNull(s.stage);
    j += ",\"message\":" + JsonString(s.message);
    j += ",\"exit\":" + std::to_string(s.exitStatus);
    j += ",\"image_bytes\":" + OrNull(s.imageBytes);
    j += ",\"blocks_sent\":" + std::to_string(s.blocksSent);
    j += ",\"blocks_skipped\":" + OrNull(s.blocksSkipped);
    j += ",\"bit_rate\":" + OrNull(s.bitRate);
    j += ",\"elapsed_s\":" + Fixed(s.elapsedSeconds, 3);
    j += ",\"bytes_per_s\":" + Fixed(s.BytesPerSecond(), 0);
    j += ",\"verify\":" + (s.verify ? VerifyJson(*s.verify) : std::string("null"));
    j += ",\"board\":" + JsonString(BoardStateName(s.board));
    j += ",\"programmed_to\":" + OrNull(s.programmedTo);
    return j + "}";
}

std::string SummaryJsonArray(const std::vector<WriteSummary>& all) {
    if (all.empty()) return "[]";
    std::string j = "[\n";
    for (size_t i = 0; i < all.size(); ++i) j += SummaryJson(all[i]) + (i + 1 < all.size() ? ",\n" : "\n");
    return j + "]";
}

namespace {

template <typename T>
std::optional<T> Whole(const JsonValue& v, const std::string& key) {
    const std::optional<double> n = v.Number(key);
    if (!n || *n < 0) return std::nullopt;
    return static_cast<T>(*n);
}

}  // namespace

bool SummaryFromJson(const std::string& text, WriteSummary* out) {
    JsonValue v;
    if (!ParseJson(text, &v) || v.type != JsonValue::Type::Object) return false;
    WriteSummary s;
    const std::optional<std::string> outcome = v.String("outcome"), board = v.String("board");
    const std::optional<double> exit = v.Number("exit");
    if (!outcome || !board || !exit) return false;
    bool known = false;
    for (int k = 0; k <= static_cast<int>(WriteEnd::Crashed); ++k)
        if (*outcome == WriteEndName(static_cast<WriteEnd>(k))) s.end = static_cast<WriteEnd>(k), known = true;
    if (!known) return false;
    known = false;
    for (int k = 0; k <= static_cast<int>(BoardState::Unknown); ++k)
        if (*board == BoardStateName(static_cast<BoardState>(k))) s.board = static_cast<BoardState>(k), known = true;
    if (!known) return false;

    s.file = v.String("file").value_or("");
    s.port = v.String("port").value_or("");
    s.message = v.String("message").value_or("");
    s.exitStatus = static_cast<int>(*exit);
    s.stage = Whole<int>(v, "stage");
    s.imageBytes = Whole<uint64_t>(v, "image_bytes");
    s.blocksSent = Whole<uint64_t>(v, "blocks_sent").value_or(0);
    s.blocksSkipped = Whole<uint64_t>(v, "blocks_skipped");
    s.bitRate = Whole<uint32_t>(v, "bit_rate");
    s.elapsedSeconds = v.Number("elapsed_s").value_or(0);
    s.programmedTo = Whole<uint32_t>(v, "programmed_to");
    if (const JsonValue* verify = v.Get("verify"); verify && verify->type == JsonValue::Type::Object) {
        VerifySummary r;
        r.mode = verify->String("mode").value_or("");
        r.ok = verify->Bool("ok").value_or(false);
        r.message = verify->String("message").value_or("");
        r.bytesCompared = Whole<uint64_t>(*verify, "bytes_compared");
        r.expectedSum = Whole<uint32_t>(*verify, "expected_sum");
        r.actualSum = Whole<uint32_t>(*verify, "actual_sum");
        r.address = Whole<uint32_t>(*verify, "address");
        r.expectedByte = Whole<uint8_t>(*verify, "expected");
        r.actualByte = Whole<uint8_t>(*verify, "actual");
        s.verify = r;
    }
    *out = s;
    return true;
}

std::string OutcomeText(const WriteSummary& s) {
    std::string t = WriteEndName(s.end);
    if (s.stage) t += " at stage " + std::to_string(*s.stage);
    return t;
}

bool TellsBoardState(const WriteSummary& s) {
    return s.board != BoardState::RunningNewProgram && s.board != BoardState::Untouched;
}

std::string SummaryLine(const WriteSummary& s) {
    std::string t = "summary: ";
    t += s.imageBytes ? std::to_string(*s.imageBytes) + " bytes" : std::string("no image");
    t += ", " + std::to_string(s.blocksSent) + (s.blocksSent == 1 ? " block sent" : " blocks sent");
    if (s.blocksSkipped) t += ", " + std::to_string(*s.blocksSkipped) + " skipped";
    if (s.bitRate) t += ", " + std::to_string(*s.bitRate) + " bit/s";
    t += ", " + Fixed(s.elapsedSeconds, 2) + " s";
    if (s.BytesWritten() > 0 && s.elapsedSeconds > 0) t += ", " + FormatBytes(s.BytesPerSecond()) + "/s";
    if (s.verify) t += ", " + VerifyResultText(*s.verify);
    if (s.end != WriteEnd::Done) t += ", " + OutcomeText(s);
    if (TellsBoardState(s)) t += "; board: " + DescribeBoard(s.board, s.programmedTo);
    return t;
}
