#include "CParameters.h"

#include <charconv>
#include <iostream>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

const int CParameters::maxJSONDepth;

namespace
{

std::string_view memberName(const Json::Value::const_iterator& it)
{
    const char* end = nullptr;
    const char* begin = it.memberName(&end);
    return {begin, static_cast<std::size_t>(end - begin)};
}

std::string_view stringValue(const Json::Value& value)
{
    const char* begin = nullptr;
    const char* end = nullptr;
    value.getString(&begin, &end);
    return {begin, static_cast<std::size_t>(end - begin)};
}

std::string compactJSON(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    // Raw bytes rather than \u escapes: escaping would decode each string
    // as UTF-8 and mangle any that is not, losing the round trip.
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// jsoncpp's strict mode still reads numbers such as 01, 1. or a lone minus,
// and raw control characters inside strings. One pass over the text rejects
// those; jsoncpp checks everything else.
bool numbersAndStringsAreStrict(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (static_cast<unsigned char>(text[i]) < 0x20) {
                    return false;
                }
                i += text[i] == '\\';
            }
        } else if (c == '-' || isDigit(c)) {
            // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
            i += c == '-';
            const std::size_t first = i;
            while (i < text.size() && isDigit(text[i])) {
                ++i;
            }
            if (i == first || (text[first] == '0' && i - first > 1)) {
                return false;
            }
            if (i < text.size() && text[i] == '.') {
                const std::size_t fraction = ++i;
                while (i < text.size() && isDigit(text[i])) {
                    ++i;
                }
                if (i == fraction) {
                    return false;
                }
            }
            if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
                i += i + 1 < text.size() && (text[i + 1] == '+' || text[i + 1] == '-');
                const std::size_t exponent = ++i;
                while (i < text.size() && isDigit(text[i])) {
                    ++i;
                }
                if (i == exponent) {
                    return false;
                }
            }
            --i;
        }
    }
    return true;
}

// Strict JSON only; jsoncpp signals a depth beyond stackLimit by throwing,
// and counts every value, the root included, as one level.
std::unique_ptr<Json::CharReader> strictReader()
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["stackLimit"] = CParameters::maxJSONDepth;
    builder["skipBom"] = false;
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
}

} // namespace

std::string CParameters::serialise(const std::string& nameValueSeparator, const std::string& entrySeparator) const
{
    std::string text;
    for (auto it = m_params.begin(); it != m_params.end(); ++it) {
        if (it != m_params.begin()) {
            text += entrySeparator;
        }
        text += memberName(it);
        text += nameValueSeparator;
        if (it->isString()) {
            text += stringValue(*it);
        } else if (!it->isNull()) {
            text += compactJSON(*it);
        }
    }
    return text;
}

bool CParameters::deSerialise(const std::string& text, const std::string& nameValueSeparator,
                              const std::string& entrySeparator)
{
    if (nameValueSeparator.empty() || entrySeparator.empty() || nameValueSeparator == entrySeparator) {
        return false;
    }
    // Split and validate everything first, so a bad entry anywhere leaves
    // the store untouched without copying it.
    std::vector<std::pair<std::string_view, std::string_view>> entries;
    const std::string_view all(text);
    for (std::size_t start = 0; start <= all.size();) {
        std::size_t stop = all.find(entrySeparator, start);
        if (stop == std::string_view::npos) {
            stop = all.size();
        }
        const std::string_view entry = all.substr(start, stop - start);
        start = stop + entrySeparator.size();
        if (entry.empty()) {
            continue;
        }
        const std::size_t split = entry.find(nameValueSeparator);
        if (split == 0 || split == std::string_view::npos) {
            return false;
        }
        entries.emplace_back(entry.substr(0, split), entry.substr(split + nameValueSeparator.size()));
    }
    for (const auto& entry : entries) {
        const std::string_view value = entry.second;
        *m_params.demand(entry.first.data(), entry.first.data() + entry.first.size()) =
            Json::Value(value.data(), value.data() + value.size());
    }
    return true;
}

std::string CParameters::serialiseAsJSON() const { return compactJSON(m_params); }

bool CParameters::deSerialiseAsJSON(const std::string& text)
{
    // A failed parse can leave a partial tree behind, so parse aside.
    if (!numbersAndStringsAreStrict(text)) {
        return false;
    }
    Json::Value parsed;
    try {
        if (!strictReader()->parse(text.data(), text.data() + text.size(), &parsed, nullptr)) {
            return false;
        }
    } catch (const Json::Exception&) {
        return false;
    }
    if (!parsed.isObject()) {
        return false;
    }
    // Merge the smaller store into the larger: when the text holds more,
    // it becomes the store and only the old entries it lacks are moved back.
    const bool textWins = parsed.size() >= m_params.size();
    if (textWins) {
        m_params.swap(parsed);
    }
    for (auto it = parsed.begin(); it != parsed.end(); ++it) {
        const std::string_view name = memberName(it);
        if (textWins && m_params.find(name.data(), name.data() + name.size()) != nullptr) {
            continue;
        }
        *m_params.demand(name.data(), name.data() + name.size()) = std::move(*it);
    }
    return true;
}

void CParameters::append(const CParameters& other)
{
    if (&other == this) {
        return;
    }
    if (m_params.empty()) {
        m_params = other.m_params; // copies the tree as it stands, no look-ups
        return;
    }
    for (auto it = other.m_params.begin(); it != other.m_params.end(); ++it) {
        const std::string_view name = memberName(it);
        *m_params.demand(name.data(), name.data() + name.size()) = *it;
    }
}

Json::Value::const_iterator CParameters::find(const std::string& name) const
{
    // jsoncpp offers no iterator for a key: find the value in log time, then
    // walk to the entry that holds it.
    const Json::Value* const value = m_params.find(name.data(), name.data() + name.size());
    auto it = m_params.begin();
    if (value != nullptr) {
        while (&*it != value) {
            ++it;
        }
        return it;
    }
    return m_params.end();
}

int CParameters::getParamAsInt(const std::string& name, int defaultValue) const
{
    const Json::Value* const value = m_params.find(name.data(), name.data() + name.size());
    if (value == nullptr) {
        return defaultValue;
    }
    if (value->isNumeric() && value->isInt()) {
        return value->asInt();
    }
    if (!value->isString()) {
        return defaultValue;
    }
    std::string_view digits = stringValue(*value);
    // from_chars takes a minus but no plus; a plus directly before a digit
    // is dropped so that "+-5" still fails.
    if (digits.size() > 1 && digits[0] == '+' && digits[1] >= '0' && digits[1] <= '9') {
        digits.remove_prefix(1);
    }
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && end == digits.data() + digits.size() ? number : defaultValue;
}

void CParameters::print() const
{
    for (auto it = m_params.begin(); it != m_params.end(); ++it) {
        std::cout << memberName(it) << " = " << compactJSON(*it) << '\n';
    }
    std::cout.flush();
}
