// SPDX-License-Identifier: MIT
#ifndef CPARAMETERS_LAYERS_H
#define CPARAMETERS_LAYERS_H

#include "CParameters.h"
#include "Schema.h"

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

/**
 * Parameters in layers: any number of read-only layers (a schema's
 * defaults, a firmware image's defaults file, a factory partition's file,
 * ...), each a container with an origin label, under one writable device
 * layer, the only one ever changed or saved.
 *
 * Reads see the merged view: a name has the value of the highest layer that
 * holds it, the device layer highest of all. Values are merged whole per
 * name, never member by member (docs/layers.md says why), and a device value
 * of null is a value like any other, not a removal.
 *
 * Changes touch the device layer only and never copy a value from below
 * into it, so that a new firmware's defaults take effect wherever the
 * device has not set its own: setParam() stores there (also a value equal
 * to the default: setting a name pins it), reset() takes a name out of it
 * (the name reads its default again), resetAll() empties it.
 *
 * With a schema (setSchema()), its defaults are the lowest layer, every
 * layer is checked value by value where it is read, and check() says how
 * the layers and their merged view break it.
 *
 * Error policy: as the container's. No operation throws for bad input;
 * only std::bad_alloc passes through, and the operation it interrupts
 * leaves the layers as they were.
 *
 * The header is C++11; the operations live in libCParameters.so.0.
 */
class CPARAMETERS_API CParameterLayers {
public:
    /// No read-only layer; an empty device layer labelled \p deviceOrigin
    /// (what origin() names for its values: the device file's path, say).
    explicit CParameterLayers(const std::string& deviceOrigin = "device");

    /**
     * Declares the parameters: the schema's defaults become the lowest
     * layer, labelled "schema", and each file that loadLayer() and
     * loadDevice() read afterwards is checked against it value by value.
     * Once, before anything is loaded.
     */
    void setSchema(const CParameterSchema& schema);

    /// Puts a copy of \p values on top of the read-only layers (below the
    /// device layer), labelled \p origin ("schema", a file's path, ...).
    void addLayer(const std::string& origin, const CParameters& values);

    /**
     * Reads the file at \p path as loadJSONFile() does and puts it on top
     * of the read-only layers, labelled by its path.
     * \param only When not null, only the entry of that name is kept: the
     *        file is still read and checked whole, but the others are
     *        dropped as they are read, which costs a fraction of keeping
     *        them. For a program that reads one name of large files and
     *        saves nothing.
     * \return false, adding nothing, where loadJSONFile() fails (\p error
     *         says why; systemError ENOENT for a missing file). A file with
     *         values that break the schema is added all the same: check()
     *         says where.
     */
    bool loadLayer(const std::string& path, CParameters::TextError& error, const std::string* only = 0);

    /// Merges the file at \p path into the device layer as loadJSONFile()
    /// does; false, changing nothing, where loadJSONFile() fails. \p only
    /// as for loadLayer(): a device layer loaded so must not be saved.
    bool loadDevice(const std::string& path, CParameters::TextError& error, const std::string* only = 0);

    /// The device layer: what a save writes, and only what was set on the
    /// device.
    const CParameters& device() const { return m_device; }

    /// The device layer to change in place (by a patch, say): as every
    /// change, it touches no other layer.
    CParameters& device() { return m_device; }

    /// A way in which the layers break the schema, and where.
    struct Violation {
        std::string origin; ///< the layer's label; the device's for the merged view
        CParameterSchema::Violation violation; ///< line and column in that file, where read from one
    };

    /**
     * Every way in which the layers break the schema: each read-only layer's
     * values as they were read, the device layer's as they are now (each at
     * its place in the file where it was read from there), then the merged
     * view's own: a required name that no layer holds. Empty without a
     * schema. After a load with \p only the view is partial: each file's
     * values are reported as they were read, and the merged view's own
     * check is left out.
     */
    std::vector<Violation> check() const;

    /// The label of the device layer's values.
    const std::string& deviceOrigin() const { return m_deviceOrigin; }

    /// The read-only layers, lowest first, each with its label.
    const std::vector<std::pair<std::string, CParameters> >& layers() const { return m_layers; }

    /// The merged view as one container (a copy: for walking every name).
    CParameters merged() const;

    /// The label of the layer whose value \p name has; empty when no layer
    /// holds it.
    std::string origin(const std::string& name) const;

    /**
     * What the device layer changes against the layers below: each of its
     * entries whose name they do not hold or hold with another value
     * (jsoncpp's ==: same type and value, so 1 and 1.0 differ). A device
     * value equal to its default is no change, although it stays pinned
     * there (origin() names the device for it).
     */
    CParameters changes() const;

    /// The merged view's reads, as the container's of the same name.
    bool exists(const std::string& name) const { return holder(name).exists(name); }
    const Json::Value& getParam(const std::string& name) const { return holder(name).getParam(name); }
    std::string getParamAsString(const std::string& name, const std::string& defaultValue) const
    {
        return holder(name).getParamAsString(name, defaultValue);
    }
    int getParamAsInt(const std::string& name, int defaultValue) const
    {
        return holder(name).getParamAsInt(name, defaultValue);
    }
    std::int64_t getParamAsInt64(const std::string& name, std::int64_t defaultValue) const
    {
        return holder(name).getParamAsInt64(name, defaultValue);
    }
    double getParamAsDouble(const std::string& name, double defaultValue) const
    {
        return holder(name).getParamAsDouble(name, defaultValue);
    }
    bool getParamAsBool(const std::string& name, bool defaultValue) const
    {
        return holder(name).getParamAsBool(name, defaultValue);
    }

    /// Stores \p value in the device layer, as the container's setParam().
    void setParam(const std::string& name, const Json::Value& value) { m_device.setParam(name, value); }
    void setParam(const std::string& name, const char* value) { m_device.setParam(name, value); }

    /// Merges \p values into the device layer, as the container's append().
    void append(const CParameters& values) { m_device.append(values); }

    /// Takes \p name out of the device layer; says whether it was there.
    bool reset(const std::string& name) { return m_device.removeParam(name); }

    /// Empties the device layer.
    void resetAll() { m_device = CParameters(); }

private:
    // The highest layer that holds name, or the device layer when none does
    // (whose reads then answer as for an absent name).
    const CParameters& holder(const std::string& name) const;
    // The index of the highest read-only layer holding name; -1 for none.
    std::ptrdiff_t below(const std::string& name) const;

    // Reads the file at path into values (which must be empty); with a
    // schema, each value is checked, and the violations of the file's values
    // are kept, each at its place, in m_read under origin.
    bool read(const std::string& path, const std::string* only, CParameters& values,
              CParameters::TextError& error);

    std::vector<std::pair<std::string, CParameters> > m_layers;
    CParameters m_device;
    std::string m_deviceOrigin;
    std::shared_ptr<const CParameterSchema> m_schema;
    std::vector<Violation> m_read; // each layer's violations as it was read
    bool m_partial;                // some file was read with only
};

#endif
