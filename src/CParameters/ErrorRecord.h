// SPDX-License-Identifier: MIT
// Filling the caller's CParameters::TextError. A program built against an
// older header passes a shorter record (its size says how long), so only
// the members that lie within it are written. Internal to the library.
#ifndef CPARAMETERS_ERRORRECORD_H
#define CPARAMETERS_ERRORRECORD_H

#include "CParameters.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace cparameters {

// Whether member lies within the record as its caller knows it.
template <typename Member> bool reaches(const CParameters::TextError& error, const Member& member)
{
    const char* const record = reinterpret_cast<const char*>(&error);
    return static_cast<std::size_t>(reinterpret_cast<const char*>(&member + 1) - record) <= error.size;
}

// Sets every member the record reaches: where (all 0 for faults at no place
// in a text), why (empty on success), and the system's error number (0 but
// for a failed system call).
// Out of line (one copy shared by every caller in the library).
[[gnu::noinline]] inline void setRecord(CParameters::TextError& error, std::size_t offset, std::size_t line, std::size_t column,
                      std::string reason, int systemError)
{
    if (reaches(error, error.offset)) {
        error.offset = offset;
    }
    if (reaches(error, error.line)) {
        error.line = line;
    }
    if (reaches(error, error.column)) {
        error.column = column;
    }
    if (reaches(error, error.reason)) {
        error.reason = std::move(reason);
    }
    if (reaches(error, error.systemError)) {
        error.systemError = systemError;
    }
}

// Sets the record for a fault at offset in text: its line and column, from
// 1 (the column in bytes), and why.
[[gnu::noinline]] inline void setRecordAt(CParameters::TextError& error, std::string_view text, std::size_t offset, std::string reason)
{
    const std::string_view before = text.substr(0, offset);
    const std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    const std::size_t column = offset - (before.rfind('\n') + 1) + 1; // npos + 1 is 0
    setRecord(error, offset, line, column, std::move(reason), 0);
}

// Rethrows the exception being handled, jsoncpp's report of a failed malloc
// as std::bad_alloc (the library's promise for a shortage of memory). Out of
// line and shared: each guarded operation then holds one catch-all handler
// that calls it, not its own copy of the type tests.
[[noreturn]] void rethrowAllocationFailure();

// operation(), with jsoncpp's allocation failures turned into std::bad_alloc.
template <typename Operation> auto guardAllocation(Operation operation) -> decltype(operation())
{
    try {
        return operation();
    } catch (...) {
        rethrowAllocationFailure();
    }
}

} // namespace cparameters

#endif
