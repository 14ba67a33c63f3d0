// Options as the commands take them: "--name value" or "--name=value".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace q7 {

inline bool isOption(const std::string& s, std::string_view name) {
    return s == name || (s.size() > name.size() && s.starts_with(name) && s[name.size()] == '=');
}

// The value of the option at args[i] (moving i past a separate value); nullopt with error set
// when none follows.
inline std::optional<std::string> optionValue(const std::vector<std::string>& args, std::size_t& i,
                                              const std::string& name, std::string& error) {
    const std::string& s = args[i];
    if (s.size() > name.size() && s[name.size()] == '=')
        return s.substr(name.size() + 1);
    if (i + 1 < args.size())
        return args[++i];
    error = name + " needs a value";
    return std::nullopt;
}

} // namespace q7
