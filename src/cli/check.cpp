// SPDX-License-Identifier: MIT
// cparameters check FILE...
#include "Tool.h"

#include <algorithm>

namespace cli {

int check(const Args& args, const Options& options)
{
    if (args.empty()) {
        return usage("check takes FILE...");
    }
    int status = done;
    for (const std::string& file : args) {
        View view;
        int checked = load(options, file, false, view);
        std::vector<CParameterSchema::Violation> violations;
        CParameters::TextError error;
        if (checked == done && view.declared && view.schema.checkJSONFile(file, violations, error)) {
            // Read again, now keeping where each value stands in the text.
            for (const CParameterSchema::Violation& violation : violations) {
                say(file + ':' + std::to_string(violation.line) + ':' + std::to_string(violation.column) + ": " +
                    violation.reason);
                checked = rejected;
            }
        }
        status = std::max(status, checked);
    }
    return status;
}

} // namespace cli
