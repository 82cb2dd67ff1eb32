#pragma once

#include <exception>
#include <string>

#include "api/documents.h"

namespace orbv {

// The C boundary: no exception may reach the host. The body's exceptions (the readers'
// orbv::Error, a matrix or allocation failure, anything else) go to on_error(text), which
// reports the operation's x9999 document. Should reporting itself throw (no memory left), the
// call just returns 0.
template <class Body, class OnError>
auto run_guarded(Body&& body, OnError&& on_error) noexcept -> decltype(body()) {
    try {
        try {
            return body();
        } catch (const std::exception& e) {
            return on_error(e.what());
        } catch (...) {
            return on_error("unknown exception");
        }
    } catch (...) {
        return 0;
    }
}

// The x9999 answer after a thrown error: -1 when a callback was told, else 0.
template <class MakeDocument>
int report_thrown(ProgressCallback callback, MakeDocument&& make_document) {
    if (callback == nullptr) return 0;
    deliver(callback, STATE_FAILED, make_document());
    return -1;
}

}  // namespace orbv
