// SPDX-License-Identifier: MIT
#include "Layers.h"

#include <utility>

CParameterLayers::CParameterLayers(const std::string& deviceOrigin) : m_deviceOrigin(deviceOrigin) {}

void CParameterLayers::addLayer(const std::string& origin, const CParameters& values)
{
    m_layers.emplace_back(origin, values); // all or nothing, as push_back is
}

bool CParameterLayers::loadLayer(const std::string& path, CParameters::TextError& error)
{
    // Moved in, not copied: a defaults file can be as large as the device's.
    CParameters values;
    if (!values.loadJSONFile(path, error)) {
        return false;
    }
    m_layers.emplace_back(path, std::move(values));
    return true;
}

bool CParameterLayers::loadDevice(const std::string& path, CParameters::TextError& error)
{
    return m_device.loadJSONFile(path, error);
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
