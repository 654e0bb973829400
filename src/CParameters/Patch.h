// SPDX-License-Identifier: MIT
#ifndef CPARAMETERS_PATCH_H
#define CPARAMETERS_PATCH_H

#include "CParameters.h"

#include <string>

/**
 * JSON Pointer (RFC 6901), JSON Merge Patch (RFC 7396) and JSON Patch
 * (RFC 6902) on a container, whose object is the document's root: the
 * pointer "/net/mtu" is member "mtu" of parameter "net", and "" is the whole
 * container. docs/patch.md says where the RFCs' text was read strictly.
 *
 * Error policy: as the container's. No operation throws for bad input; each
 * change is all or nothing: false (with the reason in \p error) or
 * std::bad_alloc leaves the container exactly as it was. The root stays an
 * object: a change that would make it anything else is rejected. No change
 * nests values deeper than CParameters::maxJSONDepth.
 */
class CPARAMETERS_API CParameterPatch {
public:
    /// Whether \p pointer is an RFC 6901 pointer: empty, or "/" tokens
    /// in which "~" is followed only by 0 or 1. Else \p error says why.
    static bool checkPointer(const std::string& pointer, CParameters::TextError& error);

    /// Copies the value \p pointer designates into \p value; false, \p value
    /// untouched, when there is none or the pointer is malformed. An array
    /// index is digits without leading zeros; "-" designates no value.
    static bool find(const CParameters& parameters, const std::string& pointer, Json::Value& value);

    /// The value \p pointer designates, or \p defaultValue as find() fails.
    static Json::Value get(const CParameters& parameters, const std::string& pointer,
                           const Json::Value& defaultValue);

    /**
     * Stores a copy of \p value where \p pointer designates: an object's
     * member is added or replaced; an array's element (an index below its
     * size) is replaced, and "-" appends. The parent must exist, unless
     * \p createParents: then each missing member on the way is created as
     * an empty object (never an array, and never inside an array).
     * "" replaces the whole container with \p value, which must be an object.
     */
    static bool set(CParameters& parameters, const std::string& pointer, const Json::Value& value,
                    bool createParents, CParameters::TextError& error);

    /// Removes the value \p pointer designates, which must exist; "" is
    /// rejected, as the container itself cannot go.
    static bool remove(CParameters& parameters, const std::string& pointer, CParameters::TextError& error);

    /**
     * Applies an RFC 7396 merge patch: objects merge member by member, null
     * removes, any other value replaces. \p patch must be an object (a
     * non-object would replace the whole container).
     */
    static bool mergePatch(CParameters& parameters, const Json::Value& patch, CParameters::TextError& error);

    /// mergePatch() of a text, read by the container's strict reader
    /// whatever its root (a fault in the text reported with its line and
    /// column, as deSerialiseAsJSON() reports it).
    static bool mergePatchText(CParameters& parameters, const std::string& text, CParameters::TextError& error);

    /**
     * Applies an RFC 6902 patch, an array of operations (add, remove,
     * replace, move, copy, test), in order, all or nothing. The reason of a
     * rejection names the operation by its index from 0 and its op:
     * "operation 3 (test): not the value at \"/a\"". Unknown members of an
     * operation are ignored; a missing required one rejects the patch.
     */
    static bool jsonPatch(CParameters& parameters, const Json::Value& patch, CParameters::TextError& error);

    /// jsonPatch() of a text, read by the container's strict reader
    /// (duplicate names rejected, and so on), whatever its root; its array
    /// and operation objects are two levels more than maxJSONDepth allows.
    static bool jsonPatchText(CParameters& parameters, const std::string& text, CParameters::TextError& error);
};

#endif
