#include "host/cli/Args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kw::cli {

bool ArgReader::next()
{
    if (++m_index >= m_argc) return false;
    m_option = m_argv[m_index];
    m_inlineValue.reset();
    if (const size_t eq = m_option.find('=');
        m_option.rfind("--", 0) == 0 && eq != std::string::npos) {
        m_inlineValue = m_option.substr(eq + 1);
        m_option.resize(eq);
    }
    return true;
}

std::string ArgReader::value()
{
    if (m_inlineValue) return *m_inlineValue;
    if (m_index + 1 >= m_argc) throw UsageError(m_option + ": missing value");
    return m_argv[++m_index];
}

std::optional<std::string> ArgReader::optionalValue()
{
    if (m_inlineValue) return m_inlineValue;
    if (m_index + 1 >= m_argc || m_argv[m_index + 1][0] == '-') return std::nullopt;
    return m_argv[++m_index];
}

void ArgReader::noValue() const
{
    if (m_inlineValue) throw UsageError(m_option + ": takes no value");
}

namespace detail {

void throwNotInRange(std::string_view option, const std::string& lo, const std::string& hi,
                     std::string_view text)
{
    throw UsageError(std::string(option) + ": expected a whole number from " + lo + " to " + hi +
                     ", got '" + std::string(text) + "'");
}

}  // namespace detail

double parseRate(std::string_view option, const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0 ||
        value > 1)
        throw UsageError(std::string(option) + ": expected a probability from 0 to 1, got '" +
                         text + "'");
    return value;
}

}  // namespace kw::cli
