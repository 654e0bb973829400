// SPDX-License-Identifier: MIT
#include "Layers.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "ErrorRecord.h"
#include "JsonReader.h"
#include "JsoncppAdapters.h"

namespace {

using Found = std::vector<CParameterSchema::Violation>;

// The violations of each value of values, one by one (a layer holds only
// some of the names, so whether required ones are there is a matter of the
// merged view).
Found checkValues(const CParameterSchema& schema, const CParameters& values)
{
    Found found;
    for (auto it = values.begin(); it != values.end(); ++it) {
        Found one = schema.checkParam(CParameters::getKey(it), *it);
        found.insert(found.end(), one.begin(), one.end());
    }
    return found;
}

bool same(const CParameterSchema::Violation& a, const CParameterSchema::Violation& b)
{
    return a.pointer == b.pointer && a.keyword == b.keyword && a.reason == b.reason;
}

} // namespace

CParameterLayers::CParameterLayers(const std::string& deviceOrigin) : m_deviceOrigin(deviceOrigin), m_partial(false) {}

void CParameterLayers::setSchema(const CParameterSchema& schema)
{
    std::shared_ptr<const CParameterSchema> kept = std::make_shared<const CParameterSchema>(schema);
    m_layers.insert(m_layers.begin(), std::make_pair(std::string("schema"), schema.defaults()));
    m_schema.swap(kept);
}

void CParameterLayers::addLayer(const std::string& origin, const CParameters& values)
{
    m_layers.emplace_back(origin, values); // all or nothing, as push_back is
}

bool CParameterLayers::read(const std::string& path, const std::string* only, CParameters& values,
                            CParameters::TextError& error)
{
    std::string text;
    if (!cparameters::readTextFile(path, text, error)) {
        return false;
    }
    CParameters all;
    if (only != nullptr) {
        // Only one name kept, the others checked and dropped as they are read.
        cparameters::RootFilter filter{*only, nullptr};
        if (m_schema) {
            const CParameterSchema& schema = *m_schema;
            filter.each = [&schema](std::string_view name, const Json::Value& value) {
                return schema.checkParam(std::string(name), value).empty();
            };
        }
        Json::Value root;
        cparameters::Rejection rejection;
        if (cparameters::allocating([&] {
                return cparameters::readJSON(text, CParameters::maxJSONDepth, root, rejection, false, &filter);
            })) {
            if (const Json::Value* const value = cparameters::findMember(root, filter.keep)) {
                all.setParam(*only, *value);
            }
            cparameters::setRecord(error, 0, 0, 0, std::string(), 0);
            values.append(all); // one entry at most
            m_partial = true;
            return true;
        }
        // A fault, names out of order (a file no save wrote) or a value
        // the schema refuses: the whole reading says which, and where.
    }
    if (!all.deSerialiseAsJSON(text, error)) {
        return false;
    }
    const Found found = m_schema ? checkValues(*m_schema, all) : Found();
    if (!found.empty()) {
        // Read once more, now keeping each value's place in the text, in
        // the order a check of the file gives.
        Found placed;
        CParameters::TextError ignored;
        m_schema->checkJSON(text, placed, ignored);
        for (const CParameterSchema::Violation& at : placed) {
            if (std::any_of(found.begin(), found.end(), [&](const auto& one) { return same(one, at); })) {
                m_read.push_back({path, at});
            }
        }
    }
    if (only != nullptr) {
        CParameters one;
        if (all.exists(*only)) {
            one.setParam(*only, all.getParam(*only));
        }
        all = one;
        m_partial = true;
    }
    if (values.begin() == values.end()) {
        values = std::move(all); // as large as the file: moved, not copied
    } else {
        values.append(all);
    }
    return true;
}

bool CParameterLayers::loadLayer(const std::string& path, CParameters::TextError& error, const std::string* only)
{
    CParameters values;
    if (!read(path, only, values, error)) {
        return false;
    }
    m_layers.emplace_back(path, std::move(values)); // moved in, not copied
    return true;
}

bool CParameterLayers::loadDevice(const std::string& path, CParameters::TextError& error, const std::string* only)
{
    return read(path, only, m_device, error);
}

std::vector<CParameterLayers::Violation> CParameterLayers::check() const
{
    std::vector<Violation> result;
    if (!m_schema) {
        return result;
    }
    for (const Violation& read : m_read) {
        if (read.origin != m_deviceOrigin || m_partial) {
            result.push_back(read);
        }
    }
    if (m_partial) {
        return result; // as read: a partial view is for reading one name
    }
    // The device layer as it is now: what was read from the file and is
    // still there first, at its place, then what a change brought.
    const Found now = checkValues(*m_schema, m_device);
    const auto in = [](const Found& found, const CParameterSchema::Violation& violation) {
        return std::any_of(found.begin(), found.end(), [&](const auto& one) { return same(one, violation); });
    };
    Found before;
    for (const Violation& read : m_read) {
        if (read.origin == m_deviceOrigin && in(now, read.violation)) {
            result.push_back(read);
            before.push_back(read.violation);
        }
    }
    for (const CParameterSchema::Violation& violation : now) {
        if (!in(before, violation)) {
            result.push_back({m_deviceOrigin, violation});
        }
    }
    // The merged view's values are each some layer's, checked above: what is
    // left is the root object's own (a required name absent).
    for (const CParameterSchema::Violation& violation : m_schema->check(merged())) {
        if (violation.pointer.empty()) {
            result.push_back({m_deviceOrigin, violation});
        }
    }
    return result;
}

std::ptrdiff_t CParameterLayers::below(const std::string& name) const
{
    std::ptrdiff_t i = static_cast<std::ptrdiff_t>(m_layers.size());
    while (--i >= 0 && !m_layers[static_cast<std::size_t>(i)].second.exists(name)) {
    }
    return i;
}

const CParameters& CParameterLayers::holder(const std::string& name) const
{
    if (m_device.exists(name)) {
        return m_device;
    }
    const std::ptrdiff_t i = below(name);
    return i < 0 ? m_device : m_layers[static_cast<std::size_t>(i)].second;
}

CParameters CParameterLayers::merged() const
{
    CParameters view;
    for (const auto& layer : m_layers) {
        view.append(layer.second);
    }
    view.append(m_device);
    return view;
}

std::string CParameterLayers::origin(const std::string& name) const
{
    if (m_device.exists(name)) {
        return m_deviceOrigin;
    }
    const std::ptrdiff_t i = below(name);
    return i < 0 ? std::string() : m_layers[static_cast<std::size_t>(i)].first;
}

CParameters CParameterLayers::changes() const
{
    CParameters changed;
    for (auto it = m_device.begin(); it != m_device.end(); ++it) {
        const std::string name = CParameters::getKey(it);
        const std::ptrdiff_t i = below(name);
        if (i < 0 || m_layers[static_cast<std::size_t>(i)].second.getParam(name) != *it) {
            changed.setParam(name, *it);
        }
    }
    return changed;
}
