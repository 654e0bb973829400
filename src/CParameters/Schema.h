// SPDX-License-Identifier: MIT
#ifndef CPARAMETERS_SCHEMA_H
#define CPARAMETERS_SCHEMA_H

#include "CParameters.h"

#include <json/json.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

/**
 * Declared parameters: a JSON Schema (draft 2020-12) of the parameter
 * object, in the subset that docs/schema.md lists, checked against a
 * container, a single value, or the values a write brings in.
 *
 * The subset: type, enum, const, minimum, maximum, exclusiveMinimum,
 * exclusiveMaximum, multipleOf, minLength, maxLength (in code points),
 * items, minItems, maxItems, uniqueItems, properties, required,
 * additionalProperties, boolean schemas, and the annotations default,
 * description, title, examples, readOnly, deprecated, $schema (only the
 * 2020-12 URI), $id, $comment. Any other keyword, and a keyword whose value
 * the standard's meta-schema does not allow, is rejected when the schema is
 * read, at its place: nothing the checker does not enforce can be believed
 * to hold.
 *
 * Error policy: as the container's. No operation throws for bad input;
 * only std::bad_alloc passes through, and then the container and the schema
 * are as they were. A rejected schema text leaves the schema as it was.
 *
 * The header is C++11; the operations live in libCParameters.so.0.
 */
class CPARAMETERS_API CParameterSchema {
public:
    /// One way in which a value breaks the schema.
    struct Violation {
        Violation() : line(0), column(0) {}

        /// The top-level parameter concerned: the one holding the value,
        /// or for a root-level "required" the missing one; empty for a
        /// violation of the root value itself.
        std::string name;
        /// RFC 6901 pointer into the parameter object to the offending
        /// value: "/port", "/net/mask", "/list/0"; for "required" the
        /// object that lacks the member, for "additionalProperties" the
        /// member not allowed.
        std::string pointer;
        /// The keyword broken: "maximum", "type", "required", ...; the
        /// keyword that led to it ("properties", "items",
        /// "additionalProperties") when the schema there is false.
        std::string keyword;
        /// The pointer's place in the label and what is wrong:
        /// "port: 70000 is above the maximum 65535".
        std::string reason;
        /// Where the offending value starts in a checked text, counting
        /// from 1 (the column in bytes); 0 when not checked from a text.
        std::size_t line;
        std::size_t column;
    };

    /// The schema true: every container conforms, nothing has a default.
    CParameterSchema();
    ~CParameterSchema();
    CParameterSchema(const CParameterSchema& other);
    CParameterSchema& operator=(const CParameterSchema& other);

    /**
     * Reads a schema from JSON text, as strictly as deSerialiseAsJSON()
     * reads (same messages, and the root must be an object), and replaces
     * this schema with it.
     * \return false, this schema unchanged, for a text the reader rejects,
     *         a keyword outside the subset ("unsupported keyword
     *         \"pattern\""), or a keyword's value the standard does not
     *         allow ("minimum must be a number"); \p error then says where.
     */
    bool load(const std::string& text, CParameters::TextError& error);

    /// load() from the file at \p path, read as loadJSONFile() reads files
    /// (regular files only, the same system-error reasons).
    bool loadFile(const std::string& path, CParameters::TextError& error);

    /// Every violation of the container, depth first in the order of its
    /// names, each object's missing "required" members after its own;
    /// empty when it conforms.
    std::vector<Violation> check(const CParameters& parameters) const;

    /// Every violation of \p instance, any JSON value, against the root
    /// schema (pointers relative to it).
    std::vector<Violation> checkValue(const Json::Value& instance) const;

    /// Every violation of \p value if it were the parameter \p name: against
    /// its property's schema, or additionalProperties when it has none.
    std::vector<Violation> checkParam(const std::string& name, const Json::Value& value) const;

    /**
     * Reads a parameter file's text as deSerialiseAsJSON() does and checks
     * it as check() does, each violation with its line and column in the
     * text ("required" at the object's '{', "additionalProperties" at the
     * member's name).
     * \return false for a text the reader rejects (\p error says where,
     *         \p violations empty); else true, \p violations filled.
     */
    bool checkJSON(const std::string& text, std::vector<Violation>& violations, CParameters::TextError& error) const;

    /// checkJSON() of the file at \p path, read as loadJSONFile() reads.
    bool checkJSONFile(const std::string& path, std::vector<Violation>& violations,
                       CParameters::TextError& error) const;

    /// Whether the top-level property \p name is marked "readOnly": true.
    bool readOnly(const std::string& name) const;

    /// The top-level properties' "default" values, as a container. A default
    /// is not checked against its own schema (the standard asks none).
    CParameters defaults() const;

    /**
     * Checked writes: the container's operation of the same name, refused
     * whole when a value it would store violates the schema. Each value
     * written is checked as checkParam() checks it; "required" is a matter of
     * the whole container (check()), as no write removes a name.
     * \return false, the container unchanged, when the text is rejected
     *         (\p error says why, \p violations empty) or a value violates
     *         the schema (\p violations lists every violation, \p error is
     *         cleared); true when the change is made.
     */
    bool setParam(CParameters& parameters, const std::string& name, const Json::Value& value,
                  std::vector<Violation>& violations) const;
    /// A text stored as a JSON string; a null \p value stores nothing (false,
    /// no violation).
    bool setParam(CParameters& parameters, const std::string& name, const char* value,
                  std::vector<Violation>& violations) const;
    bool deSerialise(CParameters& parameters, const std::string& text, const std::string& nameValueSeparator,
                     const std::string& entrySeparator, CParameters::TextError& error,
                     std::vector<Violation>& violations) const;
    bool deSerialiseAsJSON(CParameters& parameters, const std::string& text, CParameters::TextError& error,
                           std::vector<Violation>& violations) const;
    bool loadJSONFile(CParameters& parameters, const std::string& path, CParameters::TextError& error,
                      std::vector<Violation>& violations) const;
    bool append(CParameters& parameters, const CParameters& other, std::vector<Violation>& violations) const;

private:
    struct Node;
    std::shared_ptr<const Node> m_root; // immutable once read, so copies share it
};

#endif
