#include "tools/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace json {

std::string quote(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

std::string number(double value) {
    if (!std::isfinite(value)) return "null";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", value);
    return buf;
}

const Value* Value::get(const std::string& key) const {
    for (const auto& [name, value] : members)
        if (name == key) return &value;
    return nullptr;
}

namespace {

class Parser {
public:
    explicit Parser(const std::string& text) : s_(text) {}

    bool document(Value& v) {
        if (!value(v, 0)) return false;
        space();
        return at_ == s_.size();
    }

private:
    static constexpr int kMaxDepth = 64;

    void space() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r')) ++at_;
    }
    bool eat(char c) {
        space();
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool word(const char* w) {
        const std::string t(w);
        if (s_.compare(at_, t.size(), t) != 0) return false;
        at_ += t.size();
        return true;
    }

    bool value(Value& v, int depth) {
        if (depth > kMaxDepth) return false;
        space();
        if (at_ >= s_.size()) return false;
        const char c = s_[at_];
        if (c == '{') return object(v, depth);
        if (c == '[') return array(v, depth);
        if (c == '"') {
            v.type = Value::Type::kString;
            return string(v.text);
        }
        if (word("true")) return v.type = Value::Type::kBool, v.boolean = true, true;
        if (word("false")) return v.type = Value::Type::kBool, v.boolean = false, true;
        if (word("null")) return v.type = Value::Type::kNull, true;
        return numberValue(v);
    }

    bool numberValue(Value& v) {
        const size_t start = at_;
        while (at_ < s_.size() && std::string("+-0123456789.eE").find(s_[at_]) != std::string::npos) ++at_;
        if (at_ == start) return false;
        const std::string t = s_.substr(start, at_ - start);
        char* end = nullptr;
        v.number = std::strtod(t.c_str(), &end);
        v.type = Value::Type::kNumber;
        return end && *end == '\0';
    }

    bool string(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < s_.size()) {
            const char c = s_[at_++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= s_.size()) return false;
            const char e = s_[at_++];
            switch (e) {
                case '"': case '\\': case '/': out += e; break;
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'r': out += '\r'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u': {
                    if (at_ + 4 > s_.size()) return false;
                    char* end = nullptr;
                    const std::string hex = s_.substr(at_, 4);
                    const long code = std::strtol(hex.c_str(), &end, 16);
                    if (!end || *end) return false;
                    at_ += 4;
                    // UTF-8 of the code unit; surrogate pairs are not joined.
                    if (code < 0x80) {
                        out += static_cast<char>(code);
                    } else if (code < 0x800) {
                        out += static_cast<char>(0xC0 | code >> 6);
                        out += static_cast<char>(0x80 | (code & 0x3F));
                    } else {
                        out += static_cast<char>(0xE0 | code >> 12);
                        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
                        out += static_cast<char>(0x80 | (code & 0x3F));
                    }
                    break;
                }
                default: return false;
            }
        }
        return false;
    }

    bool array(Value& v, int depth) {
        ++at_;
        v.type = Value::Type::kArray;
        if (eat(']')) return true;
        do {
            v.items.emplace_back();
            if (!value(v.items.back(), depth + 1)) return false;
        } while (eat(','));
        return eat(']');
    }

    bool object(Value& v, int depth) {
        ++at_;
        v.type = Value::Type::kObject;
        if (eat('}')) return true;
        do {
            space();
            if (at_ >= s_.size() || s_[at_] != '"') return false;
            std::string key;
            if (!string(key)) return false;
            if (!eat(':')) return false;
            v.members.emplace_back(std::move(key), Value());
            if (!value(v.members.back().second, depth + 1)) return false;
        } while (eat(','));
        return eat('}');
    }

    const std::string& s_;
    size_t at_ = 0;
};

}  // namespace

bool parse(const std::string& text, Value& value) {
    value = Value();
    return Parser(text).document(value);
}

}  // namespace json
