#include "cli/JsonValue.h"

#include "image/SRecordReader.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxDepth = 32;

class Reader {
public:
    explicit Reader(const std::string& text) : s_(text) {}

    bool Document(JsonValue* out) {
        SkipSpace();
        if (!Value(out, 0)) return false;
        SkipSpace();
        return i_ == s_.size();
    }

private:
    void SkipSpace() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
    }

    bool Literal(const char* word) {
        const size_t n = std::strlen(word);
        if (s_.compare(i_, n, word) != 0) return false;
        i_ += n;
        return true;
    }

    bool Value(JsonValue* v, int depth) {
        if (depth > kMaxDepth || i_ >= s_.size()) return false;
        const char c = s_[i_];
        if (c == '{') return Object(v, depth);
        if (c == '[') return Array(v, depth);
        if (c == '"') {
            v->type = JsonValue::Type::String;
            return String(&v->string);
        }
        if (c == 't' || c == 'f') {
            v->type = JsonValue::Type::Bool;
            v->boolean = c == 't';
            return Literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            v->type = JsonValue::Type::Null;
            return Literal("null");
        }
        return Number(v);
    }

    bool Object(JsonValue* v, int depth) {
        v->type = JsonValue::Type::Object;
        ++i_;
        SkipSpace();
        if (i_ < s_.size() && s_[i_] == '}') return ++i_, true;
        for (;;) {
            SkipSpace();
            std::string key;
            if (i_ >= s_.size() || s_[i_] != '"' || !String(&key)) return false;
            SkipSpace();
            if (i_ >= s_.size() || s_[i_] != ':') return false;
            ++i_;
            SkipSpace();
            JsonValue member;
            if (!Value(&member, depth + 1)) return false;
            v->object.emplace_back(std::move(key), std::move(member));
            SkipSpace();
            if (i_ >= s_.size()) return false;
            if (s_[i_] == '}') return ++i_, true;
            if (s_[i_] != ',') return false;
            ++i_;
        }
    }

    bool Array(JsonValue* v, int depth) {
        v->type = JsonValue::Type::Array;
        ++i_;
        SkipSpace();
        if (i_ < s_.size() && s_[i_] == ']') return ++i_, true;
        for (;;) {
            SkipSpace();
            JsonValue element;
            if (!Value(&element, depth + 1)) return false;
            v->array.push_back(std::move(element));
            SkipSpace();
            if (i_ >= s_.size()) return false;
            if (s_[i_] == ']') return ++i_, true;
            if (s_[i_] != ',') return false;
            ++i_;
        }
    }

    bool Number(JsonValue* v) {
        // The grammar first: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
        const size_t start = i_;
        auto digits = [&] {
            const size_t from = i_;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
            return i_ > from;
        };
        if (i_ < s_.size() && s_[i_] == '-') ++i_;
        if (i_ < s_.size() && s_[i_] == '0')
            ++i_;
        else if (!digits())
            return false;
        if (i_ < s_.size() && s_[i_] == '.') {
            ++i_;
            if (!digits()) return false;
        }
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            ++i_;
            if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
            if (!digits()) return false;
        }
        v->type = JsonValue::Type::Number;
        v->number = std::strtod(s_.substr(start, i_ - start).c_str(), nullptr);
        return std::isfinite(v->number);
    }

    bool Hex4(uint32_t* out) {
        if (i_ + 4 > s_.size()) return false;
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const int digit = HexDigitValue(static_cast<unsigned char>(s_[i_++]));
            if (digit < 0) return false;
            v = v << 4 | static_cast<uint32_t>(digit);
        }
        *out = v;
        return true;
    }

    static void AppendUtf8(std::string* out, uint32_t cp) {
        if (cp < 0x80) {
            *out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            *out += static_cast<char>(0xC0 | cp >> 6);
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out += static_cast<char>(0xE0 | cp >> 12);
            *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | cp >> 18);
            *out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool String(std::string* out) {
        ++i_;  // the opening quote
        for (;;) {
            if (i_ >= s_.size()) return false;
            const unsigned char c = static_cast<unsigned char>(s_[i_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') {
                *out += static_cast<char>(c);
                continue;
            }
            if (i_ >= s_.size()) return false;
            const char e = s_[i_++];
            switch (e) {
            case '"': *out += '"'; break;
            case '\\': *out += '\\'; break;
            case '/': *out += '/'; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'u': {
                uint32_t cp = 0;
                if (!Hex4(&cp)) return false;
                if (cp >= 0xD800 && cp <= 0xDBFF && s_.compare(i_, 2, "\\u") == 0) {
                    const size_t back = i_;
                    i_ += 2;
                    uint32_t low = 0;
                    if (Hex4(&low) && low >= 0xDC00 && low <= 0xDFFF) {
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else {
                        i_ = back;
                    }
                }
                if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
                AppendUtf8(out, cp);
                break;
            }
            default: return false;
            }
        }
    }

    const std::string& s_;
    size_t i_ = 0;
};

}  // namespace

const JsonValue* JsonValue::Get(const std::string& key) const {
    if (type != Type::Object) return nullptr;
    for (const auto& member : object)
        if (member.first == key) return &member.second;
    return nullptr;
}

std::optional<std::string> JsonValue::String(const std::string& key) const {
    const JsonValue* v = Get(key);
    if (!v || v->type != Type::String) return std::nullopt;
    return v->string;
}

std::optional<double> JsonValue::Number(const std::string& key) const {
    const JsonValue* v = Get(key);
    if (!v || v->type != Type::Number) return std::nullopt;
    return v->number;
}

std::optional<bool> JsonValue::Bool(const std::string& key) const {
    const JsonValue* v = Get(key);
    if (!v || v->type != Type::Bool) return std::nullopt;
    return v->boolean;
}

bool ParseJson(const std::string& text, JsonValue* out) {
    *out = JsonValue();
    Reader reader(text);
    return reader.Document(out);
}
