#pragma once
// Command-line reading shared by the host programs: options given as "--name VALUE" or
// "--name=VALUE", and range-checked parsing of their numbers. Mistakes are thrown as
// UsageError so each program reports them in its own way.
#include <charconv>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kw::cli {

// A mistake on the command line. what() is one line, without the program name.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Walks argv from argv[1], one option at a time.
class ArgReader {
public:
    ArgReader(int argc, const char* const* argv) : m_argc(argc), m_argv(argv) {}

    // Moves to the next option; false when none is left. "--name=value" is split into the
    // option and its inline value.
    bool next();
    const std::string& option() const { return m_option; }
    // The option's value: the inline one, or else the next argument.
    std::string value();
    // An optional value: the inline one, or else the next argument unless it is an option.
    std::optional<std::string> optionalValue();
    // Refuses an inline value for an option that takes none.
    void noValue() const;

private:
    int m_argc;
    const char* const* m_argv;
    int m_index = 0;
    std::string m_option;
    std::optional<std::string> m_inlineValue;
};

namespace detail {
[[noreturn]] void throwNotInRange(std::string_view option, const std::string& lo,
                                  const std::string& hi, std::string_view text);
}

// A whole number from lo to hi, all of `text`.
template <typename T>
T parseInteger(std::string_view option, std::string_view text, T lo, T hi)
{
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi)
        detail::throwNotInRange(option, std::to_string(lo), std::to_string(hi), text);
    return value;
}

// A probability from 0 to 1.
double parseRate(std::string_view option, const std::string& text);

}  // namespace kw::cli
