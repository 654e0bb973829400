#include "CParameters.h"

#include <charconv>
#include <iostream>
#include <memory>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

const int CParameters::maxJSONDepth;

namespace {

std::string_view memberName(const Json::Value::const_iterator& it)
{
    const char* end = nullptr;
    const char* begin = it.memberName(&end);
    return {begin, static_cast<std::size_t>(end - begin)};
}

// The store's entry for a name, added as null when absent. Names may hold
// any bytes, NULs included.
Json::Value& entryFor(Json::Value& store, std::string_view name)
{
    return *store.demand(name.data(), name.data() + name.size());
}

// Building a jsoncpp writer or reader costs more than using it on a small
// store, so each thread keeps one of each; neither calls back into us, so
// neither is ever used twice at once.
class CompactWriter {
public:
    CompactWriter()
    {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        // Raw bytes rather than \u escapes: escaping would decode each string
        // as UTF-8 and mangle any that is not, losing the round trip.
        builder["emitUTF8"] = true;
        m_writer.reset(builder.newStreamWriter());
    }

    std::string write(const Json::Value& value)
    {
        m_out.str(std::string());
        m_writer->write(value, &m_out);
        return m_out.str();
    }

private:
    std::unique_ptr<Json::StreamWriter> m_writer;
    std::ostringstream m_out;
};

std::string compactJSON(const Json::Value& value)
{
    thread_local CompactWriter writer;
    return writer.write(value);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t skipDigits(std::string_view text, std::size_t i)
{
    while (i < text.size() && isDigit(text[i])) {
        ++i;
    }
    return i;
}

// The end of the JSON number that starts at i, or npos when there is none:
// -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
std::size_t numberEnd(std::string_view text, std::size_t i)
{
    i += text[i] == '-';
    const std::size_t first = i;
    i = skipDigits(text, i);
    if (i == first || (text[first] == '0' && i - first > 1)) {
        return std::string_view::npos;
    }
    if (i < text.size() && text[i] == '.') {
        const std::size_t fraction = i + 1;
        i = skipDigits(text, fraction);
        if (i == fraction) {
            return std::string_view::npos;
        }
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        i += i < text.size() && (text[i] == '+' || text[i] == '-');
        const std::size_t exponent = i;
        i = skipDigits(text, exponent);
        if (i == exponent) {
            return std::string_view::npos;
        }
    }
    return i;
}

// jsoncpp's strict mode still reads numbers such as 01, 1. or a lone minus,
// and raw control characters inside strings; this pass rejects those. It
// also counts the colons outside strings, one for each object member that
// the text holds at any depth.
bool scanText(std::string_view text, std::size_t& members)
{
    members = 0;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (static_cast<unsigned char>(text[i]) < 0x20) {
                    return false;
                }
                i += text[i] == '\\'; // the escaped byte goes with it
            }
            ++i;
        } else if (c == '-' || isDigit(c)) {
            i = numberEnd(text, i);
            if (i == std::string_view::npos) {
                return false;
            }
        } else {
            members += c == ':';
            ++i;
        }
    }
    return true;
}

// The members of every object within value.
std::size_t memberCount(const Json::Value& value)
{
    std::size_t count = value.isObject() ? value.size() : 0;
    for (const Json::Value& child : value) {
        if (child.isObject() || child.isArray()) {
            count += memberCount(child);
        }
    }
    return count;
}

// Strict JSON only; jsoncpp signals a depth beyond stackLimit by throwing,
// and counts every value, the root included, as one level. Its own check
// for duplicate names looks every name up once more, a quarter of the parse;
// deSerialiseAsJSON finds duplicates by counting members instead.
Json::CharReader& strictReader()
{
    thread_local const std::unique_ptr<Json::CharReader> reader = [] {
        Json::CharReaderBuilder builder;
        Json::CharReaderBuilder::strictMode(&builder.settings_);
        builder["stackLimit"] = CParameters::maxJSONDepth;
        builder["skipBom"] = false;
        builder["rejectDupKeys"] = false;
        return std::unique_ptr<Json::CharReader>(builder.newCharReader());
    }();
    return *reader;
}

} // namespace

std::string CParameters::serialise(const std::string& nameValueSeparator, const std::string& entrySeparator) const
{
    std::string text;
    const auto first = m_params.begin();
    for (auto it = first, last = m_params.end(); it != last; ++it) {
        if (it != first) {
            text += entrySeparator;
        }
        text += memberName(it);
        text += nameValueSeparator;
        const char* begin = nullptr;
        const char* end = nullptr;
        if (it->getString(&begin, &end)) {
            text.append(begin, end);
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
    for (const auto& [name, value] : entries) {
        entryFor(m_params, name) = Json::Value(value.data(), value.data() + value.size());
    }
    return true;
}

std::string CParameters::serialiseAsJSON() const { return compactJSON(m_params); }

bool CParameters::deSerialiseAsJSON(const std::string& text)
{
    std::size_t members = 0;
    if (!scanText(text, members)) {
        return false;
    }
    // A failed parse can leave a partial tree behind, so parse aside.
    Json::Value parsed;
    try {
        if (!strictReader().parse(text.data(), text.data() + text.size(), &parsed, nullptr)) {
            return false;
        }
    } catch (const Json::Exception&) {
        return false;
    }
    // A name repeated within an object leaves fewer members than colons.
    if (!parsed.isObject() || memberCount(parsed) != members) {
        return false;
    }
    if (m_params.empty()) {
        m_params.swap(parsed); // the common case: no look-ups at all
        return true;
    }
    for (auto it = parsed.begin(); it != parsed.end(); ++it) {
        entryFor(m_params, memberName(it)) = std::move(*it);
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
        entryFor(m_params, memberName(it)) = *it;
    }
}

Json::Value::const_iterator CParameters::find(const std::string& name) const
{
    // jsoncpp offers no iterator for a name: find the value in logarithmic
    // time, then walk to the entry that holds it, comparing addresses.
    const Json::Value* const value = m_params.find(name.data(), name.data() + name.size());
    if (value == nullptr) {
        return m_params.end();
    }
    auto it = m_params.begin();
    while (&*it != value) {
        ++it;
    }
    return it;
}

int CParameters::getParamAsInt(const std::string& name, int defaultValue) const
{
    const Json::Value* const value = m_params.find(name.data(), name.data() + name.size());
    if (value == nullptr) {
        return defaultValue;
    }
    if (value->isInt()) {
        return value->asInt();
    }
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!value->getString(&begin, &end)) {
        return defaultValue;
    }
    std::string_view digits(begin, static_cast<std::size_t>(end - begin));
    // from_chars takes a minus but no plus; a plus directly before a digit
    // is dropped so that "+-5" still fails.
    if (digits.size() > 1 && digits[0] == '+' && digits[1] >= '0' && digits[1] <= '9') {
        digits.remove_prefix(1);
    }
    int number = 0;
    const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && stop == digits.data() + digits.size() ? number : defaultValue;
}

void CParameters::print() const
{
    for (auto it = m_params.begin(); it != m_params.end(); ++it) {
        std::cout << memberName(it) << " = " << compactJSON(*it) << '\n';
    }
    std::cout.flush();
}
