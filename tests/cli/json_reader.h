// SPDX-License-Identifier: GPL-3.0-or-later
// Just enough JSON to check what q7ctl prints: a parse failure is a test failure.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace q7::test {

struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> array;       // array items, or object members
    std::vector<std::string> keys; // object keys, in their order

    const Json& operator[](const std::string& key) const {
        static const Json none;
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key)
                return array[i];
        return none;
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& s) : s_(s) {}

    std::optional<Json> document() {
        Json v;
        if (!value(v))
            return std::nullopt;
        space();
        if (at_ != s_.size())
            return std::nullopt;
        return v;
    }

private:
    const std::string& s_;
    std::size_t at_ = 0;

    void space() {
        while (at_ < s_.size() && std::isspace((unsigned char)s_[at_]))
            ++at_;
    }
    bool take(char c) {
        space();
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool word(const char* w) {
        const std::string text(w);
        if (s_.compare(at_, text.size(), text) != 0)
            return false;
        at_ += text.size();
        return true;
    }
    bool text(std::string& out) {
        if (!take('"'))
            return false;
        for (; at_ < s_.size(); ++at_) {
            if (s_[at_] == '"') {
                ++at_;
                return true;
            }
            if (s_[at_] == '\\' && ++at_ >= s_.size())
                return false;
            out.push_back(s_[at_]);
        }
        return false;
    }
    bool value(Json& v) {
        space();
        if (at_ >= s_.size())
            return false;
        const char c = s_[at_];
        if (c == '{') {
            ++at_;
            v.type = Json::Type::Object;
            if (take('}'))
                return true;
            do {
                std::string key;
                Json member;
                if (!text(key) || !take(':') || !value(member) ||
                    std::find(v.keys.begin(), v.keys.end(), key) != v.keys.end())
                    return false;
                v.keys.push_back(key);
                v.array.push_back(std::move(member));
            } while (take(','));
            return take('}');
        }
        if (c == '[') {
            ++at_;
            v.type = Json::Type::Array;
            if (take(']'))
                return true;
            do {
                v.array.emplace_back();
                if (!value(v.array.back()))
                    return false;
            } while (take(','));
            return take(']');
        }
        if (c == '"') {
            v.type = Json::Type::String;
            return text(v.string);
        }
        if (word("true")) {
            v.type = Json::Type::Bool;
            v.boolean = true;
            return true;
        }
        if (word("false")) {
            v.type = Json::Type::Bool;
            return true;
        }
        if (word("null"))
            return true;
        const std::size_t start = at_;
        while (at_ < s_.size() && std::strchr("+-0123456789.eE", s_[at_]) && s_[at_] != '\0')
            ++at_;
        if (at_ == start)
            return false;
        char* end = nullptr;
        const std::string number = s_.substr(start, at_ - start);
        v.type = Json::Type::Number;
        v.number = std::strtod(number.c_str(), &end);
        return end == number.c_str() + number.size();
    }
};

} // namespace q7::test
