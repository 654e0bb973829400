// SPDX-License-Identifier: MIT
#include "Layers.h"

#include <string_view>
#include <utility>

#include "ErrorRecord.h"
#include "JsonFile.h"
#include "JsonReader.h"
#include "JsoncppAdapters.h"

namespace {

// Loads the file at path into values, as loadJSONFile() does, or only its
// entry \p only when that is not null.
bool load(CParameters& values, const std::string& path, const std::string* only, CParameters::TextError& error)
{
    if (only == nullptr) {
        return values.loadJSONFile(path, error);
    }
    std::string text;
    if (!cparameters::readFile(path, text, error)) {
        return false;
    }
    const std::string_view name(*only);
    Json::Value root;
    cparameters::Rejection rejection;
    bool read = cparameters::allocating(
        [&] { return cparameters::readJSON(text, CParameters::maxJSONDepth, root, rejection, &name); });
    if (!read) {
        // A fault, or names out of order (a file not written by a save):
        // the whole reading says which, and where.
        CParameters all;
        if (!all.deSerialiseAsJSON(text, error)) {
            return false;
        }
        root = all.getParam(*only);
        read = all.exists(*only);
    } else {
        const Json::Value* const value = cparameters::findMember(root, name);
        read = value != nullptr;
        root = read ? Json::Value(*value) : Json::Value();
    }
    if (read) {
        values.setParam(*only, root);
    }
    cparameters::setRecord(error, 0, 0, 0, std::string(), 0);
    return true;
}

} // namespace

CParameterLayers::CParameterLayers(const std::string& deviceOrigin) : m_deviceOrigin(deviceOrigin) {}

void CParameterLayers::addLayer(const std::string& origin, const CParameters& values)
{
    m_layers.emplace_back(origin, values); // all or nothing, as push_back is
}

bool CParameterLayers::loadLayer(const std::string& path, CParameters::TextError& error, const std::string* only)
{
    // Moved in, not copied: a defaults file can be as large as the device's.
    CParameters values;
    if (!load(values, path, only, error)) {
        return false;
    }
    m_layers.emplace_back(path, std::move(values));
    return true;
}

bool CParameterLayers::loadDevice(const std::string& path, CParameters::TextError& error, const std::string* only)
{
    return load(m_device, path, only, error);
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
