// The boundary of every export: the callers are C programs and programs of
// other compilers, which an exception would abort. Whatever a call throws
// becomes that call's failure answer and a line on standard error.
#pragma once

#include <exception>
#include <type_traits>

namespace tarvpcan3 {

// "tarvpcan3: <export>: <reason>" on standard error.
void reportExportFailure(const char *exportName, const char *reason) noexcept;

// Runs an export's body. failure is the answer when the body throws: a value,
// or a function that writes the failure into the caller's buffers and gives
// the answer.
template <typename Failure, typename Body>
auto guardExport(const char *exportName, Failure &&failure, Body &&body) noexcept -> decltype(body())
{
    try {
        return body();
    } catch (const std::exception &error) {
        reportExportFailure(exportName, error.what());
    } catch (...) {
        reportExportFailure(exportName, "unknown exception");
    }
    if constexpr (std::is_invocable_v<Failure>)
        return failure();
    else
        return failure;
}

} // namespace tarvpcan3
